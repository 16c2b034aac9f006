// Lets the tests of the hidraw backend run it against a sysfs tree and a
// device folder that they prepare in a temporary folder. The program itself
// never calls these: it always reads /sys, opens nodes under /dev and takes
// only character devices for nodes.
#ifndef RXB540_PLATFORM_LINUX_HIDRAW_TEST_ROOTS_H
#define RXB540_PLATFORM_LINUX_HIDRAW_TEST_ROOTS_H

#include <sys/stat.h>

// Points the backend at sysfsRoot (in place of /sys) and deviceRoot (in place
// of /dev) for every later call. A null argument restores its default.
void SetHidrawRootsForTests(const char *sysfsRoot, const char *deviceRoot);

// Gives the device number that a regular file standing in for a node carries
// (the file as stat describes it); false for a file that stands in for none.
typedef bool (*HidrawStandInNumber)(const struct stat &file, unsigned *major, unsigned *minor);

// Lets regular files stand in for character device nodes, with the numbers
// that numberOf gives them; null (the default) takes character devices only.
void SetHidrawStandInsForTests(HidrawStandInNumber numberOf);

#endif  // RXB540_PLATFORM_LINUX_HIDRAW_TEST_ROOTS_H

// Lets the tests of the hidraw backend run it against a sysfs tree and a
// device folder that they prepare in a temporary folder. The program itself
// never calls this: it always reads /sys and opens nodes under /dev.
#ifndef RXB540_PLATFORM_LINUX_HIDRAW_TEST_ROOTS_H
#define RXB540_PLATFORM_LINUX_HIDRAW_TEST_ROOTS_H

// Points the backend at sysfsRoot (in place of /sys) and deviceRoot (in place
// of /dev) for every later call. A null argument restores its default.
void SetHidrawRootsForTests(const char *sysfsRoot, const char *deviceRoot);

#endif  // RXB540_PLATFORM_LINUX_HIDRAW_TEST_ROOTS_H

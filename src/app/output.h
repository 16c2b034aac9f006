// What the command line prints beyond its fixed texts: listed serial numbers
// and the system's reason for a failed device list.
#ifndef RXB540_APP_OUTPUT_H
#define RXB540_APP_OUTPUT_H

// Prints one listed serial number as one line on standard output. Control
// bytes would let a device break the listing into several lines or rewrite
// the terminal, so they are shown as '?'. That includes the C1 range
// 0x80-0x9F, where 0x9B is the 8-bit form of the terminal's escape sequence
// introducer (CSI). Selection still uses the exact bytes.
void PrintListedSerial(const char *serial);

// The reason for a result: the library's text, or for a device list that
// could not be made, the system's reason that the library left behind.
// Read it before anything else can change errno (GetLastError() on Windows).
const char *ResultReason(int code);

#endif  // RXB540_APP_OUTPUT_H

// `brisvane --list`: the serial devices present, one per line. First the
// stable names under /dev/serial/by-id with the device each points to, then
// the other ttyUSB, ttyACM and ttyS devices that answer as terminals.
#ifndef BRISVANE_CONSOLE_DEVICE_LIST_H
#define BRISVANE_CONSOLE_DEVICE_LIST_H

#include <cstdio>

// Prints the list to `out`; an empty list is no error.
void ListSerialDevices(FILE* out);

#endif

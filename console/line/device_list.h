// `brisvane --list`: the serial devices present, each with what is known of
// it (by-id and by-path names, driver, USB ids, serial number, description,
// topology), those the exclusion globs match left out.
#ifndef BRISVANE_CONSOLE_DEVICE_LIST_H
#define BRISVANE_CONSOLE_DEVICE_LIST_H

#include <cstdio>
#include <string>
#include <vector>

#include "console/line/serial_devices.h"

// Prints the list to `out`; an empty list is no error.
void ListSerialDevices(const DeviceRoots& roots, const std::vector<std::string>& excludes, FILE* out);

#endif

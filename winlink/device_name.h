// The device to open for a port definition such as "COM12:9600,n,8,1".
#ifndef BRISVANE_WINLINK_DEVICE_NAME_H
#define BRISVANE_WINLINK_DEVICE_NAME_H

#include <cstddef>

// Writes the text before the first colon (the whole definition if it has
// none) into `name`, prefixed with \\.\ unless it already starts with \\:
// ports above COM9 open only through that prefix, and it opens the others
// too. Returns false, leaving `name` empty, when the name does not fit in
// `capacity` bytes or is empty.
bool DeviceNameFromDefinition(const char* definition, char* name, size_t capacity);

#endif

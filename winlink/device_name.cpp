#include "winlink/device_name.h"

bool DeviceNameFromDefinition(const char* definition, char* name, size_t capacity) {
    if (capacity == 0) return false;
    name[0] = '\0';
    size_t length = 0;
    while (definition[length] != '\0' && definition[length] != ':') ++length;
    if (length == 0) return false;
    const bool hasPrefix = definition[0] == '\\' && definition[1] == '\\';
    const char* prefix = hasPrefix ? "" : "\\\\.\\";
    size_t prefixLength = hasPrefix ? 0 : 4;
    if (prefixLength + length + 1 > capacity) return false;
    size_t out = 0;
    for (size_t i = 0; i < prefixLength; ++i) name[out++] = prefix[i];
    for (size_t i = 0; i < length; ++i) name[out++] = definition[i];
    name[out] = '\0';
    return true;
}

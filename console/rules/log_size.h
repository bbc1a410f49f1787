// The values of --log-max SIZE and --log-keep N, the bounds of log rotation
// (console/features/log_rotation.h).
#ifndef BRISVANE_CONSOLE_LOG_SIZE_H
#define BRISVANE_CONSOLE_LOG_SIZE_H

#include <cstdint>

const unsigned LogKeepMax = 999;
const unsigned LogKeepDefault = 5;

// "4096", "64K", "10M", "2G" (binary units, K = 1024; k, m, g too) into
// bytes. False with a short `problem` for anything else, for 0, or for
// less than 1K (a file per block would be no log).
bool ParseLogSize(const char* text, uint64_t* bytes, const char** problem);
// "0".."999" into a count. False with a short `problem` otherwise.
bool ParseLogKeep(const char* text, unsigned* keep, const char** problem);

#endif

// Rotation for a log that runs for months: --log-max SIZE is the most a
// log file holds (give or take a line: a line is not cut where it need not
// be), and --log-keep N keeps N old ones, name.1 the newest, then name.2,
// and so on; the one past N is removed. The rules here are pure; the log's
// writer (features/log_file.h) does the files.
#ifndef BRISVANE_CONSOLE_LOG_ROTATION_H
#define BRISVANE_CONSOLE_LOG_ROTATION_H

#include <cstdint>

#include "console/rules/timestamp.h"

const unsigned LogKeepMax = 999;
const unsigned LogKeepDefault = 5;

struct LogRotation {
    uint64_t maxBytes = 0;  // 0: never rotate
    unsigned keep = LogKeepDefault;
};

// "4096", "64K", "10M", "2G" (binary units, K = 1024; k, m, g too) into
// bytes. False with a short `problem` for anything else, for 0, or for
// less than 1K (a file per block would be no log).
bool ParseLogSize(const char* text, uint64_t* bytes, const char** problem);
// "0".."999" into a count. False with a short `problem` otherwise.
bool ParseLogKeep(const char* text, unsigned* keep, const char** problem);

// The longest line a log writes: 4096 characters, a stamp, "< " and LF.
const unsigned LogLineMax = 4096 + StampCapacity + 3;

struct LogCut {
    unsigned write;  // bytes to write to the current file
    bool rotate;     // then start a new one
};

// Where a write of `count` bytes goes when the file holds `size` bytes
// and ends a line (`lineEnded`, true for an empty file): all of it when it
// keeps the file within maxBytes; else up to the last line end that does,
// then a new file; else (none fits) a new file first, when the file holds
// something and ends a line; else up to the end of the line it is in,
// when that end is within LogLineMax bytes past maxBytes (or all of it
// and no new file yet, when the line goes on past `count`); else cut
// there. So no file passes maxBytes by more than a line.
LogCut CutLogWrite(const LogRotation& rotation, uint64_t size, bool lineEnded, const uint8_t* bytes,
                   unsigned count);

#endif

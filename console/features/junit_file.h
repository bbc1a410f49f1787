// The --junit file: made (or emptied) when the run starts, so a place that
// cannot be written is said before anything runs, and written whole when
// the run ends. It also keeps what the document says of the run: when it
// started (local time, as CI reporters expect) and on which host.
#ifndef BRISVANE_CONSOLE_JUNIT_FILE_H
#define BRISVANE_CONSOLE_JUNIT_FILE_H

#include <cstdint>
#include <string>

#include "console/rules/options.h"

struct JunitFile {
    int fd = -1;  // -1: no file
    char path[PathCapacity] = "";
    std::string classname;  // the line's or the profile's name
    std::string timestamp;  // 2026-12-08T11:40:00
    std::string hostname;
    int64_t started = 0;  // on the monotonic clock, ms
};

// Opens `path` for writing (a regular file or /dev/null); false with
// `problem` when it cannot be.
bool OpenJunitFile(JunitFile& file, const char* path, const char* classname, char* problem,
                   unsigned capacity);

// Writes `document` and closes the file; false with `problem` when a write
// failed.
bool WriteJunitFile(JunitFile& file, const std::string& document, char* problem, unsigned capacity);

#endif

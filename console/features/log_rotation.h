// Rotation for a log that runs for months: --log-max SIZE starts a new file
// once the current one has reached SIZE, and --log-keep N keeps N old ones,
// name.1 the newest, then name.2, and so on; the one past N is removed.
//
// The log writer calls RotateIfDue after it has written out a block (never
// in the middle of one): the file is flushed and closed before any rename,
// and the new file opened at the same name, so every byte is in exactly
// one of the files and their concatenation, oldest first, is the log.
#ifndef BRISVANE_CONSOLE_LOG_ROTATION_H
#define BRISVANE_CONSOLE_LOG_ROTATION_H

#include <cstdint>

#include "console/rules/log_size.h"
#include "link/file_io_posix.h"

struct LogRotation {
    uint64_t maxBytes = 0;  // 0: never rotate
    unsigned keep = LogKeepDefault;
};

// Moves path.(keep-1) to path.keep, ..., path to path.1 (path itself is
// then gone; with keep 0 it is removed). A missing file in the chain is
// skipped. Returns 0, or the errno of the rename that failed.
int RotateLogFiles(const char* path, unsigned keep);

enum class Rotated : uint8_t {
    No,      // not due: nothing done
    Yes,     // a new, empty file is open at `path` in writer.fd
    Failed,  // the old file is closed and no new one could be had: writer.fd is -1, `problem` says why
};

// When rotation is on and the file behind writer.fd holds maxBytes or more
// (its size by fstat, after what waits is written out): closes it, rotates
// and opens `path` anew (created, appended to), counting `written` from 0.
Rotated RotateIfDue(const LogRotation& rotation, const char* path, BufferedWriter& writer, char* problem,
                    unsigned capacity);

#endif

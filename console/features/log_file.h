// A log's file: opened to append without waiting (a regular file, or
// /dev/null), made private, written through a buffer, and rotated by size.
//
// A log holds all the line said, so its files are made 0600, or 0640 with
// a group (the one group a served line's lists name), whatever the umask;
// a file of the program's own user that is there already is given that
// mode too.
//
// With --log-max the writer starts a new file where CutLogWrite says, in
// the middle of a write-out if need be: the bytes before the cut end the
// old file, which is closed and rotated (RotateLogFiles), and the rest go
// to a new file at the same name. Every byte is in exactly one file; end
// to end, oldest first, they are the log.
#ifndef BRISVANE_CONSOLE_LOG_FILE_H
#define BRISVANE_CONSOLE_LOG_FILE_H

#include <cstdint>

#include "console/rules/log_rotation.h"
#include "console/rules/options.h"
#include "console/features/plain_file.h"

struct LogFileMode {
    unsigned mode = 0600;
    int64_t group = -1;  // a group id that may read it (mode 0640), or -1
};

// Opens `path` to append (made when missing) as OpenPlainFile does, with
// `mode` set on a regular file of ours. Refused as OpenPlainFile refuses.
PlainFile OpenLogFile(const char* path, const LogFileMode& mode, bool allowNull, int* fd);

// Moves path.(keep-1) to path.keep, ..., path to path.1 (path itself is
// then gone; with keep 0 it is removed). A missing file in the chain is
// skipped. Returns 0, or the errno of the rename that failed.
int RotateLogFiles(const char* path, unsigned keep);

class LogWriter {
public:
    int fd = -1;
    int failure = 0;       // errno of a write that failed since the last Flush
    uint64_t written = 0;  // bytes the kernel took since Began
    unsigned length = 0;   // bytes waiting

    // After `fd` was opened at `path`: how its files are rotated and made.
    void Began(const char* path, const LogRotation& rotation, const LogFileMode& mode);
    void Put(uint8_t byte) {
        bytes_[length++] = byte;
        if (length == sizeof bytes_) WriteOut();
    }
    // Writes out what waits (nothing when fd is -1), rotating where due. A
    // failed write is kept in `failure`; a failed rotation leaves fd -1 and
    // the rest unwritten, with why for TakeProblem.
    void WriteOut();
    // WriteOut, then 0 or the errno of a write that failed since the last Flush.
    int Flush() {
        WriteOut();
        int result = failure;
        failure = 0;
        return result;
    }
    // Once, after a rotation failed: true with `text` saying why.
    bool TakeProblem(char* text, unsigned capacity);
    // Closes the file (what waits stays for the next) and opens `path`
    // anew: after the file was removed or renamed away. False with why in
    // `text` when it could not be made (fd is then -1).
    bool Reopen(char* text, unsigned capacity);
    // A regular file, and so one that can be removed and rotated.
    bool Regular() const { return regular_; }
    const char* Path() const { return path_; }

private:
    bool Rotate();
    bool Write(const uint8_t* bytes, unsigned count);

    char path_[PathCapacity] = "";
    LogRotation rotation_;
    LogFileMode mode_;
    bool regular_ = false;
    uint64_t size_ = 0;      // what the file holds
    bool lineEnded_ = true;  // its last byte is a LF, or it is empty
    char problem_[PathCapacity + 64] = "";
    uint8_t bytes_[65536];
};

#endif

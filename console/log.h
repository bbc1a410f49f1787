// The logs asked for on the command line, written from the first byte
// received. --log writes what arrives as a text capture does (bit 7
// cleared, Unix line ends), each line stamped, with --timestamps, with the
// local time its first byte arrived: "[2026-12-07 14:03:12.345] ".
// --log-raw writes the bytes as received. Both append to an existing file.
// The text log takes what the interpreter gets (sequences the ANSI filter
// hid are not in it); the raw log takes every byte.
// Only a regular file (or /dev/null) is taken, so opening never waits.
// Writes are buffered and flushed after each block received. A failed
// write (a full disk) ends that log, and is reported once with what the
// file holds: a log with a hole in it would pass for the host's output.
#ifndef BRISVANE_CONSOLE_LOG_H
#define BRISVANE_CONSOLE_LOG_H

#include <cstdint>
#include <ctime>

#include "console/options.h"
#include "console/plain_file.h"
#include "console/serve/log_rotation.h"
#include "console/text_rules.h"
#include "link/file_io_posix.h"

class ReceiveLog {
public:
    ~ReceiveLog();
    // Opens the logs named (empty: none). Returns Opened, or why one was not
    // opened with a one-line problem naming its option (--log, --log-raw).
    PlainFile Open(const char* textPath, const char* rawPath, bool timestamps, char* problem,
                   unsigned capacity);
    bool Active() const { return text_.writer.fd >= 0 || raw_.writer.fd >= 0; }
    // --log-max and --log-keep: each log starts a new file at its flush once it reached the size.
    void SetRotation(const LogRotation& rotation) { rotation_ = rotation; }
    // A block received at `arrived` (wall-clock time), for both logs.
    void Received(const uint8_t* bytes, unsigned count, const struct timespec& arrived) {
        ReceivedRaw(bytes, count);
        ReceivedText(bytes, count, arrived);
    }
    // The same, one log at a time.
    void ReceivedRaw(const uint8_t* bytes, unsigned count);
    void ReceivedText(const uint8_t* bytes, unsigned count, const struct timespec& arrived);
    // A script's log() text in the text log, as a line of its own.
    void Note(const char* text);
    // Writes out what waits. When a write failed, that log is closed and
    // false returned, `text` saying which log, what it holds and that the
    // rest is lost.
    bool Flush(char* text, unsigned capacity);
    // At most once every few seconds of `now` (ms): a log whose file was
    // removed or renamed away (no links left) gives true and `text`, once.
    bool CheckRemoved(int64_t now, char* text, unsigned capacity);
    // Flushes (a CR still held is written) and closes both; false with
    // `text` when a write or a close failed.
    bool Close(char* text, unsigned capacity);

private:
    struct File {
        BufferedWriter writer;
        const char* kind;  // "log", "raw log"
        char path[PathCapacity];
        bool removedReported;
    };
    void Stamp();
    bool End(File& file, char* text, unsigned capacity);

    File text_ = {{}, "log", "", false};
    File raw_ = {{}, "raw log", "", false};
    UnixLineEnds ends_;
    bool timestamps_ = false;
    bool lineBegun_ = false;  // the current line's first byte has arrived
    bool stampDue_ = true;    // nothing of the current line is written yet
    struct timespec lineArrived_ = {};
    time_t stampSecond_ = -1;  // the second whose text is in stampText_
    char stampText_[32] = "";
    int64_t nextLinkCheck_ = 0;
    LogRotation rotation_;
};

#endif

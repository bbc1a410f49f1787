// The logs asked for on the command line, written from the first byte
// received. --log writes what arrives as a text capture does (bit 7
// cleared, Unix line ends), each line stamped, with --timestamps, with the
// local time its first byte arrived: "[2026-12-07 14:03:12.345] ".
// --log-raw writes the bytes as received. Both append to an existing file.
// Writes are buffered and flushed after each block received; a failed
// write (a full disk) is reported by Flush and the log goes on.
#ifndef BRISVANE_CONSOLE_LOG_H
#define BRISVANE_CONSOLE_LOG_H

#include <cstdint>
#include <ctime>

#include "console/text_rules.h"
#include "link/file_io_posix.h"

class ReceiveLog {
public:
    ~ReceiveLog() { Close(); }
    // Opens the logs named (empty: none). Returns false with a one-line
    // problem when one cannot be opened.
    bool Open(const char* textPath, const char* rawPath, bool timestamps, char* problem,
              unsigned capacity);
    bool Active() const { return text_.fd >= 0 || raw_.fd >= 0; }
    // A block received at `arrived` (wall-clock time).
    void Received(const uint8_t* bytes, unsigned count, const struct timespec& arrived) {
        Received(bytes, count, bytes, count, arrived);
    }
    // The same, with the text log given the block after the line-end maps.
    void Received(const uint8_t* raw, unsigned rawCount, const uint8_t* text, unsigned textCount,
                  const struct timespec& arrived);
    // Writes out what waits: 0, or the errno of a write that failed.
    int Flush();
    // Flushes (a CR still held is written) and closes.
    void Close();

private:
    void Stamp();

    BufferedWriter text_;
    BufferedWriter raw_;
    UnixLineEnds ends_;
    bool timestamps_ = false;
    bool lineBegun_ = false;   // the current line's first byte has arrived
    bool stampDue_ = true;     // nothing of the current line is written yet
    struct timespec lineArrived_ = {};
    time_t stampSecond_ = -1;  // the second whose text is in stampText_
    char stampText_[32] = "";
};

#endif

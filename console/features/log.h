// The logs asked for on the command line, written from the first byte
// received. --log writes what arrives as text (bit 7 cleared, Unix line
// ends), each line as the screen showed it: a backspace steps back and
// what follows overwrites, so a countdown's "3\b2\b1" is logged as "1"; a
// CR without a LF goes back to the line's start likewise, and the line
// holds what was written over it. A line is written once it ends (at its
// LF, at 4096 characters, or at exit). With --timestamps each line starts
// with the time its first byte arrived, in --timestamp-format (see
// timestamp.h). With --timestamps-sent the lines sent are logged too,
// "> " after their stamp, and the received ones get "< ".
// --log-raw writes the bytes as received. Both append to an existing file.
// The text log takes what the interpreter gets (sequences the ANSI filter
// hid are not in it); the raw log takes every byte.
// Only a regular file (or /dev/null) is taken, so opening never waits;
// the files are private (log_file.h). Writes are buffered and flushed
// after each block received. A failed write (a full disk) ends that log,
// and is reported once with what the file holds: a log with a hole in it
// would pass for the host's output. A log file removed or renamed away is
// said once and made again at its name, so what follows is kept.
#ifndef BRISVANE_CONSOLE_LOG_H
#define BRISVANE_CONSOLE_LOG_H

#include <cstdint>
#include <ctime>

#include "console/rules/options.h"
#include "console/features/log_file.h"
#include "console/features/plain_file.h"
#include "console/rules/log_rotation.h"
#include "console/rules/text_rules.h"
#include "console/rules/timestamp.h"

class ReceiveLog {
public:
    ~ReceiveLog();
    // Opens the logs named (empty: none). Returns Opened, or why one was not
    // opened with a one-line problem naming its option (--log, --log-raw).
    PlainFile Open(const char* textPath, const char* rawPath, bool timestamps, char* problem,
                   unsigned capacity);
    bool Active() const { return text_.writer.fd >= 0 || raw_.writer.fd >= 0; }
    // --log-max and --log-keep: no log file passes the size by more than a line.
    void SetRotation(const LogRotation& rotation);
    // How the files are made (before Open): 0600, or 0640 with a group.
    void SetFileMode(const LogFileMode& mode) { mode_ = mode; }
    // The stamps' style, and whether sent lines are logged; live.
    void SetStamps(bool on, const StampStyle& style, bool sent);
    bool Stamping() const { return timestamps_; }
    const StampStyle& Style() const { return style_; }
    // The menu's switch: off, then each named format in turn, then off;
    // returns the new format's name, or "off".
    const char* NextStamps();
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
    // Bytes that went to the line, for --timestamps-sent: each line (to
    // its CR or LF, backspaces applied) logged once it ends.
    void Sent(const uint8_t* bytes, unsigned count);
    // Writes out what waits. When a write failed, that log is closed and
    // false returned, `text` saying which log, what it holds and that the
    // rest is lost.
    bool Flush(char* text, unsigned capacity);
    // At most once every few seconds of `now` (ms): a log whose file was
    // removed or renamed away is made again at its name, and true returned
    // with `text` saying so (or, when it could not be made, that it ends).
    bool CheckRemoved(int64_t now, char* text, unsigned capacity);
    // Flushes (a CR still held is written) and closes both; false with
    // `text` when a write or a close failed.
    bool Close(char* text, unsigned capacity);

private:
    struct File {
        LogWriter writer;
        const char* kind;  // "log", "raw log"
        char path[PathCapacity];
    };
    PlainFile OpenFile(File& file, const char* option, const char* path, char* problem, unsigned capacity);
    void Stamp(const struct timespec& at, const char* mark);
    void EndLine();
    bool End(File& file, char* text, unsigned capacity);

    File text_ = {{}, "log", ""};
    File raw_ = {{}, "raw log", ""};
    static const unsigned LineCapacity = 4096;
    static const unsigned SentCapacity = 512;
    bool timestamps_ = false;
    bool logSent_ = false;
    StampStyle style_ = {};
    StampCache stampCache_;
    bool lineBegun_ = false;  // the current line's first byte has arrived
    struct timespec lineArrived_ = {};
    struct timespec started_ = {};   // the log opened
    struct timespec previous_ = {};  // the last line written began
    uint8_t line_[LineCapacity];     // the line as the screen shows it
    unsigned lineLength_ = 0, column_ = 0;
    uint8_t sent_[SentCapacity];
    unsigned sentLength_ = 0;
    uint8_t sentEscape_ = 0;  // 1 after ESC, 2 inside ESC [ or ESC O, 3 after ESC /
    int64_t nextLinkCheck_ = 0;
    LogRotation rotation_;
    LogFileMode mode_;
};

#endif

// The line to the host as the loop sees it: one small interface with two
// implementations, a local serial device (termios) and a network line
// (RFC 2217 or raw TCP), chosen once at start-up from the device's form.
//
// Nothing here blocks: reads and writes are non-blocking, a connection that
// is still being made reports InProgress and is finished by Continue() when
// poll() says its descriptor is ready. Every call reports what happened; the
// caller decides what to tell the user.
#ifndef BRISVANE_CONSOLE_LINE_H
#define BRISVANE_CONSOLE_LINE_H

#include <cstdint>

#include "link/settings_notation.h"

// Room for a device path or a lock folder.
const unsigned LinePathCapacity = 1024;

// What is in force on the line, applied at every open and reconnect.
struct LineControls {
    LineSettings settings;
    bool hardwareFlow;  // RTS/CTS
    int8_t dtr;         // -1: as the driver leaves it, 0 off, 1 on
    int8_t rts;
};

enum class OpenResult : uint8_t {
    Open,        // ready for reads and writes
    InProgress,  // connecting: poll Descriptor() for PollEvents(), then Continue()
    Missing,     // not there (yet): a device absent, a server not answering
    Failed,      // refused for a reason waiting will not mend; see the message
};

enum class IoResult : uint8_t {
    Done,        // *count bytes moved (may be 0 for a read that held only protocol bytes)
    WouldBlock,  // nothing now: poll again
    Lost,        // the device or connection is gone: Close() and reconnect
};

enum class ControlResult : uint8_t {
    Done,
    Unsupported,  // this line has no such control (a pty's modem lines; raw TCP's settings)
    Refused,      // the driver or server refused; the old state stays
    Unsettled,    // refused, and putting the old state back failed too: it is unknown
};

struct ModemLines {
    bool cts, dsr, dcd, ri;  // inputs as last reported
    bool dtr, rts;           // outputs as set
};

enum class ModemOutput : uint8_t { Dtr, Rts };

// The driver's own counts of what went wrong on the wire since the device
// was opened by anyone.
struct LineErrorCounts {
    uint32_t framing, parity, overrun, breaks;
};

class Line {
public:
    virtual ~Line() {}

    // Opens (or reopens) the line with `controls`. On Missing or Failed a
    // one-line message (naming the line and what to do) is in `message`.
    virtual OpenResult Open(const LineControls& controls, char* message, unsigned capacity) = 0;
    // Moves a connection in progress on, after poll() reported `revents`.
    virtual OpenResult Continue(short revents, char* message, unsigned capacity) = 0;
    // Closes it; safe when closed. A later Open() starts afresh.
    virtual void Close() = 0;

    // The descriptor to poll (-1 while closed) and the events to ask for;
    // `haveOutput` says whether the caller has bytes to write.
    virtual int Descriptor() const = 0;
    virtual short PollEvents(bool haveOutput) const = 0;

    // Host bytes into `data`: at most `capacity`, protocol bytes removed.
    virtual IoResult Read(uint8_t* data, unsigned capacity, unsigned* count) = 0;
    // Bytes for the host; *count says how many were taken (the line may
    // take fewer than offered; the rest is offered again later).
    virtual IoResult Write(const uint8_t* data, unsigned length, unsigned* count) = 0;

    // Live settings and flow control on the open line.
    virtual ControlResult Apply(const LineControls& controls, char* problem, unsigned capacity) = 0;
    virtual ControlResult SetBreak(bool on) = 0;
    virtual ControlResult SetModemOutput(ModemOutput which, bool on) = 0;
    virtual ControlResult ReadModemLines(ModemLines* lines) = 0;
    // Unsupported where the driver keeps no such counts (a pty, a network line).
    virtual ControlResult ReadErrorCounts(LineErrorCounts*) { return ControlResult::Unsupported; }

    // What a connection in progress waits for ("the TCP connect"), for the
    // message when it takes too long.
    virtual const char* Awaiting() const { return "the device"; }
    // True, once, with a line for the user about something the line got
    // over with by itself (a protocol fault it dropped, a control the
    // server refused); called after reads and writes.
    virtual bool TakeNote(char*, unsigned) { return false; }
    // True when the output has not moved for a while: the other end stopped
    // reading (a stopped server, a held line).
    virtual bool OutputStuck() const { return false; }

    // False when the line's settings are not ours to set (raw TCP).
    virtual bool HasSettings() const = 0;
    // The name shown to the user: the device path, or HOST:PORT.
    virtual const char* Name() const = 0;
};

#endif

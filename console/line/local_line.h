// A serial device on this machine, through termios: the local side of the
// line interface.
//
// Open takes the device for this program alone (a UUCP lock file, an
// advisory lock and the exclusive-use flag) and refuses one that another
// program holds through any of them, a file that is not a terminal, and
// settings the driver does not take, each with a one-line message naming
// the device and what to do. The line is raw and 8-bit clean apart from the
// chosen settings, whatever the last program left on it.
#ifndef BRISVANE_CONSOLE_LOCAL_LINE_H
#define BRISVANE_CONSOLE_LOCAL_LINE_H

#include <termios.h>

#include "console/line/line.h"
#include "console/line/uucp_lock.h"

// Fills *attributes (raw, no software flow control, receiver on, modem
// status ignored) for the settings. A speed missing from the termios table
// sets *customSpeed (the caller sets it through termios2) where this system
// can; else returns false with *problem set, as for 1.5 stop bits.
bool LineAttributes(const LineSettings& settings, bool hardwareFlow, struct termios* attributes,
                    bool* customSpeed, const char** problem);

class LocalLine : public Line {
public:
    // `lockFolder`: where UUCP lock files go (normally /run/lock).
    LocalLine(const char* device, const char* lockFolder);
    ~LocalLine() override { Close(); }

    OpenResult Open(const LineControls& controls, char* message, unsigned capacity) override;
    OpenResult Continue(short, char*, unsigned) override { return OpenResult::Open; }
    void Close() override;
    int Descriptor() const override { return fd_; }
    short PollEvents(bool haveOutput) const override;
    IoResult Read(uint8_t* data, unsigned capacity, unsigned* count) override;
    IoResult Write(const uint8_t* data, unsigned length, unsigned* count) override;
    ControlResult Apply(const LineControls& controls, char* problem, unsigned capacity) override;
    ControlResult SetBreak(bool on) override;
    ControlResult SetModemOutput(ModemOutput which, bool on) override;
    ControlResult ReadModemLines(ModemLines* lines) override;
    ControlResult ReadErrorCounts(LineErrorCounts* counts) override;
    bool HasSettings() const override { return true; }
    const char* Name() const override { return device_; }

private:
    // Sets the line from `controls`; on failure puts `problem` and returns false.
    bool Configure(const LineControls& controls, char* problem, unsigned capacity);
    void Abandon();  // undoes a half-made open

    char device_[LinePathCapacity];
    char lockFolder_[LinePathCapacity];
    int fd_ = -1;
    bool exclusive_ = false;
    UucpLock lock_;
};

#endif

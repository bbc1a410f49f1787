// A line for tests of the console's logic: it opens as told, reads nothing,
// takes every write, reports the modem inputs and error counts it is given,
// and records each control call, so a test says "this command, this line"
// and expects the calls and the notice.
#ifndef BRISVANE_TESTS_FAKE_LINE_H
#define BRISVANE_TESTS_FAKE_LINE_H

#include <string>

#include "console/line/line.h"

class FakeLine : public Line {
public:
    explicit FakeLine(bool settings = true) : settings(settings) {}

    OpenResult Open(const LineControls&, char*, unsigned) override { return ++opens, openResult; }
    OpenResult Continue(short, char*, unsigned) override { return openResult; }
    void Close() override { ++closes; }
    int Descriptor() const override { return -1; }
    short PollEvents(bool) const override { return 0; }
    IoResult Read(uint8_t*, unsigned, unsigned* count) override { return *count = 0, IoResult::WouldBlock; }
    IoResult Write(const uint8_t* data, unsigned length, unsigned* count) override {
        written.append(reinterpret_cast<const char*>(data), length);
        *count = length;
        return IoResult::Done;
    }
    ControlResult Apply(const LineControls&, char*, unsigned) override { return Record("apply"); }
    ControlResult SetBreak(bool on) override { return Record(on ? "break on" : "break off"); }
    ControlResult SetModemOutput(ModemOutput which, bool on) override {
        return Record(std::string(which == ModemOutput::Dtr ? "dtr " : "rts ") + (on ? "on" : "off"));
    }
    ControlResult ReadModemLines(ModemLines* lines) override {
        if (!modemKnown) return ControlResult::Unsupported;
        *lines = modem;
        return ControlResult::Done;
    }
    ControlResult ReadErrorCounts(LineErrorCounts* counts) override {
        if (!errorsKnown) return ControlResult::Unsupported;
        *counts = errors;
        return ControlResult::Done;
    }
    bool HasSettings() const override { return settings; }
    const char* Name() const override { return settings ? "/dev/ttyUSB0" : "host:7000"; }

    bool settings;
    OpenResult openResult = OpenResult::Open;
    ControlResult controlResult = ControlResult::Done;
    int opens = 0, closes = 0;
    std::string calls;                             // "break on; dtr off; "
    std::string written;                           // every byte taken
    bool modemKnown = false, errorsKnown = false;  // else Unsupported, as a pty's
    ModemLines modem = {};
    LineErrorCounts errors = {};

private:
    ControlResult Record(const std::string& call) {
        calls += call + "; ";
        return controlResult;
    }
};

#endif

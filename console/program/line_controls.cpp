#include "console/program/line_controls.h"

#include <cstdio>
#include <cstring>

#include "console/program/session.h"
#include "console/program/recorded.h"

namespace {

bool Open(Session& c, Notice* notice) {
    if (c.link.state == LinkState::Open) return true;
    if (notice != nullptr) Say(*notice, "not connected: %s is not open", c.options.device);
    return false;
}

}  // namespace

void SayControl(Notice& notice, ControlResult result, const char* done, const char* what) {
    switch (result) {
        case ControlResult::Done: Say(notice, "%s", done); break;
        case ControlResult::Unsupported: Say(notice, "this line has no %s", what); break;
        case ControlResult::Refused: Say(notice, "the line refused the %s", what); break;
        case ControlResult::Unsettled:
            Say(notice, "the line refused the %s; its state is unknown", what);
            break;
    }
}

ControlResult SendBreak(Session& c, int64_t now, Notice* notice) {
    if (!Open(c, notice)) return ControlResult::Refused;
    ControlResult result = c.link.line->SetBreak(true);
    if (result == ControlResult::Done) {
        c.link.breakEndsAt = now + BreakMilliseconds;
        RecordLineControl(c, RecordControl::Break, true);
    }
    if (notice == nullptr) return result;
    // Behind output the other end stopped reading: it goes when that moves.
    bool waiting =
        !c.pump.StageEmpty() || c.pump.Waiting() > 0 || SendRunning() || c.link.line->OutputStuck();
    bool stuck = result == ControlResult::Done && waiting &&
                 now - c.link.lastWrite >= OutputStalledMilliseconds + c.options.characterInterval;
    SayControl(*notice, result,
               stuck ? "break not sent yet: the line's output is stuck (the other end stopped reading)"
                     : "break sent",
               "BREAK");
    return result;
}

ControlResult SetModemOutput(Session& c, ModemOutput which, bool on, Notice* notice) {
    if (!Open(c, notice)) return ControlResult::Refused;
    if (which == ModemOutput::Rts && c.link.controls.hardwareFlow) {
        if (notice != nullptr)
            Say(*notice, "RTS/CTS flow control drives RTS: turn it off first (menu key, f)");
        return ControlResult::Refused;
    }
    ControlResult result = c.link.line->SetModemOutput(which, on);
    bool dtr = which == ModemOutput::Dtr;
    if (result == ControlResult::Done) {
        (dtr ? c.link.controls.dtr : c.link.controls.rts) = on ? 1 : 0;
        RecordLineControl(c, dtr ? RecordControl::Dtr : RecordControl::Rts, on);
    }
    if (notice != nullptr) {
        char done[32];
        std::snprintf(done, sizeof done, "%s %s", dtr ? "DTR" : "RTS", on ? "on" : "off");
        SayControl(*notice, result, done, "modem lines (DTR, RTS)");
    }
    return result;
}

ControlResult PulseDtr(Session& c, int64_t now, Notice* notice) {
    if (!Open(c, notice)) return ControlResult::Refused;
    ControlResult result = c.link.line->SetModemOutput(ModemOutput::Dtr, false);
    if (result == ControlResult::Done) c.link.dtrBackAt = now + DtrPulseMilliseconds;
    if (notice != nullptr)
        SayControl(*notice, result, "DTR pulsed off and on (reset)", "modem lines (DTR, RTS)");
    return result;
}

bool ModemOutputOn(const Session& c, ModemOutput which) {
    return (which == ModemOutput::Dtr ? c.link.controls.dtr : c.link.controls.rts) != 0;
}

bool ApplyControls(Session& c, const LineControls& controls, Notice* notice) {
    if (!Open(c, notice)) return false;
    char problem[NoticeCapacity];
    ControlResult result = c.link.line->Apply(controls, problem, sizeof problem);
    if (result == ControlResult::Done) {
        c.link.controls = controls;
        char text[48];
        FormatLineSettings(controls.settings, text, sizeof text);
        if (controls.hardwareFlow) std::strncat(text, " rts/cts", sizeof text - std::strlen(text) - 1);
        RecordText(c, RecordKind::Settings, text);
        return true;
    }
    if (notice == nullptr) return false;
    if (result == ControlResult::Unsupported) {
        Say(*notice, "line settings are the server's business on %s", c.link.line->Name());
    } else if (result == ControlResult::Unsettled) {
        Say(*notice, "%.200s: the line's settings are unknown", problem);
    } else {
        Say(*notice, "%.200s; the old settings stay", problem);
    }
    return false;
}

int64_t TimedControlsDue(const Session& c) {
    return c.link.breakEndsAt < c.link.dtrBackAt ? c.link.breakEndsAt : c.link.dtrBackAt;
}

Reaction EndTimedControls(Session& c, int64_t now) {
    if (now >= c.link.breakEndsAt) {
        c.link.breakEndsAt = NoDeadline;
        if (c.link.state == LinkState::Open && c.link.line->SetBreak(false) != ControlResult::Done) {
            Say(c.notice, "the line refused to end the BREAK: it may still be held (%s)",
                c.link.line->Name());
        }
    }
    if (now >= c.link.dtrBackAt) {
        c.link.dtrBackAt = NoDeadline;
        if (c.link.state != LinkState::Open) return Nothing;
        bool back = c.link.line->SetModemOutput(ModemOutput::Dtr, true) == ControlResult::Done;
        c.link.controls.dtr = back ? 1 : 0;
        if (!back) Say(c.notice, "the line refused to set DTR on again after the pulse: DTR is off");
    }
    return Nothing;
}

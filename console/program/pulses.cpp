#include "console/program/pulses.h"

#include "console/program/session.h"
#include "console/program/line_controls.h"

namespace {

bool Set(Session& c, const PulseStep& step, bool on) {
    ModemOutput which = step.rts ? ModemOutput::Rts : ModemOutput::Dtr;
    return c.link.line->SetModemOutput(which, on) == ControlResult::Done;
}

}  // namespace

void StartPulses(Session& c, int64_t now) {
    PulseRun& run = c.features.pulses;
    if (run.begun) return;
    run.begun = true;
    struct timespec opened;
    clock_gettime(CLOCK_REALTIME, &opened);
    StartMarks(c.features.marks, opened);
    if (c.options.pulseCount == 0) return;
    run.dueAt = now;
    ServePulses(c, now);
}

Reaction ServePulses(Session& c, int64_t now) {
    PulseRun& run = c.features.pulses;
    while (now >= run.dueAt) {
        if (c.link.state != LinkState::Open) {  // gone mid-pulse: the next open sets the lines afresh
            run.dueAt = NoDeadline;
            return Nothing;
        }
        const PulseStep* steps = c.options.pulses;
        if (run.held) {
            const PulseStep& step = steps[run.next - 1];
            run.held = false;
            if (!Set(c, step, ModemOutputOn(c, step.rts ? ModemOutput::Rts : ModemOutput::Dtr)))
                Say(c.notice, "the line refused to end the %s pulse", step.rts ? "RTS" : "DTR");
        }
        if (run.next == c.options.pulseCount) {
            run.dueAt = NoDeadline;
            return Nothing;
        }
        const PulseStep& step = steps[run.next++];
        if (!Set(c, step, !(ModemOutputOn(c, step.rts ? ModemOutput::Rts : ModemOutput::Dtr)))) {
            Say(c.notice, "%s cannot pulse %s: started without the reset", c.link.line->Name(),
                step.rts ? "RTS" : "DTR");
            run.dueAt = NoDeadline;
            return Nothing;
        }
        run.held = true;
        run.dueAt = now + step.milliseconds;
    }
    return Nothing;
}

int64_t PulsesDeadline(const Session& c) { return c.features.pulses.dueAt; }

#include "console/pulses.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "console/console.h"

namespace {

const char PulseFault[] = "a pulse is DTR=MS or RTS=MS (MS from 1 to 10000), in a comma list";

bool Set(Console& c, const PulseStep& step, bool on) {
    ModemOutput which = step.rts ? ModemOutput::Rts : ModemOutput::Dtr;
    return c.line->SetModemOutput(which, on) == ControlResult::Done;
}

}  // namespace

bool ParsePulses(const char* text, PulseStep* steps, unsigned* count, const char** fault) {
    unsigned n = *count;
    for (const char* at = text;;) {
        bool rts = strncasecmp(at, "RTS=", 4) == 0;
        if ((!rts && strncasecmp(at, "DTR=", 4) != 0) || at[4] < '0' || at[4] > '9')
            return *fault = PulseFault, false;
        char* end = nullptr;
        unsigned long ms = std::strtoul(at + 4, &end, 10);
        if (ms == 0 || ms > LongestPulseMilliseconds || (*end != ',' && *end != '\0'))
            return *fault = PulseFault, false;
        if (n == MaxPulses) return *fault = "at most 8 pulses", false;
        steps[n++] = {rts, uint32_t(ms)};
        if (*end == '\0') break;
        at = end + 1;
    }
    *count = n;
    return true;
}

void StartPulses(Console& c, int64_t now) {
    PulseRun& run = c.pulses;
    if (run.begun) return;
    run.begun = true;
    struct timespec opened;
    clock_gettime(CLOCK_REALTIME, &opened);
    StartMarks(c.marks, opened);
    if (c.options.pulseCount == 0) return;
    run.dueAt = now;
    ServePulses(c, now);
}

void ServePulses(Console& c, int64_t now) {
    PulseRun& run = c.pulses;
    while (now >= run.dueAt) {
        if (c.link != LinkState::Open) {  // gone mid-pulse: the next open sets the lines afresh
            run.dueAt = NoDeadline;
            return;
        }
        const PulseStep* steps = c.options.pulses;
        if (run.held) {
            const PulseStep& step = steps[run.next - 1];
            run.held = false;
            if (!Set(c, step, step.rts ? c.rts : c.dtr))
                Say(c.notice, "the line refused to end the %s pulse", step.rts ? "RTS" : "DTR");
        }
        if (run.next == c.options.pulseCount) {
            run.dueAt = NoDeadline;
            return;
        }
        const PulseStep& step = steps[run.next++];
        if (!Set(c, step, !(step.rts ? c.rts : c.dtr))) {
            Say(c.notice, "%s cannot pulse %s: started without the reset", c.line->Name(),
                step.rts ? "RTS" : "DTR");
            run.dueAt = NoDeadline;
            return;
        }
        run.held = true;
        run.dueAt = now + step.milliseconds;
    }
}

int64_t PulsesDeadline(const Console& c) { return c.pulses.dueAt; }

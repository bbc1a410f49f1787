// The pulses asked for on the command line or in a profile (--pulse
// DTR=MS, "pulse = DTR=100,RTS=50"), in order: parsed here, run by the
// program's pulses.
#ifndef BRISVANE_CONSOLE_PULSE_STEPS_H
#define BRISVANE_CONSOLE_PULSE_STEPS_H

#include <cstdint>

#include "console/rules/schedule.h"

const unsigned MaxPulses = 8;
const uint32_t LongestPulseMilliseconds = 10000;

struct PulseStep {
    bool rts;  // else DTR
    uint32_t milliseconds;
};

// Appends the comma list `text` ("DTR=100,RTS=50") to steps[*count]; false
// with `fault` saying what is wrong (the steps then as before).
bool ParsePulses(const char* text, PulseStep* steps, unsigned* count, const char** fault);

// Where the pulses are: the next to start, the one under way and its end.
struct PulseRun {
    unsigned next = 0;           // the step to start
    bool held = false;           // steps[next - 1] is under way
    bool begun = false;          // the first open started them
    int64_t dueAt = NoDeadline;  // the held step ends
};

#endif

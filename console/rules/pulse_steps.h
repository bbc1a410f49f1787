// The pulses asked for on the command line or in a profile (--pulse
// DTR=MS, "pulse = DTR=100,RTS=50"), in order: parsed here, run by the
// program's pulses.
#ifndef BRISVANE_CONSOLE_PULSE_STEPS_H
#define BRISVANE_CONSOLE_PULSE_STEPS_H

#include <cstdint>

const unsigned MaxPulses = 8;
const uint32_t LongestPulseMilliseconds = 10000;

struct PulseStep {
    bool rts;  // else DTR
    uint32_t milliseconds;
};

// Appends the comma list `text` ("DTR=100,RTS=50") to steps[*count]; false
// with `fault` saying what is wrong (the steps then as before).
bool ParsePulses(const char* text, PulseStep* steps, unsigned* count, const char** fault);

#endif

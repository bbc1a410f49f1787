#include "console/rules/pulse_steps.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

const char PulseFault[] = "a pulse is DTR=MS or RTS=MS (MS from 1 to 10000), in a comma list";

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

#include "console/rules/schedule.h"

#include <climits>
#include <ctime>

int64_t MonotonicMilliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int PollTimeout(int64_t now, const int64_t* deadlines, unsigned count) {
    int64_t earliest = NoDeadline;
    for (unsigned i = 0; i < count; ++i) {
        if (deadlines[i] < earliest) earliest = deadlines[i];
    }
    if (earliest == NoDeadline) return -1;
    if (earliest <= now) return 0;
    int64_t wait = earliest - now;
    return wait > INT_MAX ? INT_MAX : int(wait);
}

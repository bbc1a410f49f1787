#include "console/rules/schedule.h"

#include <climits>

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

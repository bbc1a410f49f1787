#include "console/rules/counters.h"

#include <cstdio>
#include <cstring>

#include "console/line/line.h"

void NoteLineOpen(Counters& c, bool open, int64_t now) {
    if (open && c.openSince < 0) {
        c.openSince = now;
        ++c.opens;
    } else if (!open && c.openSince >= 0) {
        c.openBefore += now - c.openSince;
        c.openSince = -1;
    }
}

void FormatCounters(const Counters& c, int64_t now, char* text, unsigned capacity) {
    char received[32], sent[32], dropped[32];
    FormatCount(c.received, received, sizeof received);
    FormatCount(c.sent, sent, sizeof sent);
    FormatCount(c.dropped, dropped, sizeof dropped);
    int64_t open = c.openBefore + (c.openSince >= 0 ? now - c.openSince : 0);
    long long seconds = (long long)(open / 1000);
    std::snprintf(text, capacity,
                  "received %s  sent %s  dropped %s  reconnects %u  connected %lld:%02lld:%02lld", received,
                  sent, dropped, c.opens > 0 ? unsigned(c.opens - 1) : 0u, seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
}

void AddLineErrors(const LineErrorCounts* e, char* text, unsigned capacity) {
    size_t used = std::strlen(text);
    if (used + 1 >= capacity) return;
    if (e == nullptr) {
        std::snprintf(text + used, capacity - used, "  line errors: not reported");
    } else {
        std::snprintf(text + used, capacity - used, "  framing %u  parity %u  overrun %u  breaks %u",
                      e->framing, e->parity, e->overrun, e->breaks);
    }
}

void FormatCount(uint64_t value, char* text, unsigned capacity) {
    char digits[24];
    int length = std::snprintf(digits, sizeof digits, "%llu", (unsigned long long)value);
    char grouped[32];
    int out = 0;
    for (int i = 0; i < length; ++i) {
        if (i > 0 && (length - i) % 3 == 0) grouped[out++] = ',';
        grouped[out++] = digits[i];
    }
    grouped[out] = '\0';
    std::snprintf(text, capacity, "%s", grouped);
}

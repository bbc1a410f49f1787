#include "console/timestamp.h"

#include <cstdio>
#include <cstring>

namespace {

struct Named {
    const char* name;
    StampFormat format;
};
const Named Names[] = {
    {"24h", StampFormat::Clock},
    {"24h-start", StampFormat::SinceStart},
    {"24h-delta", StampFormat::SincePrevious},
    {"iso8601", StampFormat::Iso8601},
    {"epoch", StampFormat::Epoch},
    {"epoch-usec", StampFormat::EpochMicro},
};

int64_t Microseconds(const struct timespec& t) { return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000; }

unsigned Duration(int64_t micro, char* text, unsigned capacity) {
    if (micro < 0) micro = 0;
    long long ms = (long long)(micro / 1000);
    int n = std::snprintf(text, capacity, "[+%02lld:%02lld:%02lld.%03lld] ", ms / 3600000, ms / 60000 % 60,
                          ms / 1000 % 60, ms % 1000);
    return n < 0 ? 0 : unsigned(n) < capacity ? unsigned(n) : capacity - 1;
}

// strftime with %f (microseconds) put in first; %% stays for strftime.
unsigned Pattern(const char* pattern, const struct timespec& at, char* text, unsigned capacity) {
    if (capacity < 2) return 0;
    char expanded[StampPatternCapacity * 4];
    unsigned used = 0;
    for (const char* p = pattern; *p != '\0' && used + 8 < sizeof expanded; ++p) {
        if (p[0] == '%' && p[1] == 'f') {
            used +=
                unsigned(std::snprintf(expanded + used, sizeof expanded - used, "%06ld", at.tv_nsec / 1000));
            ++p;
            continue;
        }
        expanded[used++] = *p;
        if (p[0] == '%' && p[1] != '\0') expanded[used++] = *++p;
    }
    expanded[used] = '\0';
    struct tm local;
    localtime_r(&at.tv_sec, &local);
    size_t n = capacity > 1 ? strftime(text, capacity - 1, expanded, &local) : 0;
    text[n++] = ' ';
    text[n] = '\0';
    return unsigned(n);
}

}  // namespace

bool ParseStampFormat(const char* text, StampStyle* style) {
    for (const Named& named : Names) {
        if (std::strcmp(text, named.name) == 0) {
            style->format = named.format;
            return true;
        }
    }
    size_t length = std::strlen(text);
    if (std::strchr(text, '%') == nullptr || length >= StampPatternCapacity) return false;
    style->format = StampFormat::Pattern;
    std::memcpy(style->pattern, text, length + 1);
    return true;
}

const char* StampFormatName(const StampStyle& style) {
    for (const Named& named : Names) {
        if (named.format == style.format) return named.name;
    }
    return style.pattern;
}

StampFormat NextStampFormat(StampFormat format) {
    return format >= StampFormat::EpochMicro ? StampFormat::Clock : StampFormat(uint8_t(format) + 1);
}

unsigned FormatStamp(const StampStyle& style, const struct timespec& at, const struct timespec& start,
                     const struct timespec& previous, char* text, unsigned capacity) {
    if (capacity == 0) return 0;
    text[0] = '\0';
    long ms = at.tv_nsec / 1000000;
    struct tm local;
    char date[64];
    int n = 0;
    switch (style.format) {
        case StampFormat::Clock:
            localtime_r(&at.tv_sec, &local);
            strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
            n = std::snprintf(text, capacity, "[%s.%03ld] ", date, ms);
            break;
        case StampFormat::SinceStart: return Duration(Microseconds(at) - Microseconds(start), text, capacity);
        case StampFormat::SincePrevious:
            return Duration(Microseconds(at) - Microseconds(previous), text, capacity);
        case StampFormat::Iso8601: {
            localtime_r(&at.tv_sec, &local);
            strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
            long offset = local.tm_gmtoff / 60;  // minutes east of UTC
            char sign = offset < 0 ? '-' : '+';
            if (offset < 0) offset = -offset;
            n = std::snprintf(text, capacity, "[%s.%03ld%c%02ld:%02ld] ", date, ms, sign, offset / 60,
                              offset % 60);
            break;
        }
        case StampFormat::Epoch:
            n = std::snprintf(text, capacity, "[%lld.%03ld] ", (long long)at.tv_sec, ms);
            break;
        case StampFormat::EpochMicro:
            n = std::snprintf(text, capacity, "[%lld.%06ld] ", (long long)at.tv_sec, at.tv_nsec / 1000);
            break;
        case StampFormat::Pattern: return Pattern(style.pattern, at, text, capacity);
    }
    return n < 0 ? 0 : unsigned(n) < capacity ? unsigned(n) : capacity - 1;
}

#include "console/rules/timestamp.h"

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

// The date and time of `at`'s second for Clock or Iso8601, from the cache
// when it holds that second.
static const StampCache& LocalSecond(StampFormat format, time_t second, StampCache& c) {
    if (c.second == second && c.format == format) return c;
    struct tm local;
    localtime_r(&second, &local);
    strftime(c.text, sizeof c.text, format == StampFormat::Clock ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%dT%H:%M:%S",
             &local);
    c.offset = local.tm_gmtoff / 60;
    c.second = second;
    c.format = format;
    return c;
}

unsigned FormatStamp(const StampStyle& style, const struct timespec& at, const struct timespec& start,
                     const struct timespec& previous, char* text, unsigned capacity, StampCache* cache) {
    if (capacity == 0) return 0;
    text[0] = '\0';
    StampCache once;
    if (cache == nullptr) cache = &once;
    long ms = at.tv_nsec / 1000000;
    int n = 0;
    switch (style.format) {
        case StampFormat::Clock:
            n = std::snprintf(text, capacity, "[%s.%03ld] ",
                              LocalSecond(style.format, at.tv_sec, *cache).text, ms);
            break;
        case StampFormat::SinceStart: return Duration(Microseconds(at) - Microseconds(start), text, capacity);
        case StampFormat::SincePrevious:
            return Duration(Microseconds(at) - Microseconds(previous), text, capacity);
        case StampFormat::Iso8601: {
            const StampCache& local = LocalSecond(style.format, at.tv_sec, *cache);
            long offset = local.offset < 0 ? -local.offset : local.offset;
            n = std::snprintf(text, capacity, "[%s.%03ld%c%02ld:%02ld] ", local.text, ms,
                              local.offset < 0 ? '-' : '+', offset / 60, offset % 60);
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

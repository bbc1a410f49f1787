#include "console/rules/log_rotation.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const uint64_t LogSizeMin = 1024;
const uint64_t LogSizeMax = uint64_t(1) << 50;  // a petabyte: far past any disk a console logs to

}  // namespace

bool ParseLogSize(const char* text, uint64_t* bytes, const char** problem) {
    *problem = "give a size such as 64K or 10M (K, M and G are 1024, 1024 * 1024 and so on)";
    const char* at = text;
    if (*at < '0' || *at > '9') return false;
    uint64_t value = 0;
    for (; *at >= '0' && *at <= '9'; ++at) {
        value = value * 10 + unsigned(*at - '0');
        if (value > LogSizeMax) return false;
    }
    unsigned shift = 0;
    switch (*at) {
        case '\0': break;
        case 'K':
        case 'k': shift = 10; break;
        case 'M':
        case 'm': shift = 20; break;
        case 'G':
        case 'g': shift = 30; break;
        default: return false;
    }
    if (*at != '\0' && at[1] != '\0') return false;
    if (value > (LogSizeMax >> shift)) return false;
    value <<= shift;
    if (value < LogSizeMin) {
        *problem = "a log's size is at least 1K";
        return false;
    }
    *bytes = value;
    return true;
}

bool ParseLogKeep(const char* text, unsigned* keep, const char** problem) {
    *problem = "give how many old logs to keep, 0 to 999";
    if (*text == '\0' || std::strlen(text) > 3) return false;
    unsigned value = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') return false;
        value = value * 10 + unsigned(*at - '0');
    }
    *keep = value;
    return true;
}

LogCut CutLogWrite(const LogRotation& rotation, uint64_t size, bool lineEnded, const uint8_t* bytes,
                   unsigned count) {
    uint64_t max = rotation.maxBytes;
    if (max == 0 || size + count <= max) return {count, false};
    uint64_t room = size < max ? max - size : 0;  // < count
    for (uint64_t at = room; at > 0; --at) {
        if (bytes[at - 1] == '\n') return {unsigned(at), true};
    }
    if (size > 0 && lineEnded) return {0, true};
    uint64_t over = size > max ? size - max : 0;
    uint64_t limit = room + (over < LogLineMax ? LogLineMax - over : 0);
    for (uint64_t at = room; at < count && at < limit; ++at) {
        if (bytes[at] == '\n') return {unsigned(at + 1), true};
    }
    if (limit > count) return {count, false};  // the line goes on: its end decides
    return {unsigned(limit), true};
}

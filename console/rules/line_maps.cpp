#include "console/rules/line_maps.h"

#include <cstdio>
#include <cstring>

#include "console/rules/text_rules.h"

namespace {

const uint8_t Backspace = 8, Delete = 127;

struct MapName {
    const char* name;
    uint8_t bits;
};

// Longest first where one name ends another, so formatting finds pairs.
const MapName Names[] = {
    {"cr-crlf", MapInCrCrlf | MapOutCrCrlf},
    {"in-cr-crlf", MapInCrCrlf},
    {"out-cr-crlf", MapOutCrCrlf},
    {"lf-crlf", MapInLfCrlf},
    {"in-lf-crlf", MapInLfCrlf},
    {"ignore-cr", MapInIgnoreCr},
    {"in-ignore-cr", MapInIgnoreCr},
    {"del-bs", MapOutDelBs},
    {"out-del-bs", MapOutDelBs},
    {"bs-del", MapOutBsDel},
    {"out-bs-del", MapOutBsDel},
};

}  // namespace

bool ParseLineMaps(const char* text, uint8_t* maps, const char** fault) {
    uint8_t bits = 0;
    const char* at = text;
    bool named = text[0] == '\0';  // "" is none (the menu's empty answer); ",,," a slip
    while (*at != '\0') {
        const char* end = std::strchr(at, ',');
        size_t length = end != nullptr ? size_t(end - at) : std::strlen(at);
        while (length > 0 && *at == ' ') ++at, --length;
        while (length > 0 && at[length - 1] == ' ') --length;
        bool found = length == 0 || (length == 4 && std::strncmp(at, "none", 4) == 0);
        named = named || length > 0;
        for (const MapName& entry : Names) {
            if (found) break;
            if (std::strlen(entry.name) == length && std::strncmp(at, entry.name, length) == 0) {
                bits |= entry.bits;
                found = true;
            }
        }
        if (!found) {
            *fault =
                "maps are lf-crlf, cr-crlf, ignore-cr, del-bs, bs-del (in- or out- picks a side), or none";
            return false;
        }
        if (end == nullptr) break;
        at = end + 1;
    }
    if (!named) {
        *fault = "no map named: give maps such as lf-crlf, or none";
        return false;
    }
    *maps = bits;
    return true;
}

void FormatLineMaps(uint8_t maps, char* text, unsigned capacity) {
    text[0] = '\0';
    uint8_t left = maps;
    size_t used = 0;
    for (const MapName& entry : Names) {
        if ((left & entry.bits) != entry.bits) continue;
        left = uint8_t(left & ~entry.bits);
        int n = std::snprintf(text + used, capacity - used, "%s%s", used > 0 ? "," : "", entry.name);
        if (n < 0 || used + size_t(n) >= capacity) return;
        used += size_t(n);
    }
    if (used == 0) std::snprintf(text, capacity, "none");
}

unsigned ReceivedMap::Apply(uint8_t maps, const uint8_t* in, unsigned count, uint8_t* out) {
    unsigned n = 0;
    for (unsigned i = 0; i < count; ++i) {
        uint8_t byte = in[i];
        uint8_t low = byte & SevenBits;
        if (low == CarriageReturn) {
            if (maps & MapInIgnoreCr) continue;  // and the LF after it is a bare one
            out[n++] = byte;
            if (maps & MapInCrCrlf) out[n++] = LineFeed;
            afterReturn = true;
            continue;
        }
        if (low == LineFeed) {
            if (afterReturn && (maps & MapInCrCrlf)) {
                afterReturn = false;  // CR LF: the LF went with the CR
                continue;
            }
            if (!afterReturn && (maps & MapInLfCrlf)) out[n++] = CarriageReturn;
        }
        out[n++] = byte;
        afterReturn = false;
    }
    return n;
}

unsigned MapSent(uint8_t maps, uint8_t byte, uint8_t out[2]) {
    out[0] = byte;
    if (byte == CarriageReturn && (maps & MapOutCrCrlf)) {
        out[1] = LineFeed;
        return 2;
    }
    if (byte == Delete && (maps & MapOutDelBs)) out[0] = Backspace;
    if (byte == Backspace && (maps & MapOutBsDel)) out[0] = Delete;
    return 1;
}

#include "console/rules/recording.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char Magic[] = "brisvane recording ";
const uint8_t CheckMask = 0xa5;

unsigned PutVarint(uint8_t* out, uint64_t value) {
    unsigned n = 0;
    do {
        uint8_t byte = uint8_t(value & 0x7f);
        value >>= 7;
        out[n++] = byte | (value != 0 ? 0x80 : 0);
    } while (value != 0);
    return n;
}

// False when the bytes end first (*torn) or the varint runs past 64 bits.
bool GetVarint(const uint8_t* bytes, unsigned long long size, unsigned long long* at, uint64_t* value,
               bool* torn) {
    *value = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
        if (*at >= size) {
            *torn = true;
            return false;
        }
        uint8_t byte = bytes[(*at)++];
        *value |= uint64_t(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) return shift < 63 || (byte & 0x7f) <= 1;
    }
    return false;
}

// A header field's value: printable, no line end; cut to fit.
void Copy(char* to, unsigned capacity, const char* from, unsigned length) {
    if (length >= capacity) length = capacity - 1;
    unsigned n = 0;
    for (unsigned i = 0; i < length; ++i) {
        char c = from[i];
        to[n++] = (unsigned char)c < 0x20 || c == 0x7f ? '?' : c;
    }
    to[n] = '\0';
}

// The next blank-separated word of [*at, end) into `to`; false when none.
bool Word(const char** at, const char* end, char* to, unsigned capacity) {
    while (*at < end && **at == ' ') ++*at;
    const char* start = *at;
    while (*at < end && **at != ' ') ++*at;
    if (*at == start) return false;
    Copy(to, capacity, start, unsigned(*at - start));
    return true;
}

// MAPS ANSI BIT7, as `receive` and `drawn` give them.
void ReadDrawing(const char** at, const char* end, uint8_t* maps, bool* ansiHidden, bool* sevenBit) {
    char word[16];
    if (Word(at, end, word, sizeof word)) *maps = uint8_t(std::strtoul(word, nullptr, 10));
    if (Word(at, end, word, sizeof word)) *ansiHidden = std::strcmp(word, "ansi-hidden") == 0;
    if (Word(at, end, word, sizeof word)) *sevenBit = std::strcmp(word, "seven-bit") == 0;
}

void ReadField(const char* line, const char* end, RecordingHeader* header) {
    const char* space = static_cast<const char*>(std::memchr(line, ' ', size_t(end - line)));
    if (space == nullptr) return;
    size_t name = size_t(space - line);
    const char* value = space + 1;
    unsigned length = unsigned(end - value);
    if (name == 7 && std::memcmp(line, "program", 7) == 0) {
        Copy(header->program, sizeof header->program, value, length);
    } else if (name == 7 && std::memcmp(line, "started", 7) == 0) {
        Copy(header->started, sizeof header->started, value, length);
    } else if (name == 4 && std::memcmp(line, "line", 4) == 0 && header->lines < RecordingMaxLines) {
        RecordingHeader::Line& l = header->line[header->lines];
        const char* at = value;
        if (!Word(&at, end, l.label, sizeof l.label) || !Word(&at, end, l.settings, sizeof l.settings))
            return;
        while (at < end && *at == ' ') ++at;
        Copy(l.device, sizeof l.device, at, unsigned(end - at));
        ++header->lines;
    } else if (name == 7 && std::memcmp(line, "receive", 7) == 0) {
        const char* at = value;
        ReadDrawing(&at, end, &header->maps, &header->ansiHidden, &header->sevenBit);
    } else if (name == 5 && std::memcmp(line, "drawn", 5) == 0) {
        char word[16];
        const char* at = value;
        if (!Word(&at, end, word, sizeof word)) return;
        unsigned long index = std::strtoul(word, nullptr, 10);
        if (index >= RecordingMaxLines) return;
        RecordingHeader::Line& l = header->line[index];
        l.drawn = true;
        ReadDrawing(&at, end, &l.maps, &l.ansiHidden, &l.sevenBit);
    }  // else a field of a later version: skipped
}

}  // namespace

int RecordingLineIndex(const RecordingHeader& header, const char* label) {
    if (label[0] == '\0') return header.lines > 0 ? 0 : -1;
    for (unsigned i = 0; i < header.lines && i < RecordingMaxLines; ++i) {
        if (std::strcmp(header.line[i].label, label) == 0) return int(i);
    }
    return -1;
}

void ShowRecordedLine(RecordingHeader* header, unsigned index) {
    if (index >= RecordingMaxLines || !header->line[index].drawn) return;
    header->maps = header->line[index].maps;
    header->ansiHidden = header->line[index].ansiHidden;
    header->sevenBit = header->line[index].sevenBit;
}

unsigned WriteRecordingHeader(const RecordingHeader& header, char* out, unsigned capacity) {
    unsigned used = 0;
    auto add = [&](const char* format, const char* a, const char* b, const char* c) {
        if (used >= capacity) return;
        int n = std::snprintf(out + used, capacity - used, format, a, b, c);
        used = n < 0 ? capacity : used + unsigned(n);
    };
    char version[16];
    std::snprintf(version, sizeof version, "%u", RecordingVersion);
    add("%s%s\n%s", Magic, version, "");
    add("program %s\nstarted %s\n%s", header.program, header.started, "");
    // A field is one word: an empty one, or one with a blank, would shift the rest.
    auto word = [](const char* text, char* out, unsigned capacity) {
        unsigned n = 0;
        for (; text[n] != '\0' && n + 1 < capacity; ++n) out[n] = text[n] == ' ' ? '_' : text[n];
        out[n] = '\0';
        return n > 0 ? out : "-";
    };
    for (unsigned i = 0; i < header.lines && i < RecordingMaxLines; ++i) {
        char label[RecordingLabelCapacity], settings[64];
        add("line %s %s %s\n", word(header.line[i].label, label, sizeof label),
            word(header.line[i].settings, settings, sizeof settings),
            header.line[i].device[0] != '\0' ? header.line[i].device : "-");
    }
    char maps[8];
    std::snprintf(maps, sizeof maps, "%u", unsigned(header.maps));
    add("receive %s %s %s\n", maps, header.ansiHidden ? "ansi-hidden" : "ansi-shown",
        header.sevenBit ? "seven-bit" : "eight-bit");
    for (unsigned i = 1; i < header.lines && i < RecordingMaxLines; ++i) {
        const RecordingHeader::Line& l = header.line[i];
        if (!l.drawn) continue;
        char drawn[64];
        std::snprintf(drawn, sizeof drawn, "drawn %u %u", i, unsigned(l.maps));
        add("%s %s %s\n", drawn, l.ansiHidden ? "ansi-hidden" : "ansi-shown",
            l.sevenBit ? "seven-bit" : "eight-bit");
    }
    add("\n%s%s%s", "", "", "");
    return used < capacity ? used : 0;
}

unsigned ReadRecordingHeader(const uint8_t* bytes, unsigned long long size, RecordingHeader* header,
                             const char** problem) {
    std::memset(header, 0, sizeof *header);
    const unsigned magic = sizeof Magic - 1;
    const char* text = reinterpret_cast<const char*>(bytes);
    if (size < magic || std::memcmp(text, Magic, magic) != 0) {
        *problem = "not a brisvane recording";
        return 0;
    }
    // The header is text and short: a recording whose first 64 KiB hold no
    // empty line is not one this program can read.
    unsigned long long limit = size < 65536 ? size : 65536;
    const char* line = text;
    const char* end = text + limit;
    bool first = true;
    while (line < end) {
        const char* stop = static_cast<const char*>(std::memchr(line, '\n', size_t(end - line)));
        if (stop == nullptr) break;
        if (stop == line) {  // the empty line: events follow
            if (header->lines == 0) {
                *problem = "the recording names no line";
                return 0;
            }
            return unsigned(stop + 1 - text);
        }
        if (first) {
            header->version = unsigned(std::strtoul(line + magic, nullptr, 10));
            if (header->version != RecordingVersion) {
                *problem = header->version > RecordingVersion
                               ? "a recording of a later version: a newer brisvane reads it"
                               : "not a brisvane recording";
                return 0;
            }
            first = false;
        } else {
            ReadField(line, stop, header);
        }
        line = stop + 1;
    }
    *problem = "the recording's header is cut short";
    return 0;
}

unsigned EncodeEvent(uint8_t* out, RecordKind kind, uint8_t line, uint64_t delta, unsigned length) {
    unsigned n = 0;
    out[n++] = uint8_t(kind);
    out[n++] = line;
    n += PutVarint(out + n, delta);
    n += PutVarint(out + n, length);
    uint8_t sum = 0;
    for (unsigned i = 0; i < n; ++i) sum = uint8_t(sum + out[i]);
    out[n++] = sum ^ CheckMask;
    return n;
}

EventRead ReadEvent(const uint8_t* bytes, unsigned long long size, unsigned long long* offset, unsigned lines,
                    uint64_t* time, RecordEvent* event) {
    unsigned long long at = *offset;
    if (at >= size) return EventRead::End;
    if (size - at < 2) return EventRead::Torn;
    uint8_t kind = bytes[at], line = bytes[at + 1];
    at += 2;
    uint64_t delta = 0, length = 0;
    bool torn = false;
    if (!GetVarint(bytes, size, &at, &delta, &torn) || !GetVarint(bytes, size, &at, &length, &torn)) {
        return torn ? EventRead::Torn : EventRead::Broken;
    }
    if (at >= size) return EventRead::Torn;
    uint8_t sum = 0;
    for (unsigned long long i = *offset; i < at; ++i) sum = uint8_t(sum + bytes[i]);
    if (bytes[at] != (sum ^ CheckMask) || kind < uint8_t(RecordKind::Received) ||
        kind > uint8_t(RecordKind::Snapshot) || line >= lines || length > RecordingMaxPayload ||
        delta > (uint64_t(1) << 50)) {
        return EventRead::Broken;
    }
    ++at;
    if (size - at < length) return EventRead::Torn;
    event->kind = RecordKind(kind);
    event->line = line;
    *time += delta;
    event->time = *time;
    event->payload = bytes + at;
    event->length = unsigned(length);
    *offset = at + length;
    return EventRead::Event;
}

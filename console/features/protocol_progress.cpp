#include "console/features/protocol_progress.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

const char* SkipBlanks(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    return text;
}

// A number after blanks; `text` moves past it. False when none is there.
bool Number(const char** text, uint64_t* value) {
    const char* at = SkipBlanks(*text);
    if (*at < '0' || *at > '9') return false;
    char* end = nullptr;
    *value = std::strtoull(at, &end, 10);
    *text = end;
    return true;
}

void NameFile(ProtocolProgress& p, const char* name) {
    name = SkipBlanks(name);
    const char* end = name + std::strcspn(name, " ,");  // "Sending NAME, 12 blocks: ..."
    if (end == name) return;                            // a batch's empty closing name
    const char* base = name;
    for (const char* c = name; c < end; ++c) {
        if (*c == '/') base = c + 1;
    }
    // The file a send began with, named again: its size, known from the
    // start, stays.
    bool known = p.files == 0 && std::strlen(p.file) == size_t(end - base) &&
                 std::strncmp(p.file, base, size_t(end - base)) == 0;
    std::snprintf(p.file, sizeof p.file, "%.*s", int(end - base), base);
    if (!known) p.bytes = p.total = 0;
    ++p.files;
}

// "N/ TOTAL" or "N" after a label: bytes, and the total when given.
void ByteCounts(ProtocolProgress& p, const char* text) {
    uint64_t value;
    if (!Number(&text, &value)) return;
    p.bytes = value;
    if (*text == '/' && Number(&++text, &value)) p.total = value;
}

}  // namespace

void ReadProgressLine(ProtocolProgress& p, const char* line) {
    line = SkipBlanks(line);
    if (*line == '\0') return;
    static const char* const ByteLabels[] = {"Bytes Sent:", "Bytes received:"};
    for (const char* label : ByteLabels) {
        if (StartsWith(line, label)) {
            ByteCounts(p, line + std::strlen(label));
            return;
        }
    }
    // "Ymodem sectors/kbytes sent:  24/ 3k": sectors of 128 bytes.
    const char* sectors = std::strstr(line, "sectors/kbytes sent:");
    if (sectors != nullptr) {
        const char* at = sectors + std::strlen("sectors/kbytes sent:");
        uint64_t count;
        // Only forward: a batch's closing empty name counts from 0 again.
        if (Number(&at, &count) && count * 128 > p.bytes) p.bytes = count * 128;
        return;
    }
    if (StartsWith(line, "Blocks received:")) return;  // the block size is not said
    if (StartsWith(line, "Sending:") || StartsWith(line, "Receiving:")) {
        NameFile(p, std::strchr(line, ':') + 1);
        return;
    }
    if (StartsWith(line, "Sending ")) {  // XMODEM: "Sending PATH, N blocks: ..."
        NameFile(p, line + std::strlen("Sending "));
        return;
    }
    if (StartsWith(line, "Retry ")) ++p.errors;
    if (std::strcmp(line, "Transfer complete") == 0) {
        p.complete = true;
        return;
    }
    if (std::strcmp(line, "Transfer incomplete") == 0) return;  // the exit status says it
    if (std::strstr(line, "caught signal") != nullptr && p.message[0] != '\0')
        return;  // the reason came before
    std::snprintf(p.message, sizeof p.message, "%s", line);
}

int ProgressPercent(const ProtocolProgress& p) {
    if (p.total == 0) return -1;
    if (p.bytes >= p.total) return 100;
    return int(p.bytes * 100 / p.total);
}

void ProgressReader::Take(ProtocolProgress& p, const uint8_t* bytes, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        char c = char(bytes[i]);
        if (c == '\r' || c == '\n') {
            Finish(p);
        } else if (length_ + 1 < sizeof line_ && c != '\0') {
            line_[length_++] = c;
        }
    }
}

void ProgressReader::Finish(ProtocolProgress& p) {
    line_[length_] = '\0';
    if (length_ > 0) ReadProgressLine(p, line_);
    length_ = 0;
}

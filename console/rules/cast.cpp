#include "console/rules/cast.h"

#include <cstdio>

namespace {

void PutUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xc0 | (code >> 6));
        out += char(0x80 | (code & 0x3f));
    } else {
        out += char(0xe0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3f));
        out += char(0x80 | (code & 0x3f));
    }
}

void Address(std::string& out, int row, int column) {
    char text[32];
    std::snprintf(text, sizeof text, "\x1b[%d;%dH", row + 1, column + 1);
    out += text;
}

}  // namespace

std::string CastHeader(long long timestamp) {
    char text[96];
    std::snprintf(text, sizeof text, "{\"version\": 2, \"width\": %d, \"height\": %d, \"timestamp\": %lld}\n",
                  ScreenColumns, ScreenRows, timestamp);
    return text;
}

std::string CastLine(double seconds, const char* code, const std::string& text) {
    char head[48];
    std::snprintf(head, sizeof head, "[%.6f, \"%s\", \"", seconds, code);
    std::string out = head;
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"]\n";
}

std::string CastFrame(const Cell* before, const Cell* after, int row, int column, bool cursorMoved) {
    std::string out;
    if (before == nullptr) out = "\x1b[H\x1b[2J";
    for (int r = 0; r < ScreenRows; ++r) {
        const Cell* now = after + r * ScreenColumns;
        bool same = before != nullptr;
        for (int c = 0; same && c < ScreenColumns; ++c) same = before[r * ScreenColumns + c] == now[c];
        if (same) continue;
        int length = ScreenColumns;
        while (length > 0 && now[length - 1] == BlankCell) --length;
        Address(out, r, 0);
        for (int c = 0; c < length; ++c) PutUtf8(out, now[c] < 0x20 ? '?' : now[c]);
        if (length < ScreenColumns) out += "\x1b[K";
    }
    if (!out.empty() || cursorMoved) Address(out, row, column);
    return out;
}

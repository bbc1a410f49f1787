#include "console/rules/web_view.h"

#include <cstdio>
#include <cstring>

namespace {

// Appends to a message; past its capacity it stops and remembers it failed.
struct Writer {
    char* out;
    unsigned capacity;
    unsigned length = 0;
    bool full = false;

    void Raw(const char* text, unsigned count) {
        if (full || count > capacity - length) {
            full = true;
            return;
        }
        std::memcpy(out + length, text, count);
        length += count;
    }
    void Text(const char* text) { Raw(text, unsigned(std::strlen(text))); }
    void Number(uint64_t value) {
        char digits[24];
        int count = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(value));
        Raw(digits, unsigned(count));
    }
    // One character as JSON string content, in UTF-8.
    void Character(unsigned code) {
        char bytes[8];
        unsigned count = 0;
        if (code == '"' || code == '\\') {
            bytes[count++] = '\\';
            bytes[count++] = char(code);
        } else if (code < 0x20 || code == 0x7F) {
            count = unsigned(std::snprintf(bytes, sizeof bytes, "\\u%04x", code));
        } else if (code < 0x80) {
            bytes[count++] = char(code);
        } else {
            if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;  // half a pair shows as a replacement
            if (code < 0x800) {
                bytes[count++] = char(0xC0 | (code >> 6));
            } else {
                bytes[count++] = char(0xE0 | (code >> 12));
                bytes[count++] = char(0x80 | ((code >> 6) & 0x3F));
            }
            bytes[count++] = char(0x80 | (code & 0x3F));
        }
        Raw(bytes, count);
    }
    void Cells(const Cell* cells) {
        Raw("\"", 1);
        for (int column = 0; column < ScreenColumns; ++column) Character(cells[column]);
        Raw("\"", 1);
    }
    void String(const char* text) {
        Raw("\"", 1);
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
            // Our own text is UTF-8 already: only what JSON needs is escaped.
            if (*p == '"' || *p == '\\' || *p < 0x20) {
                Character(*p);
            } else {
                Raw(reinterpret_cast<const char*>(p), 1);
            }
        }
        Raw("\"", 1);
    }
};

void CopyField(char* field, const char* text) {
    std::snprintf(field, WebFieldCapacity, "%s", text != nullptr ? text : "");
}

}  // namespace

void ResetWebShown(WebShown& shown) {
    for (Cell& cell : shown.cells) cell = BlankCell;
    shown.cursorRow = shown.cursorColumn = 0;
    shown.cursorVisible = false;
    shown.line[0] = shown.speed[0] = shown.who[0] = '\0';
    shown.log = false;
}

WebChange NoteWebFrame(WebShown& shown, const WebFrame& frame) {
    WebChange change;
    for (int row = 0; row < ScreenRows; ++row) {
        Cell* cells = shown.cells + row * ScreenColumns;
        if (std::memcmp(cells, frame.rows[row], ScreenColumns * sizeof(Cell)) == 0) continue;
        std::memcpy(cells, frame.rows[row], ScreenColumns * sizeof(Cell));
        change.rows |= 1u << row;
    }
    if (frame.cursorRow != shown.cursorRow || frame.cursorColumn != shown.cursorColumn ||
        frame.cursorVisible != shown.cursorVisible) {
        shown.cursorRow = frame.cursorRow;
        shown.cursorColumn = frame.cursorColumn;
        shown.cursorVisible = frame.cursorVisible;
        change.cursor = true;
    }
    auto differs = [](const char* field, const char* text) {
        return std::strncmp(field, text != nullptr ? text : "", WebFieldCapacity - 1) != 0;
    };
    if (differs(shown.line, frame.line) || differs(shown.speed, frame.speed) ||
        differs(shown.who, frame.who) || shown.log != frame.log) {
        CopyField(shown.line, frame.line);
        CopyField(shown.speed, frame.speed);
        CopyField(shown.who, frame.who);
        shown.log = frame.log;
        change.status = true;
    }
    return change;
}

void MarkWebView(WebPageView& view, const WebChange& change) {
    view.rows |= change.rows;
    view.cursor = view.cursor || change.cursor;
    view.status = view.status || change.status;
}

unsigned ComposeWebUpdate(WebPageView& view, const WebShown& shown, WebRole role, char* out,
                          unsigned capacity) {
    if (!view.Pending() || capacity < WebMessageCapacity) return 0;
    Writer w = {out, capacity};
    w.Text("{\"t\":\"u\"");
    if (view.rows != 0) {
        w.Text(",\"rows\":[");
        bool first = true;
        for (int row = 0; row < ScreenRows; ++row) {
            if ((view.rows & (1u << row)) == 0) continue;
            w.Text(first ? "[" : ",[");
            first = false;
            w.Number(unsigned(row));
            w.Text(",");
            w.Cells(shown.cells + row * ScreenColumns);
            w.Text("]");
        }
        w.Text("]");
    }
    if (view.cursor) {
        w.Text(",\"cursor\":[");
        w.Number(unsigned(shown.cursorRow));
        w.Text(",");
        w.Number(unsigned(shown.cursorColumn));
        w.Text(shown.cursorVisible ? ",true]" : ",false]");
    }
    if (view.status) {
        w.Text(",\"status\":{\"role\":");
        w.String(role == WebRole::Writer ? "writing" : "watching");
        w.Text(",\"line\":");
        w.String(shown.line);
        w.Text(",\"speed\":");
        w.String(shown.speed);
        w.Text(",\"who\":");
        w.String(shown.who);
        w.Text(shown.log ? ",\"log\":true}" : ",\"log\":false}");
    }
    w.Text("}");
    view = WebPageView{0, false, false};
    return w.full ? 0 : w.length;
}

unsigned ComposeWebHistory(const History& history, const WebShown& shown, uint64_t first, char* out,
                           unsigned capacity) {
    if (capacity < WebMessageCapacity) return 0;
    if (first < history.Oldest()) first = history.Oldest();
    if (first > history.End()) first = history.End();
    Writer w = {out, capacity};
    w.Text("{\"t\":\"h\",\"first\":");
    w.Number(first);
    w.Text(",\"oldest\":");
    w.Number(history.Oldest());
    w.Text(",\"end\":");
    w.Number(history.End());
    w.Text(",\"rows\":[");
    Cell cells[ScreenColumns];
    for (int i = 0; i < ScreenRows; ++i) {
        uint64_t number = first + unsigned(i);
        const Cell* row = cells;
        if (number < history.End()) {
            history.Row(number, cells);
        } else {
            row = shown.cells + (number - history.End()) * ScreenColumns;
        }
        if (i > 0) w.Text(",");
        w.Cells(row);
    }
    w.Text("]}");
    return w.full ? 0 : w.length;
}

unsigned ComposeWebNotice(const char* text, char* out, unsigned capacity) {
    Writer w = {out, capacity};
    w.Text("{\"t\":\"n\",\"text\":");
    w.String(text);
    w.Text("}");
    return w.full ? 0 : w.length;
}

uint64_t WebReplayAt(const WebReplay& replay, int64_t now) {
    double moved =
        replay.paused || now <= replay.since ? 0 : double(now - replay.since) * 1000 * replay.speed;
    uint64_t at = replay.at + uint64_t(moved);
    return at < replay.length ? at : replay.length;
}

bool WebReplayDiffers(const WebReplay& told, const WebReplay& replay, int64_t now) {
    if (told.on != replay.on || told.paused != replay.paused || told.length != replay.length ||
        told.speed != replay.speed)
        return true;
    uint64_t shown = WebReplayAt(told, now), at = WebReplayAt(replay, now);
    return (shown > at ? shown - at : at - shown) > 250000;
}

unsigned ComposeWebReplay(const WebReplay& replay, int64_t now, bool maySeek, char* out, unsigned capacity) {
    if (!replay.on) return 0;
    Writer w = {out, capacity};
    char speed[32];
    std::snprintf(speed, sizeof speed, "%g", replay.speed);
    w.Text("{\"t\":\"r\",\"at\":");
    w.Number(WebReplayAt(replay, now) / 1000);
    w.Text(",\"length\":");
    w.Number(replay.length / 1000);
    w.Text(replay.paused ? ",\"paused\":true,\"speed\":" : ",\"paused\":false,\"speed\":");
    w.Text(speed);
    w.Text(maySeek ? ",\"seek\":true,\"marks\":[" : ",\"seek\":false,\"marks\":[");
    const unsigned room = 512;  // the longest mark escaped, and the message's end
    for (unsigned i = 0; i < replay.markCount && w.length + room < capacity; ++i) {
        char name[64];
        unsigned n = 0;
        for (const char* p = replay.marks[i].name; p != nullptr && *p != '\0' && n < sizeof name - 1; ++p)
            name[n++] = (unsigned char)*p < 0x80 ? *p : '?';
        name[n] = '\0';
        if (i > 0) w.Text(",");
        w.Text("[");
        w.Number(replay.marks[i].time / 1000);
        w.Text(",");
        w.String(name);
        w.Text("]");
    }
    w.Text("]}");
    return w.full ? 0 : w.length;
}

#include "console/rules/timeline.h"

#include <cstring>
#include <new>

namespace {

// A cut may have split a character: its first bytes go too.
unsigned WholeCharacters(const char* text, unsigned length) {
    unsigned at = length;
    while (at > 0 && length - at < 3 && (uint8_t(text[at - 1]) & 0xC0) == 0x80) --at;
    if (at == 0) return length;
    uint8_t lead = uint8_t(text[at - 1]);
    if (lead < 0xC0) return length;
    unsigned wanted = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    return length - (at - 1) < wanted ? at - 1 : length;
}

void EndRow(Timeline& timeline, Timeline::Pending& pending) {
    TimelineRow& row = pending.row;
    if (pending.cut) row.length = uint8_t(WholeCharacters(row.text, row.length));
    row.text[row.length] = '\0';
    timeline.Push(row);
    pending.begun = false;
}

}  // namespace

bool Timeline::Allocate(uint32_t rows) {
    rows_.reset();
    capacity_ = 0;
    pushed_ = 0;
    for (Pending& line : pending) line.begun = false;
    if (rows == 0) return true;
    rows_.reset(new (std::nothrow) TimelineRow[rows]);
    if (!rows_) return false;
    capacity_ = rows;
    return true;
}

const TimelineRow* Timeline::Row(uint64_t number) const {
    if (number < Oldest() || number >= pushed_) return nullptr;
    return &rows_[number % capacity_];
}

void Timeline::Push(const TimelineRow& row) {
    if (capacity_ == 0) return;
    rows_[pushed_ % capacity_] = row;
    ++pushed_;
}

void Timeline::Clear() {
    pushed_ = 0;
    for (Pending& line : pending) line.begun = false;
}

void TimelineFeed(Timeline& timeline, unsigned line, const uint8_t* bytes, unsigned count, int64_t monoMicros,
                  const struct timespec& wall, uint64_t historyEnd) {
    if (line >= TimelineLines) return;
    Timeline::Pending& pending = timeline.pending[line];
    TimelineRow& row = pending.row;
    for (unsigned i = 0; i < count; ++i) {
        if (!pending.begun) {
            pending.begun = true;
            pending.cut = false;
            row.line = uint8_t(line);
            row.length = 0;
            row.micros = monoMicros;
            row.wall = wall;
            row.historyEnd = historyEnd;
        }
        uint8_t byte = bytes[i];
        if (byte == '\n') {
            EndRow(timeline, pending);
            continue;
        }
        if (byte == '\t') byte = ' ';
        if (byte < 0x20 || byte == 0x7F) continue;
        if (row.length < TimelineTextMax) {
            row.text[row.length++] = char(byte);
        } else {
            pending.cut = true;
        }
    }
}

void TimelineFlushLine(Timeline& timeline, unsigned line) {
    if (line < TimelineLines && timeline.pending[line].begun) EndRow(timeline, timeline.pending[line]);
}

struct timespec TimelinePrevious(const Timeline& timeline, uint64_t number, const struct timespec& start) {
    if (number == 0) return start;
    const TimelineRow* before = timeline.Row(number - 1);
    if (before != nullptr) return before->wall;
    const TimelineRow* row = timeline.Row(number);
    return row != nullptr ? row->wall : start;
}

unsigned TimelineLabelWidth(const char* const* labels, unsigned count) {
    size_t widest = 0;
    for (unsigned i = 0; labels != nullptr && i < count; ++i) {
        if (labels[i] != nullptr && std::strlen(labels[i]) > widest) widest = std::strlen(labels[i]);
    }
    return unsigned(widest);
}

unsigned FormatTimelineRow(const TimelineRow& row, const char* label, unsigned labelWidth,
                           const StampStyle& style, const struct timespec& start,
                           const struct timespec& previous, char* out, unsigned capacity, StampCache* cache,
                           unsigned* textAt) {
    if (capacity == 0) return 0;
    unsigned n = FormatStamp(style, row.wall, start, previous, out, capacity, cache);
    auto put = [&](char c) {
        if (n + 1 < capacity) out[n++] = c;
    };
    if (label == nullptr) label = "";
    unsigned width = 0;
    for (; label[width] != '\0'; ++width) put(label[width]);
    for (; width < labelWidth; ++width) put(' ');
    if (width > 0) put(' ');
    if (textAt != nullptr) *textAt = n;
    for (unsigned i = 0; i < row.length; ++i) put(row.text[i]);
    out[n] = '\0';
    return n;
}

unsigned FormatTimelineNumber(const Timeline& timeline, uint64_t number, const TimelineStyle& style,
                              char* out, unsigned capacity, StampCache* cache, unsigned* textAt) {
    const TimelineRow* row = timeline.Row(number);
    if (row == nullptr) {
        if (capacity > 0) out[0] = '\0';
        return 0;
    }
    const char* label = style.labels != nullptr ? style.labels[row->line] : nullptr;
    return FormatTimelineRow(*row, label, style.labelWidth, style.stamp, style.start,
                             TimelinePrevious(timeline, number, style.start), out, capacity, cache, textAt);
}

bool FindInTimeline(const Timeline& timeline, const char* text, uint64_t from, bool older, uint64_t* found,
                    unsigned* column) {
    if (text == nullptr || text[0] == '\0' || timeline.Count() == 0) return false;
    uint64_t first = timeline.Oldest(), last = timeline.End() - 1;
    if (from < first) from = first;
    if (from > last) from = last;
    for (uint64_t number = from;; number = older ? number - 1 : number + 1) {
        const TimelineRow* row = timeline.Row(number);
        if (row == nullptr) return false;  // cannot be: every number from first to last is kept
        const char* at = std::strstr(row->text, text);
        if (at != nullptr) {
            *found = number;
            if (column != nullptr) *column = unsigned(at - row->text);
            return true;
        }
        if (older ? number == first : number == last) return false;
    }
}

// The timeline: every line's received text, one row per text line, in the
// order the lines ended (their LF arrived), in a ring of a fixed number of
// rows allocated once at start-up. A row keeps which line (0..8) it came
// from, the monotonic and wall time of its first byte, the line's history
// End() when it began (where that line's history view shows it), and up
// to 160 bytes of text: a longer line is cut there (at a character's edge)
// and the rest of it dropped.
//
// Each line has an assembler that gathers the row in the making: CR and
// the other control bytes are dropped (a TAB becomes a blank), bytes from
// 0x80 kept as they are; an empty line is a row too. Since rows are ordered
// by their end, a row may begin before the row above it.
//
// Rows are numbered as history.h numbers them: Oldest() is the first still
// kept, End() the number the next one will get. Pure: the caller gives the
// times; nothing allocates after Allocate.
#ifndef BRISVANE_CONSOLE_TIMELINE_H
#define BRISVANE_CONSOLE_TIMELINE_H

#include <cstdint>
#include <ctime>
#include <memory>

#include "console/rules/timestamp.h"

const unsigned TimelineLines = 9;
const unsigned TimelineTextMax = 160;

struct TimelineRow {
    uint8_t line;                    // 0..TimelineLines-1
    uint8_t length;                  // bytes of text
    int64_t micros;                  // monotonic µs of its first byte
    struct timespec wall;            // wall time of its first byte
    uint64_t historyEnd;             // the line's history End() when the row began
    char text[TimelineTextMax + 1];  // NUL-ended; never holds a NUL or control byte
};

class Timeline {
public:
    // Room for `rows` rows (0: keep none). False when the memory cannot be had.
    bool Allocate(uint32_t rows);
    uint32_t Capacity() const { return capacity_; }

    uint64_t End() const { return pushed_; }
    uint64_t Oldest() const { return pushed_ > capacity_ ? pushed_ - capacity_ : 0; }
    uint64_t Count() const { return pushed_ - Oldest(); }

    // Row `number`, or nullptr when it is not kept.
    const TimelineRow* Row(uint64_t number) const;
    // Keeps a copy of `row` as row End(). Does nothing without room.
    void Push(const TimelineRow& row);
    // No rows and none in the making, numbered from 0 again; the room stays.
    void Clear();

    // Each line's row in the making (begun: a byte of it has arrived).
    struct Pending {
        bool begun = false;
        bool cut = false;  // the text filled: the rest of the line is dropped
        TimelineRow row;
    };
    Pending pending[TimelineLines];

private:
    std::unique_ptr<TimelineRow[]> rows_;
    uint32_t capacity_ = 0;
    uint64_t pushed_ = 0;
};

// Received text of `line` (after the line-end maps and the ANSI filter),
// all of it arrived at `monoMicros` / `wall`; `historyEnd` is that line's
// history End() now. Appends a row at each LF. A line out of range is ignored.
void TimelineFeed(Timeline& timeline, unsigned line, const uint8_t* bytes, unsigned count, int64_t monoMicros,
                  const struct timespec& wall, uint64_t historyEnd);
// Ends the line's partial row, if any, as a row (the line went down, or at exit).
void TimelineFlushLine(Timeline& timeline, unsigned line);

// The time the stamp of row `number` counts from for a delta: the row
// before's, `start` for row 0, the row's own when the one before is gone.
struct timespec TimelinePrevious(const Timeline& timeline, uint64_t number, const struct timespec& start);

// The widest of `count` labels (nullptr counts as ""), to pad them to.
unsigned TimelineLabelWidth(const char* const* labels, unsigned count);

// How rows are shown: `labels` holds one per line index (nullptr, or a
// nullptr label: none), padded to `labelWidth`; stamps count from `start`.
struct TimelineStyle {
    const char* const* labels = nullptr;
    unsigned labelWidth = 0;
    StampStyle stamp = {};
    struct timespec start = {0, 0};
};

// "STAMP LABEL TEXT" NUL-ended into `out`: the stamp as FormatStamp makes
// it (ending in a blank), the label padded with blanks to `labelWidth` and
// a blank (nothing at all for an empty label and width 0), then the text.
// Cut to `capacity` - 1; returns the length. *textAt (when given) is where
// the text begins in `out`.
unsigned FormatTimelineRow(const TimelineRow& row, const char* label, unsigned labelWidth,
                           const StampStyle& style, const struct timespec& start,
                           const struct timespec& previous, char* out, unsigned capacity,
                           StampCache* cache = nullptr, unsigned* textAt = nullptr);

// Row `number` as FormatTimelineRow makes it with `style`, its delta
// counted from TimelinePrevious. 0 (an empty `out`) when it is not kept.
unsigned FormatTimelineNumber(const Timeline& timeline, uint64_t number, const TimelineStyle& style,
                              char* out, unsigned capacity, StampCache* cache = nullptr,
                              unsigned* textAt = nullptr);

// Finds `text` (plain bytes, not empty) in the rows' text from row `from`
// (taken into the kept rows) towards older rows (`older`) or newer ones.
// True with the row in *found and the byte where it starts in *column.
bool FindInTimeline(const Timeline& timeline, const char* text, uint64_t from, bool older, uint64_t* found,
                    unsigned* column = nullptr);

#endif

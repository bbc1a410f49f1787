#include "console/rules/recorded_timeline.h"

#include <cstdio>
#include <cstring>

namespace {

void Restart(RecordedTimeline& r) {
    r.offset = r.events;
    r.clock = r.until = 0;
    for (unsigned i = 0; i < TimelineLines; ++i) {
        r.rows[i] = 0;
        r.map[i] = ReceivedMap();
        r.ansi[i] = AnsiFilter();
        r.ansi[i].hide = r.hidden[i];
        r.ansi[i].eightBit = r.eightBit[i];
    }
}

// Text of `line`, a row at a time so each row knows the rows before it.
void FeedText(RecordedTimeline& r, Timeline& timeline, unsigned line, const uint8_t* text, unsigned count,
              uint64_t time) {
    int64_t micros = int64_t(time);
    struct timespec wall = r.started;
    wall.tv_sec += time_t(time / 1000000);
    wall.tv_nsec += long(time % 1000000) * 1000;
    if (wall.tv_nsec >= 1000000000) {
        wall.tv_nsec -= 1000000000;
        ++wall.tv_sec;
    }
    while (count > 0) {
        const void* feed = std::memchr(text, '\n', count);
        unsigned piece = feed != nullptr ? unsigned(static_cast<const uint8_t*>(feed) - text) + 1 : count;
        TimelineFeed(timeline, line, text, piece, micros, wall, r.rows[line]);
        if (feed != nullptr) ++r.rows[line];
        text += piece;
        count -= piece;
    }
}

}  // namespace

bool RecordingStarted(const char* started, struct timespec* wall) {
    struct tm utc = {};
    int used = 0;
    if (std::sscanf(started, "%d-%d-%dT%d:%d:%d%n", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec, &used) != 6)
        return false;
    long nanos = 0, scale = 100000000;
    if (started[used] == '.') {
        for (const char* at = started + used + 1; *at >= '0' && *at <= '9'; ++at, scale /= 10)
            nanos += (*at - '0') * scale;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    time_t seconds = timegm(&utc);
    if (seconds == time_t(-1)) return false;
    wall->tv_sec = seconds;
    wall->tv_nsec = nanos;
    return true;
}

void StartRecordedTimeline(RecordedTimeline& r, const uint8_t* bytes, unsigned long long size,
                           unsigned long long events, const RecordingHeader& header) {
    r.bytes = bytes;
    r.size = size;
    r.events = events;
    r.lines = header.lines < TimelineLines ? header.lines : TimelineLines;
    if (!RecordingStarted(header.started, &r.started)) r.started = {0, 0};
    for (unsigned i = 0; i < TimelineLines; ++i) {
        RecordingHeader drawn = header;
        ShowRecordedLine(&drawn, i);
        r.maps[i] = drawn.maps;
        r.hidden[i] = drawn.ansiHidden;
        // "115200,n,7,1": seven data bits, so 0x9B is no sequence's start.
        const char* comma = std::strchr(header.line[i].settings, ',');
        if (comma != nullptr) comma = std::strchr(comma + 1, ',');
        r.eightBit[i] = comma == nullptr || comma[1] != '7';
    }
    Restart(r);
}

void RecordedTimelineTo(RecordedTimeline& r, Timeline& timeline, uint64_t time) {
    if (r.bytes == nullptr) return;
    if (time < r.until) {
        timeline.Clear();
        Restart(r);
    }
    r.until = time;
    RecordEvent event;
    for (;;) {
        unsigned long long offset = r.offset;
        uint64_t clock = r.clock;
        if (ReadEvent(r.bytes, r.size, &offset, r.lines, &clock, &event) != EventRead::Event ||
            event.time > time)
            return;
        r.offset = offset;
        r.clock = clock;
        if (event.kind != RecordKind::Received || event.line >= r.lines) continue;
        unsigned line = event.line;
        for (unsigned done = 0; done < event.length; done += RecordedTimelineBlock) {
            unsigned part =
                event.length - done < RecordedTimelineBlock ? event.length - done : RecordedTimelineBlock;
            const uint8_t* text = event.payload + done;
            unsigned count = part;
            if (r.maps[line] & ReceivedMaps) {
                count = r.map[line].Apply(r.maps[line], text, count, r.mapped);
                text = r.mapped;
            }
            count = FilterAnsi(r.ansi[line], text, count, r.shown);
            FeedText(r, timeline, line, r.shown, count, event.time);
        }
    }
}

uint64_t RecordedRowHistory(const RecordedTimeline& r, const TimelineRow& row, uint64_t historyEnd) {
    uint64_t since =
        row.line < TimelineLines && r.rows[row.line] > row.historyEnd ? r.rows[row.line] - row.historyEnd : 0;
    return historyEnd > since ? historyEnd - since : 0;
}

// The timeline of a recording of several lines, as the live session's was:
// each line's received bytes through that line's received line-end maps and
// ANSI rule (as the header says it drew), in the recorded order, into rows
// stamped with the recording's own times (its start plus the event's time),
// up to a time. A time before the last one fed starts over from the
// recording's start, the timeline emptied first.
//
// A row's historyEnd is here the count of its line's rows before it: a
// replayed line's history numbers its rows afresh after a seek, so where a
// row lies in it is reckoned back from the rows since (RecordedRowHistory).
// Pure: reads the caller's bytes; nothing allocates.
#ifndef BRISVANE_CONSOLE_RECORDED_TIMELINE_H
#define BRISVANE_CONSOLE_RECORDED_TIMELINE_H

#include <cstdint>
#include <ctime>

#include "console/rules/ansi_filter.h"
#include "console/rules/line_maps.h"
#include "console/rules/recording.h"
#include "console/rules/timeline.h"

const unsigned RecordedTimelineBlock = 16384;

struct RecordedTimeline {
    const uint8_t* bytes = nullptr;
    unsigned long long size = 0, events = 0;
    unsigned lines = 0;
    struct timespec started = {0, 0};  // the wall clock at the recording's time 0
    uint8_t maps[TimelineLines] = {};
    bool hidden[TimelineLines] = {}, eightBit[TimelineLines] = {};
    // Where the feeding stands: the next event, the time before it, the time fed up to.
    unsigned long long offset = 0;
    uint64_t clock = 0, until = 0;
    uint64_t rows[TimelineLines] = {};  // each line's rows so far (its line feeds)
    ReceivedMap map[TimelineLines];
    AnsiFilter ansi[TimelineLines];
    uint8_t mapped[2 * RecordedTimelineBlock];
    uint8_t shown[2 * RecordedTimelineBlock + AnsiFilterSlack];
};

// For the recording in `bytes` (its events from `events`), its header read.
void StartRecordedTimeline(RecordedTimeline& recorded, const uint8_t* bytes, unsigned long long size,
                           unsigned long long events, const RecordingHeader& header);

// Feeds `timeline` every event up to `time` µs of the recording.
void RecordedTimelineTo(RecordedTimeline& recorded, Timeline& timeline, uint64_t time);

// Where `row` began in its line's history, that history's End() being
// `historyEnd` now (every row since scrolled one away).
uint64_t RecordedRowHistory(const RecordedTimeline& recorded, const TimelineRow& row, uint64_t historyEnd);

// The header's "started" (2026-12-08T10:49:57.123456Z) as a wall time;
// false when it does not read as one.
bool RecordingStarted(const char* started, struct timespec* wall);

#endif

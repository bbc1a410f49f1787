// The timeline view: the timeline's rows (stamp, label, text) shown 24 at a
// time and cut at 80 columns, moved by keys and searched backwards and
// forwards in the rows' text. It opens on the newest rows and stays on the
// rows the user put it on while new ones arrive. A byte from 0x80 shows as
// '?' (one cell a byte, so a match's column is its byte's).
//
// The selected row, the one Enter picks, is the match while it is shown,
// else the bottom row shown. Pure: it reads the timeline and fills rows.
#ifndef BRISVANE_CONSOLE_TIMELINE_VIEW_H
#define BRISVANE_CONSOLE_TIMELINE_VIEW_H

#include <cstdint>

#include "console/rules/history_view.h"
#include "console/rules/timeline.h"
#include "core/screen.h"

struct TimelineView {
    bool open = false;
    uint64_t top = 0;        // number of the top row shown
    uint64_t endAtOpen = 0;  // timeline's End() when the view opened
    char search[80] = "";    // the text last searched for
    bool haveMatch = false;
    uint64_t matchRow = 0;
    unsigned matchOffset = 0;  // the match's first byte in the row's text
    int matchRowShown = -1;    // after TimelineViewRows: the match's screen row and
    int matchColumn = -1;      // column, or -1 when it is not on the screen
    Cell rows[ScreenCells];    // the rows shown, filled by TimelineViewRows
};

// Opens on the newest rows.
void OpenTimelineView(TimelineView& view, const Timeline& timeline);
void MoveTimelineView(TimelineView& view, const Timeline& timeline, ViewMove move);

// Finds `view.search` from the row past the match (or from the bottom row
// shown going older, the top row going newer) and moves the view to show
// it. False when there is no such row (the view stays).
bool FindInTimelineView(TimelineView& view, const Timeline& timeline, bool older);

// The row Enter picks; false when the timeline shows none.
bool SelectedTimelineRow(const TimelineView& view, const Timeline& timeline, uint64_t* number);

// Fills view.rows with the 24 rows from view.top, blank below the newest.
void TimelineViewRows(TimelineView& view, const Timeline& timeline, const TimelineStyle& style,
                      StampCache* cache = nullptr);

// Rows that arrived since the view opened.
inline uint64_t NewTimelineRows(const TimelineView& view, const Timeline& timeline) {
    return timeline.End() - view.endAtOpen;
}

#endif

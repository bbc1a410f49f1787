#include "console/rules/timeline_view.h"

namespace {

uint64_t NewestTop(const Timeline& timeline) {
    uint64_t end = timeline.End(), oldest = timeline.Oldest();
    return end - oldest > uint64_t(ScreenRows) ? end - ScreenRows : oldest;
}

void Clamp(TimelineView& view, const Timeline& timeline) {
    if (view.top > NewestTop(timeline)) view.top = NewestTop(timeline);
    if (view.top < timeline.Oldest()) view.top = timeline.Oldest();
}

bool Shown(const TimelineView& view, uint64_t number) {
    return number >= view.top && number < view.top + ScreenRows;
}

}  // namespace

void OpenTimelineView(TimelineView& view, const Timeline& timeline) {
    view.open = true;
    view.top = NewestTop(timeline);
    view.endAtOpen = timeline.End();
    view.haveMatch = false;
}

void MoveTimelineView(TimelineView& view, const Timeline& timeline, ViewMove move) {
    view.top = MovedTop(view.top, move, timeline.Oldest(), NewestTop(timeline));
    Clamp(view, timeline);
}

bool FindInTimelineView(TimelineView& view, const Timeline& timeline, bool older) {
    if (view.search[0] == '\0' || timeline.Count() == 0) return false;
    Clamp(view, timeline);
    uint64_t start;
    if (view.haveMatch && timeline.Row(view.matchRow) != nullptr) {
        if (older ? view.matchRow == timeline.Oldest() : view.matchRow + 1 == timeline.End()) return false;
        start = older ? view.matchRow - 1 : view.matchRow + 1;
    } else {
        start = older ? view.top + ScreenRows - 1 : view.top;
    }
    uint64_t found;
    unsigned offset;
    if (!FindInTimeline(timeline, view.search, start, older, &found, &offset)) return false;
    view.haveMatch = true;
    view.matchRow = found;
    view.matchOffset = offset;
    if (!Shown(view, found)) {
        view.top = found > ScreenRows / 2 ? found - ScreenRows / 2 : 0;  // the match mid-page
        Clamp(view, timeline);
    }
    return true;
}

bool SelectedTimelineRow(const TimelineView& view, const Timeline& timeline, uint64_t* number) {
    if (view.haveMatch && Shown(view, view.matchRow) && timeline.Row(view.matchRow) != nullptr) {
        *number = view.matchRow;
        return true;
    }
    uint64_t top = view.top < timeline.Oldest() ? timeline.Oldest() : view.top;
    if (top >= timeline.End()) return false;
    uint64_t bottom = top + ScreenRows - 1;
    *number = bottom < timeline.End() ? bottom : timeline.End() - 1;
    return true;
}

void TimelineViewRows(TimelineView& view, const Timeline& timeline, const TimelineStyle& style,
                      StampCache* cache) {
    Clamp(view, timeline);  // the ring may have forgotten the rows shown
    view.matchRowShown = view.matchColumn = -1;
    char text[StampCapacity + 2 * TimelineTextMax];
    for (int i = 0; i < ScreenRows; ++i) {
        uint64_t number = view.top + uint64_t(i);
        unsigned textAt = 0;
        unsigned length = FormatTimelineNumber(timeline, number, style, text, sizeof text, cache, &textAt);
        Cell* cells = &view.rows[i * ScreenColumns];
        for (unsigned c = 0; c < unsigned(ScreenColumns); ++c) {
            uint8_t byte = c < length ? uint8_t(text[c]) : uint8_t(' ');
            cells[c] = byte < 0x80 ? Cell(byte) : Cell('?');
        }
        unsigned column = textAt + view.matchOffset;
        if (view.haveMatch && number == view.matchRow && length > 0 && column < unsigned(ScreenColumns)) {
            view.matchRowShown = i;
            view.matchColumn = int(column);
        }
    }
}

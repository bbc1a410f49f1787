#include "console/program/lines.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "console/line/clock.h"
#include "console/program/served.h"

namespace {

uint32_t MarksHit(const Marks& marks) { return marks.count - marks.pending; }

// What a line's flags count from: now.
LineSeen SeenNow(const Session& s) { return {s.counters.received, MarksHit(s.features.marks)}; }

// The line in the other pane while two show: in view, so never flagged new.
bool Beside(const Display& display, const unsigned* paneLines, unsigned shown, unsigned line) {
    return display.paneCount > 1 && line != shown && (line == paneLines[0] || line == paneLines[1]);
}

// Enter on a row: its line shown, its history open where the row arrived.
Reaction ShowTimelineRow(Console& c) {
    uint64_t number;
    const TimelineRow* row = nullptr;
    if (SelectedTimelineRow(c.timelineView, c.timeline, &number)) row = c.timeline.Row(number);
    if (row == nullptr || row->line >= c.lineCount) return Nothing;
    ShowLineNumbered(c, row->line);
    Session& s = Shown(c);
    if (s.ui.history.Capacity() == 0) return Nothing;
    OpenView(s.ui.view, s.ui.history);
    uint64_t first = FirstViewRow(s.ui.history), last = LastViewRow(s.ui.history);
    uint64_t began = row->historyEnd;
    if (s.link.replay != nullptr) began = RecordedRowHistory(c.recordedTimeline, *row, s.ui.history.End());
    uint64_t top = began < first ? first : began;
    if (last + 1 >= ScreenRows && top > last + 1 - ScreenRows) top = last + 1 - ScreenRows;
    s.ui.view.top = top < first ? first : top;
    return Nothing;
}

}  // namespace

void EnterLine(Session** current, Session& line) {
    if (*current == &line) return;
    if (*current != nullptr) SwapCoreRecords(&(*current)->core);
    SwapCoreRecords(&line.core);
    *current = &line;
}

void Enter(Console& c, Session& line) { EnterLine(&c.current, line); }

int FindLine(const LineTable& table, const char* label) {
    for (unsigned i = 0; i < table.count; ++i) {
        if (table.lines[i]->label[0] != '\0' && std::strcmp(table.lines[i]->label, label) == 0) return int(i);
    }
    return -1;
}

void ShowLineNumbered(Console& c, unsigned number) {
    if (number == NextLine) number = (c.shown + 1) % c.lineCount;
    if (number >= c.lineCount) {
        Session& s = Shown(c);
        if (c.lineCount == 1) {
            Say(s.notice, "one line only: give several as LABEL=LINE to switch");
        } else {
            Say(s.notice, "no line %u: lines 1 to %u", number + 1, c.lineCount);
        }
        return;
    }
    c.seen[c.shown] = SeenNow(Shown(c));
    // A line out of the pair takes the pane beside the line shown: the line
    // shown before stays in view (with two panes) or comes back beside it.
    if (c.paneLines[0] != number && c.paneLines[1] != number) {
        unsigned& beside = c.paneLines[c.paneLines[0] == c.shown ? 1 : 0];
        if (Beside(c.display, c.paneLines, c.shown, beside)) c.seen[beside] = SeenNow(*c.lines[beside]);
        beside = number;
    }
    c.shown = number;
    c.seen[number] = SeenNow(Shown(c));
    c.timelineView.open = false;
    c.redraw = Shown(c).ui.redraw = true;
    RedrawDisplay(c.display);
}

void ArrangeLines(Console& c) {
    c.arrange = false;
    PaneLayout layout =
        DecideLayout(c.options.layout, DisplayWidth(c.display), DisplayHeight(c.display), c.lineCount);
    if (layout.count < c.display.paneCount) {  // the line beside leaves the view: flagged from now
        for (unsigned line : c.paneLines) {
            if (Beside(c.display, c.paneLines, c.shown, line)) c.seen[line] = SeenNow(*c.lines[line]);
        }
    }
    ArrangeDisplay(c.display, layout);
    Notice& notice = Shown(c).notice;
    if (layout.why[0] != '\0' && !c.layoutSaid) Say(notice, "%s", layout.why);
    // Room again: the why, if still up, is no longer true.
    if (layout.why[0] == '\0' && c.layoutSaid && std::strncmp(notice.text, "--layout ", 9) == 0)
        Forget(notice);
    c.layoutSaid = layout.why[0] != '\0';
}

void LinesStatus(const Console& c, char* text, unsigned capacity) {
    text[0] = '\0';
    if (c.lineCount < 2) return;
    size_t used = 0;
    for (unsigned i = 0; i < c.lineCount && used + 1 < capacity; ++i) {
        const Session& s = *c.lines[i];
        char flags[4] = "";
        if (i != c.shown) {
            unsigned n = 0;
            bool inView = Beside(c.display, c.paneLines, c.shown, i);
            if (!inView && s.counters.received != c.seen[i].received) flags[n++] = '*';
            if (!inView && MarksHit(s.features.marks) != c.seen[i].marks) flags[n++] = '#';
            if (s.link.state != LinkState::Open) flags[n++] = '!';
            flags[n] = '\0';
        }
        int wrote = i == c.shown ? std::snprintf(text + used, capacity - used, "%s[%u %s]", used ? " " : "",
                                                 i + 1, s.label)
                                 : std::snprintf(text + used, capacity - used, "%s%u %s%s", used ? " " : "",
                                                 i + 1, s.label, flags);
        if (wrote < 0) break;
        used += unsigned(wrote);
    }
}

namespace {

const uint32_t TimelineRowsLeast = 10000;

// A line's received text, as the screen gets it, into the program's timeline.
class TimelineSink : public ReceiveSink {
public:
    TimelineSink(Timeline& timeline, unsigned line, const History& history)
        : timeline_(timeline), line_(line), history_(history) {}
    void Take(const uint8_t* bytes, unsigned count, const struct timespec& arrived) override {
        TimelineFeed(timeline_, line_, bytes, count, MonotonicMicroseconds(), arrived, history_.End());
    }

private:
    Timeline& timeline_;
    unsigned line_;
    const History& history_;
};

}  // namespace

bool StartTimeline(Console& c, char* message, unsigned capacity) {
    uint32_t rows = c.options.historyRows > TimelineRowsLeast ? c.options.historyRows : TimelineRowsLeast;
    if (!c.timeline.Allocate(rows)) {
        std::snprintf(message, capacity, "no memory for a timeline of %u rows: give --history fewer", rows);
        return false;
    }
    const ReplayLine* replay = c.lines[0]->link.replay;
    for (unsigned i = 0; i < c.lineCount; ++i) {
        Session& s = *c.lines[i];
        c.labels[i] = s.label;
        if (replay != nullptr) continue;  // a replay's rows come from the recording
        c.timelineSinks[i].reset(new TimelineSink(c.timeline, i, s.ui.history));
        AddSink(s.chain, SinkStage::Text, *c.timelineSinks[i]);
    }
    c.timelineStyle.labels = c.labels;
    c.timelineStyle.labelWidth = TimelineLabelWidth(c.labels, c.lineCount);
    c.timelineStyle.stamp = c.options.stampStyle;
    clock_gettime(CLOCK_REALTIME, &c.timelineStyle.start);
    if (replay != nullptr) {
        const ReplayTape& tape = replay->Tape();
        StartRecordedTimeline(c.recordedTimeline, tape.bytes.get(), tape.size, tape.events, tape.header);
        if (c.recordedTimeline.started.tv_sec != 0) c.timelineStyle.start = c.recordedTimeline.started;
    }
    if (c.options.timelinePath[0] == '\0') return true;
    LogFileMode mode = ServedLogMode(c.options);
    return c.timelineFile.Open(c.options.timelinePath, c.timeline, mode, LogRotation(), message, capacity);
}

void FollowTimeline(Console& c) {
    if (c.lineCount < 2) return;
    const ReplayLine* replay = c.lines[0]->link.replay;
    if (replay != nullptr) RecordedTimelineTo(c.recordedTimeline, c.timeline, replay->Position());
    if (c.timelineFile.Active()) {
        c.timelineFile.Take(c.timeline, c.timelineStyle);
        char problem[NoticeCapacity];
        if (c.timelineFile.WriteOut(problem, sizeof problem)) Say(Shown(c).notice, "%s", problem);
    }
    Session& first = *c.lines[0];
    if (!first.features.batch.on) return;
    BatchOutput& out = first.features.batch.output;
    if (c.timelineWritten < c.timeline.Oldest()) c.timelineWritten = c.timeline.Oldest();
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    char row[TimelineTextMax + StampCapacity + LabelCapacity + 8];
    while (c.timelineWritten < c.timeline.End()) {
        unsigned length =
            FormatTimelineNumber(c.timeline, c.timelineWritten, c.timelineStyle, row, sizeof row - 1);
        row[length++] = '\n';
        if (out.Room() < length) break;  // standard output is behind: the rows wait
        out.Take(reinterpret_cast<const uint8_t*>(row), length, now);
        ++c.timelineWritten;
    }
}

void EndTimeline(Console& c) {
    if (c.lineCount < 2) return;
    for (unsigned i = 0; i < c.lineCount; ++i) TimelineFlushLine(c.timeline, i);
    FollowTimeline(c);
}

void FinishTimeline(Console& c) {
    if (!c.timelineFile.Active()) return;
    char problem[NoticeCapacity];
    if (c.timelineFile.WriteOut(problem, sizeof problem)) std::fprintf(stderr, "brisvane: %s\n", problem);
    c.timelineFile.Close();
}

void OpenTimeline(Console& c) {
    if (c.lineCount < 2) {
        Say(Shown(c).notice, "the timeline joins several lines: give them as LABEL=LINE");
        return;
    }
    OpenTimelineView(c.timelineView, c.timeline);
    c.timelineSearching = false;
    c.redraw = true;
}

void TimelineFrame(Console& c, Frame* frame) {
    TimelineViewRows(c.timelineView, c.timeline, c.timelineStyle);
    for (int r = 0; r < ScreenRows; ++r) frame->rows[r] = &c.timelineView.rows[r * ScreenColumns];
    if (c.timelineView.haveMatch && c.timelineView.matchRowShown >= 0) {
        frame->markRow = c.timelineView.matchRowShown;
        frame->markColumn = c.timelineView.matchColumn;
        frame->markLength = int(std::strlen(c.timelineView.search));
        if (frame->markColumn + frame->markLength > ScreenColumns)
            frame->markLength = ScreenColumns - frame->markColumn;
    }
}

int TimelineStatus(const Console& c, char* text, unsigned capacity) {
    if (c.timelineSearching) {
        int wrote = std::snprintf(text, capacity, " %s: %s", c.timelinePrompt.label, c.timelinePrompt.text);
        return wrote < 0 ? -1 : wrote;
    }
    const Session& s = Shown(c);
    uint64_t rows = c.timeline.Count();
    std::snprintf(text, capacity,
                  " timeline: %llu rows%s%s | q leave  / find  n older  N newer  Enter: its line",
                  (unsigned long long)rows, s.notice.text[0] != '\0' ? " | " : "", s.notice.text);
    return -1;
}

Reaction TimelineKey(Console& c, int code, bool isKeyCode) {
    TimelineView& view = c.timelineView;
    Session& s = Shown(c);
    if (c.timelineSearching) {
        PromptResult result = PromptKey(c.timelinePrompt, code, isKeyCode);
        if (result == PromptResult::Cancelled) c.timelineSearching = false;
        if (result != PromptResult::Accepted) return Nothing;
        c.timelineSearching = false;
        if (c.timelinePrompt.text[0] == '\0') return Nothing;
        std::snprintf(view.search, sizeof view.search, "%.79s", c.timelinePrompt.text);
        view.haveMatch = false;
        if (!FindInTimelineView(view, c.timeline, true)) Say(s.notice, "not found: %s", view.search);
        return Nothing;
    }
    Forget(s.notice);
    if (isKeyCode) {
        switch (code) {
            case KEY_UP: MoveTimelineView(view, c.timeline, ViewMove::LineUp); break;
            case KEY_DOWN: MoveTimelineView(view, c.timeline, ViewMove::LineDown); break;
            case KEY_PPAGE: MoveTimelineView(view, c.timeline, ViewMove::PageUp); break;
            case KEY_NPAGE: MoveTimelineView(view, c.timeline, ViewMove::PageDown); break;
            case KEY_HOME: MoveTimelineView(view, c.timeline, ViewMove::Oldest); break;
            case KEY_END: MoveTimelineView(view, c.timeline, ViewMove::Newest); break;
            case KEY_ENTER: return ShowTimelineRow(c);
            default: break;
        }
        return Nothing;
    }
    switch (code) {
        case 'q':
        case EscapeKey: view.open = false; break;
        case '/':
            OpenPrompt(c.timelinePrompt, "timeline search", "");
            c.timelineSearching = true;
            break;
        case 'n':
        case 'N':
            if (view.search[0] == '\0') {
                Say(s.notice, "nothing to find yet: / asks for the text");
            } else if (!FindInTimelineView(view, c.timeline, code == 'n')) {
                Say(s.notice, "not found: %s (no %s match)", view.search, code == 'n' ? "older" : "newer");
            }
            break;
        case '\r':
        case '\n': return ShowTimelineRow(c);
        default: break;
    }
    return Nothing;
}

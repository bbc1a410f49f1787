#include "console/program/lines.h"

#include <cstdio>
#include <cstring>

namespace {

uint32_t MarksHit(const Marks& marks) { return marks.count - marks.pending; }

}  // namespace

void Enter(Console& c, Session& line) {
    if (c.current == &line) return;
    if (c.current != nullptr) SwapCoreRecords(&c.current->core);
    SwapCoreRecords(&line.core);
    c.current = &line;
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
    Session& from = Shown(c);
    c.seen[c.shown] = {from.counters.received, MarksHit(from.features.marks)};
    c.shown = number;
    Session& to = Shown(c);
    c.seen[number] = {to.counters.received, MarksHit(to.features.marks)};
    c.timelineView.open = false;
    c.redraw = to.ui.redraw = true;
    RedrawDisplay(c.display);
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
            if (s.counters.received != c.seen[i].received) flags[n++] = '*';
            if (MarksHit(s.features.marks) != c.seen[i].marks) flags[n++] = '#';
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

void OpenTimeline(Console&) {}
void TimelineFrame(Console&, Frame*) {}
void TimelineStatus(const Console&, char* text, unsigned capacity) { std::snprintf(text, capacity, " timeline"); }
Reaction TimelineKey(Console&, int, bool) { return Nothing; }

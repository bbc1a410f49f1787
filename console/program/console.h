// The Unix program: its lines (one Session each, up to LinesMax), the one
// shown, and what belongs to the program rather than to a line: the front
// end, the user's terminal (the display, keys read past a paste), leaving.
//
// The core keeps one screen and one interpreter; the line being worked on
// is the "current" one, its records swapped in (core_records.h). Everything
// that reads or changes a line's screen, sends or captures goes through
// Enter first. With one line that is always the case and nothing is swapped.
#ifndef BRISVANE_CONSOLE_CONSOLE_H
#define BRISVANE_CONSOLE_CONSOLE_H

#include <cstdint>
#include <memory>

#include "console/program/front_end.h"
#include "console/program/session.h"
#include "console/rules/options.h"
#include "console/features/timeline_file.h"
#include "console/program/prompt.h"
#include "console/rules/recorded_timeline.h"
#include "console/rules/timeline.h"
#include "console/rules/timeline_view.h"
#include "console/screen/display.h"

// Keys curses read past a paste's end, handed back to it a few at a time.
struct KeysPart {
    bool keysMore = false;  // the last key read stopped with keys left
    uint8_t keyBacklog[4096];
    unsigned backlogStart = 0, backlogEnd = 0;
    bool cursesHolds = false;  // some were handed back and curses has not run dry since
};

// Since a line was last shown: what its flag on the status line says.
struct LineSeen {
    uint64_t received = 0;  // its counters.received then
    uint32_t marks = 0;     // marks hit then
};

struct Console {
    ConsoleOptions options;  // the program's: the command line and profile, before any line's own
    std::unique_ptr<Session> lines[LinesMax];
    unsigned lineCount = 0;
    unsigned shown = 0;  // the line the keys go to
    // Two at once (--layout): the line in each pane, the one shown among
    // them; kept one at a time too, so a terminal grown shows the pair.
    unsigned paneLines[PanesMax] = {0, 1};
    Session* current = nullptr;  // the line whose records the core holds
    LineTable table;             // the lines again, for what a line's own work reaches
    LineSeen seen[LinesMax];
    std::unique_ptr<FrontEnd> front = ScreenFrontEnd();  // batch's, when chosen at start-up

    Display display;
    bool redraw = false;      // the program's own parts changed (a switch, a resize)
    bool arrange = true;      // the layout is decided again at the next flush (a resize)
    bool layoutSaid = false;  // why two lines do not show at once was said
    int64_t lastFlush = 0;
    KeysPart keys;

    Timeline timeline;  // with several lines: every line's text, in the order it came
    // A replay's: the recording's rows up to the replay's place, not its sinks'.
    RecordedTimeline recordedTimeline;
    TimelineView timelineView;
    TimelineStyle timelineStyle;
    const char* labels[LinesMax] = {};
    std::unique_ptr<ReceiveSink> timelineSinks[LinesMax];
    TimelineFile timelineFile;       // --timeline
    uint64_t timelineWritten = 0;    // rows already on standard output (batch)
    bool timelineSearching = false;  // the search's text is being typed
    Prompt timelinePrompt = {};

    bool quit = false;
    int exitCode = 0;

    Console() = default;
    ~Console() { ReleaseCoreBuffers(); }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
};

inline Session& Shown(Console& c) { return *c.lines[c.shown]; }
inline const Session& Shown(const Console& c) { return *c.lines[c.shown]; }

// Makes `line` the current one: its screen, interpreter state, output queue
// and transfer files are the core's from now on.
void Enter(Console& c, Session& line);

// The program's way out: records the exit code and asks the loop to leave.
inline Reaction Leave(Console& c, int exitCode) {
    c.exitCode = exitCode;
    return Quit;
}

#endif

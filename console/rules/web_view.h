// What the browser pages are shown, and the messages that show it: pure, so
// tests compose a frame and read the JSON.
//
// The server keeps one copy of what it last showed (WebShown). Each flush
// compares the frame with it and marks, in every page's WebPageView, the
// rows, cursor and status that changed. A page is sent, when it can take a
// message, its marked rows as they are then: a page that falls behind has
// its marks pile up and gets the current rows, never a backlog, and a new
// page starts with every mark set, so it gets the whole screen.
//
// Server to page, one JSON object per message:
//   {"t":"u","rows":[[ROW,"80 characters"],...],"cursor":[ROW,COLUMN,VISIBLE],
//    "status":{"role":...,"line":...,"speed":...,"who":...,"log":BOOL}}
//   (rows, cursor and status only when marked)
//   {"t":"h","first":N,"oldest":N,"end":N,"rows":["80 characters" x 24]}
//   {"t":"n","text":"..."}   a notice for the page's user
//   {"t":"r","at":MS,"length":MS,"paused":BOOL,"speed":X,"seek":BOOL,
//    "marks":[[MS,"name"],...]}   a replay's place (--replay): sent when it
//   starts, is moved or paused, or drifts; between them the page moves its
//   slider itself at `speed`. `seek`: this page may move it (the token).
#ifndef BRISVANE_CONSOLE_WEB_VIEW_H
#define BRISVANE_CONSOLE_WEB_VIEW_H

#include <cstdint>

#include "console/rules/history.h"
#include "core/screen.h"

// 24 rows of 80 characters, each at most 6 bytes escaped, and the rest.
const unsigned WebMessageCapacity = 16384;
const unsigned WebFieldCapacity = 256;
const uint32_t WebAllRows = (1u << ScreenRows) - 1;

enum class WebRole : uint8_t { Watcher, Writer };

// What one flush shows the pages.
struct WebFrame {
    const Cell* rows[ScreenRows];  // 80 cells each
    int cursorRow, cursorColumn;
    bool cursorVisible;
    const char* line;   // the device
    const char* speed;  // its settings
    const char* who;    // who is attached
    bool log;           // there is a log to download
};

struct WebShown {
    Cell cells[ScreenCells];
    int cursorRow = 0, cursorColumn = 0;
    bool cursorVisible = false;
    char line[WebFieldCapacity] = "";
    char speed[WebFieldCapacity] = "";
    char who[WebFieldCapacity] = "";
    bool log = false;
};

struct WebChange {
    uint32_t rows = 0;  // bit r: row r
    bool cursor = false;
    bool status = false;
};

struct WebPageView {
    uint32_t rows = WebAllRows;
    bool cursor = true;
    bool status = true;
    bool Pending() const { return rows != 0 || cursor || status; }
};

// A blank screen, the cursor at the top left, no status.
void ResetWebShown(WebShown& shown);
// Takes `frame` into `shown` and says what differs.
WebChange NoteWebFrame(WebShown& shown, const WebFrame& frame);
// Marks what changed for one page.
void MarkWebView(WebPageView& view, const WebChange& change);

// The update for a page with `role`: its marked rows, cursor and status as
// `shown` has them now; clears the marks. Returns the message's length, 0
// when nothing is marked (or `capacity` is under WebMessageCapacity).
unsigned ComposeWebUpdate(WebPageView& view, const WebShown& shown, WebRole role, char* out,
                          unsigned capacity);

// 24 rows of history from row `first` (clamped to what is kept; rows past
// the history's end are the screen's), for a page that scrolls back.
unsigned ComposeWebHistory(const History& history, const WebShown& shown, uint64_t first, char* out,
                           unsigned capacity);

// A replay as the pages see it: where it was at `since` (monotonic ms),
// whether it moves from there, and its marks (times in µs).
struct WebReplayMark {
    uint64_t time;
    const char* name;
};

struct WebReplay {
    bool on = false;              // a replay is playing: the pages show its slider
    uint64_t at = 0, length = 0;  // µs of the recording
    int64_t since = 0;
    bool paused = false;
    double speed = 1;
    const WebReplayMark* marks = nullptr;
    unsigned markCount = 0;
};

// Where `replay` is at `now`: moved on from `at` while playing, never past its end.
uint64_t WebReplayAt(const WebReplay& replay, int64_t now);
// Whether the pages, told `told`, now show another place than `replay`:
// paused or playing otherwise, or more than a quarter second apart.
bool WebReplayDiffers(const WebReplay& told, const WebReplay& replay, int64_t now);
// The replay message as at `now`, for a page that may seek or not. As many
// marks as fit (names not ASCII shown with '?'). 0 when not a replay.
unsigned ComposeWebReplay(const WebReplay& replay, int64_t now, bool maySeek, char* out, unsigned capacity);

// A notice, its text escaped.
unsigned ComposeWebNotice(const char* text, char* out, unsigned capacity);

#endif

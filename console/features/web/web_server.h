// The line in a browser (--web): one page over HTTP (or HTTPS with a
// certificate and key) and a WebSocket per open page, on libwebsockets
// driven from the program's own poll loop. The library's descriptors come
// and go through its external-poll callbacks; nothing runs on another
// thread and nothing here waits.
//
// Serves only its embedded page, script and stylesheet, /login and /log
// (the current log, to a page that may watch), each with a
// Content-Security-Policy of 'self', and only to a request whose Host names
// this server (421 otherwise). At most WebMaxPages WebSockets: more
// handshakes are answered 503. A connection that does not send its request
// in time is closed (WebRequestMilliseconds, WebMaxWaitingPerPeer). Pages are shown the screen through
// WebShowFrame (see web_view.h), and what they send (keys, pastes, BREAK,
// DTR, RTS, taking the line) comes back through the hooks, from a page that
// is the writer only.
//
// A replay (--replay): the pages are told its place (SetWebReplay) and show
// a slider; a page with a session moves it or pauses it through the hooks,
// any page without one is told it only watches.
//
// Roles: a page is a watcher until it takes the line, which needs a session
// (the token, given once at /login). One page writes at a time: taking the
// line moves it from the page that had it; the local terminal types
// throughout. On a served line (watchOnly) its roster moves the role
// through the hooks, and the program tells the pages with SetWebWriter.
//
// The loop's calls, each pass: WebDescriptors before poll, ServeWeb after,
// WebTimeout for poll's deadline.
#ifndef BRISVANE_CONSOLE_WEB_WEB_SERVER_H
#define BRISVANE_CONSOLE_WEB_WEB_SERVER_H

#include <cstdint>
#include <memory>
#include <poll.h>

#include "console/rules/history.h"
#include "console/rules/roster.h"
#include "console/rules/web_auth.h"
#include "console/rules/web_input.h"
#include "console/rules/web_view.h"

struct lws;
struct lws_context;
struct lws_vhost;

const unsigned WebMaxPages = RosterSeatsOf(SeatKind::Page);  // a served line's seats for pages
const unsigned WebMaxHttp = 16;                              // page loads and logins at once
// A connection has this long to send a whole request (after it opens, or
// after its last answer); one address may have this many that have not,
// its oldest closed for a newer one, so slow senders hold no place long.
const int64_t WebRequestMilliseconds = 4000;
const unsigned WebMaxWaitingPerPeer = 8;
const unsigned WebMaxConnections = WebMaxPages + WebMaxHttp;
const unsigned WebMaxDescriptors = WebMaxConnections + 1;  // and the listener
// While connections are open the library is asked this often for what it
// wants done that poll cannot tell us (a close, a ping's answer).
const int64_t WebTickMilliseconds = 200;
// A page is sent at most one screen update in this time: the first change
// goes at once, those during a flood are gathered (25 a second at most).
const int64_t WebUpdateMilliseconds = 40;
const unsigned WebInputCapacity = 4 * WebPasteCapacity + 16;  // one message from a page
const int WebLocalWriter = -1;  // no page writes (a served line: the role is elsewhere)

struct WebSettings {
    const char* address;  // "[HOST:]PORT", HOST 127.0.0.1 unless named
    const char* token;    // the share token, or "" for none
    bool openWatch;       // watching needs no token
    bool watchOnly;       // a served line: its roster (the hooks below) decides who writes
    const char* cert;     // TLS: both or neither
    const char* key;
    // --web-host: more names than its own address a request's Host may give.
    const char (*hosts)[WebHostNameCapacity];
    unsigned hostCount;
};

// What the program lends the pages. Every hook may be null.
struct WebHooks {
    void* user = nullptr;
    // Bytes from the writer's page (a key, or a paste when `paste`). Returns
    // how many it took: the page keeps the rest, and is not read, until
    // they are taken (the line is slow, its queue full).
    unsigned (*send)(void* user, const uint8_t* bytes, unsigned count, bool paste) = nullptr;
    // BREAK, DTR or RTS from the writer's page.
    void (*control)(void* user, WebCommand command, bool on) = nullptr;
    // Something to tell the local user: a refusal, a page that took the line.
    void (*say)(void* user, const char* text) = nullptr;
    // A served line's roster: a page joins with its address (a member id,
    // 0 when it has none), leaves, and asks to take the line (false: refused).
    // Role changes come back through SetWebWriter and WebSayToPage.
    uint16_t (*join)(void* user, const char* address, bool mayWrite) = nullptr;
    void (*leave)(void* user, uint16_t member) = nullptr;
    bool (*take)(void* user, uint16_t member) = nullptr;
    // The page now known as `member` joined: its role, if it came with the
    // line, is told through SetWebWriter and WebSayToPage.
    void (*joined)(void* user, uint16_t member) = nullptr;
    // A replay moved (Seek: `milliseconds` from its start) or paused
    // (Pause: `on`) by a page with a session. The program then tells every
    // page the new place through SetWebReplay.
    void (*replay)(void* user, WebCommand command, uint64_t milliseconds, bool on) = nullptr;
};

struct WebPage {
    struct lws* wsi = nullptr;  // null: a free slot
    bool mayWrite = false;      // came with a session
    uint16_t member = 0;        // its id in a served line's roster
    WebPageView view;
    int64_t lastUpdate = 0;  // when it was last sent an update
    bool held = false;       // marked, waiting for WebUpdateMilliseconds to pass
    bool historyAsked = false;
    uint64_t historyFrom = 0;
    bool replayDue = false;  // the replay's place to send
    char notice[128] = "";   // to send before the next update
    unsigned inputLength = 0;
    bool inputTooLong = false;
    uint8_t input[WebInputCapacity];
    unsigned pendingStart = 0, pendingEnd = 0;  // bytes the line did not take yet
    bool pendingPaste = false;
    uint8_t pending[WebPasteCapacity];
};

// A connection we accepted and gave the library.
struct WebConnection {
    int fd;
    struct lws* wsi;
    bool wantWrite;        // we asked for a chance to write
    bool sendingFile;      // the library sends the log as the socket takes it
    int64_t waitingSince;  // when it was left to send a request; 0: it has, or is a page
    bool read;             // the library has read what came with it
    uint8_t peer[16];      // its address (IPv4 as IPv6 writes it)
    char local[48];        // the address it came to, numeric: the Host it may name
};

struct Web {
    struct lws_context* context = nullptr;  // null: not serving
    struct lws_vhost* vhost = nullptr;
    int listener = -1;
    WebConnection connection[WebMaxConnections];
    unsigned connections = 0;
    int64_t serviceDue = 0;
    WebSettings settings = {};
    int port = 0;
    char host[WebHostNameCapacity] = "";          // --web's own, as given
    const char* names[1 + WebMaxHostNames] = {};  // it and --web-host's
    unsigned nameCount = 0;
    char token[WebTokenCapacity] = "";
    bool tls = false;
    WebHooks hooks;
    const History* history = nullptr;
    const char* logPath = nullptr;  // the current log, or null
    WebSessions sessions;
    WebShown shown;
    WebReplay replay;             // what the pages were last told of a replay
    int writer = WebLocalWriter;  // the writing page's index, or none
    unsigned pages = 0;
    WebPage page[WebMaxPages];
    WebInput parsed;
    uint8_t message[16 + WebMessageCapacity];  // the library's header room, then a message
};

// Starts serving. False with a one-line message (the address, a missing
// token without --web-open-watch, a certificate that will not load).
bool OpenWeb(Web& web, const WebSettings& settings, const WebHooks& hooks, const History* history,
             char* message, unsigned capacity);
// Closes every page and the listener. Safe when not serving.
void CloseWeb(Web& web);

// Fills `fds` (room for WebMaxDescriptors) and returns how many.
unsigned WebDescriptors(const Web& web, struct pollfd* fds);
// Acts on what poll reported for them, and on the library's timers.
void ServeWeb(Web& web, const struct pollfd* fds, unsigned count);
// How long poll may wait for the pages' sake, in milliseconds (-1: no limit).
int WebTimeout(const Web& web);

// What the pages show now: sends what changed to every page.
void WebShowFrame(Web& web, const WebFrame& frame);
// A notice for every page ("the host is gone").
void WebSayToPages(Web& web, const char* text);
// A notice for one page.
void WebSayToPage(Web& web, int index, const char* text);
// The page that is `member` of a served line's roster, or -1.
int WebPageOf(const Web& web, uint16_t member);
// The writing page now: its index, or WebLocalWriter when no page writes.
void SetWebWriter(Web& web, int writer);
// A replay's place, for every page (and each that opens later).
void SetWebReplay(Web& web, const WebReplay& replay);
// The log pages may download, or null.
inline void SetWebLog(Web& web, const char* path) { web.logPath = path; }

#endif

// Who may use the browser pages, where they are served and which paths
// exist: pure rules over request text, so tests give headers and expect a
// verdict.
//
// The share token is given once, to /login; a right one starts a session
// whose id (random, 128 bits, in hex) goes back as a cookie the page's
// script cannot read. The WebSocket handshake then needs that cookie, or,
// with --web-open-watch, nothing to watch; writing always needs a session.
// Its Origin must be the page's own (the scheme and the Host it was asked
// for), so another site's page cannot open it with the user's cookie; a
// login likewise. The Host itself must name this server, so a name some DNS
// points at it does not make another site's page our own.
#ifndef BRISVANE_CONSOLE_WEB_AUTH_H
#define BRISVANE_CONSOLE_WEB_AUTH_H

#include <cstdint>

const unsigned WebTokenCapacity = 256;
const unsigned WebSessionIdLength = 32;  // hex digits
const unsigned WebMaxSessions = 64;      // the oldest goes when more log in
const char WebCookieName[] = "brisvane_session";

struct WebSessions {
    char id[WebMaxSessions][WebSessionIdLength + 1] = {};
    unsigned next = 0;  // the slot the next session takes
};

// Compares a given token with the right one in time that does not depend
// on where they differ. An empty right token matches nothing.
bool WebTokenMatches(const char* right, const char* given, unsigned givenLength);

// Starts a session from 16 random bytes; returns its id.
const char* StartWebSession(WebSessions& sessions, const uint8_t random[16]);
// The session named in a Cookie header's value, if it is one of ours.
bool WebCookieHasSession(const WebSessions& sessions, const char* cookieHeader);

// The token from a form body ("token=..." among other fields, URL-encoded),
// decoded into `token`, whole: false when there is none, it is too long,
// or it holds a control byte (a %00 among them), which no token has.
bool WebFormToken(const char* body, unsigned length, char* token, unsigned capacity);

// True when `origin` is "http://HOST" or "https://HOST" (by `tls`) for the
// Host the request named.
bool WebOriginMatches(const char* origin, const char* host, bool tls);

// Whether the request came from the page itself: its Origin matches the Host
// (WebOriginMatches) and Sec-Fetch-Site, where the browser sent one ("" when
// not), says same-origin. A form posted from another site sends no Origin
// or another one, so both are refused.
bool WebSameOrigin(const char* origin, const char* fetchSite, const char* host, bool tls);

const unsigned WebMaxHostNames = 8;  // --web-host, given more than once
const unsigned WebHostNameCapacity = 256;

// A --web-host name: a DNS name or an address ("[::1]" or "::1"), without a
// port. Null when it is one, or what is wrong with it.
const char* WebHostNameProblem(const char* name);

// Whether `name` is the loopback interface's: localhost, 127.0.0.0/8, ::1.
bool WebLoopbackName(const char* name);

// Whether a request's Host header names this server, so a name rebound to
// it in some DNS is refused: the port is `port` (80, or 443 with `tls`,
// when Host gives none) and the name is the address the connection came to
// (`local`, numeric), or any loopback name when that is loopback, or one of
// `names` (--web's host and the --web-host names), without regard to case.
bool WebHostAllowed(const char* host, const char* local, int port, bool tls, const char* const* names,
                    unsigned count);

// A --web address, "[HOST:]PORT" (HOST 127.0.0.1 unless named, "[::1]"
// for IPv6), taken apart: false with `problem` when it is not one.
bool ParseWebAddress(const char* text, char* host, unsigned hostCapacity, int* port, const char** problem);

enum class WebPath : uint8_t { Page, Script, Style, Login, Log, NotFound, BadRequest };
// The request path's meaning: "/" and "/index.html" the page, "/page.js",
// "/page.css", "/login", "/log" (the current log); a query is ignored; ".."
// anywhere is BadRequest; anything else NotFound.
WebPath ClassifyWebPath(const char* path);

#endif

// Who may use the browser pages, where they are served and which paths
// exist: pure rules over request text, so tests give headers and expect a
// verdict.
//
// The share token is given once, to /login; a right one starts a session
// whose id (random, 128 bits, in hex) goes back as a cookie the page's
// script cannot read. The WebSocket handshake then needs that cookie, or,
// with --web-open-watch, nothing to watch; writing always needs a session.
// Its Origin must be the page's own (the scheme and the Host it was asked
// for), so another site's page cannot open it with the user's cookie.
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
// decoded into `token`; false when there is none or it is too long.
bool WebFormToken(const char* body, unsigned length, char* token, unsigned capacity);

// True when `origin` is "http://HOST" or "https://HOST" (by `tls`) for the
// Host the request named.
bool WebOriginMatches(const char* origin, const char* host, bool tls);

// A --web address, "[HOST:]PORT" (HOST 127.0.0.1 unless named, "[::1]"
// for IPv6), taken apart: false with `problem` when it is not one.
bool ParseWebAddress(const char* text, char* host, unsigned hostCapacity, int* port, const char** problem);

enum class WebPath : uint8_t { Page, Script, Style, Login, Log, NotFound, BadRequest };
// The request path's meaning: "/" and "/index.html" the page, "/page.js",
// "/page.css", "/login", "/log" (the current log); a query is ignored; ".."
// anywhere is BadRequest; anything else NotFound.
WebPath ClassifyWebPath(const char* path);

#endif

#include "console/features/web/web_server.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <arpa/inet.h>
#include <fcntl.h>
#include <libwebsockets.h>
#include <netdb.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include "console/line/clock.h"
#include "console/features/web/web_assets.h"

namespace {

const char ProtocolName[] = "brisvane";
const unsigned LoginBodyCapacity = 1024;
// The most header text a request may bring (its cookies for every other
// port on the host among it); the library refuses more.
const unsigned HeaderCapacity = 8192;
const int64_t WrongTokenMicroseconds = 1000000;
const char SecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
    "form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

// What a request with a body (POST and the like) is answered once its
// body is in: one answer per request, never one before the body.
enum class Verdict : uint8_t { Login, WrongHost, NotAllowed, Foreign };

struct HttpState {
    const char* send;  // the body still to write: an asset, or `own`
    unsigned sendLength;
    char own[256];
    Verdict verdict;
    bool awaitingBody;  // its answer is due when the body is in (the library may say so twice)
    unsigned bodyLength;
    bool bodyTooLong;
    char body[LoginBodyCapacity];
};

Web& WebOf(struct lws* wsi) { return *static_cast<Web*>(lws_context_user(lws_get_context(wsi))); }

WebConnection* ConnectionOf(Web& web, const struct lws* wsi) {
    for (unsigned i = 0; i < web.connections; ++i) {
        if (web.connection[i].wsi == wsi) return &web.connection[i];
    }
    return nullptr;
}

// Asks the library for a chance to write, and poll to watch for it.
void WantWrite(Web& web, struct lws* wsi) {
    WebConnection* connection = ConnectionOf(web, wsi);
    if (connection != nullptr) connection->wantWrite = true;
    lws_callback_on_writable(wsi);
}

void Forget(Web& web, const struct lws* wsi) {
    WebConnection* connection = ConnectionOf(web, wsi);
    if (connection != nullptr) *connection = web.connection[--web.connections];
}

void Say(Web& web, const char* text) {
    if (web.hooks.say != nullptr) web.hooks.say(web.hooks.user, text);
}

// A refusal, with the address it came from.
void SayRefused(Web& web, struct lws* wsi, const char* what) {
    char address[64] = "", text[256];
    lws_get_peer_simple(wsi, address, sizeof address);
    std::snprintf(text, sizeof text, "web: %s from %s was refused", what, address[0] != '\0' ? address : "?");
    Say(web, text);
}

// A header's value, or "" when absent or too long.
void Header(struct lws* wsi, enum lws_token_indexes which, char* out, int capacity) {
    if (lws_hdr_total_length(wsi, which) >= capacity || lws_hdr_copy(wsi, out, capacity, which) < 0)
        out[0] = '\0';
}

bool HasSession(Web& web, struct lws* wsi) {
    char cookie[HeaderCapacity];  // whole, however many other cookies come with ours
    Header(wsi, WSI_TOKEN_HTTP_COOKIE, cookie, sizeof cookie);
    return WebCookieHasSession(web.sessions, cookie);
}

// Whether the request's Host names this server, not a name some DNS
// points at it (a page of another site then reading ours as its own).
bool HostAllowed(Web& web, struct lws* wsi) {
    char host[WebHostNameCapacity + 8];
    Header(wsi, WSI_TOKEN_HOST, host, sizeof host);
    const WebConnection* connection = ConnectionOf(web, wsi);
    return WebHostAllowed(host, connection != nullptr ? connection->local : nullptr, web.port, web.tls,
                          web.names, web.nameCount);
}

// Whether the request comes from our own page: its Origin, and
// Sec-Fetch-Site where the browser sends one.
bool FromOurPage(Web& web, struct lws* wsi) {
    char origin[256], host[256], site[32] = "";
    Header(wsi, WSI_TOKEN_ORIGIN, origin, sizeof origin);
    Header(wsi, WSI_TOKEN_HOST, host, sizeof host);
    static const char name[] = "sec-fetch-site:";
    int length = lws_hdr_custom_length(wsi, name, int(sizeof name - 1));
    if (length >= int(sizeof site) ||
        (length > 0 && lws_hdr_custom_copy(wsi, site, int(sizeof site), name, int(sizeof name - 1)) < 0)) {
        std::snprintf(site, sizeof site, "?");  // not same-origin, whatever it is
    }
    return WebSameOrigin(origin, site, host, web.tls);
}

// Whether a connection has sent its request: until it has, it has
// WebRequestMilliseconds to, and may be closed for a newer one.
void SetWaiting(Web& web, const struct lws* wsi, bool waiting) {
    if (WebConnection* connection = ConnectionOf(web, wsi))
        connection->waitingSince = waiting ? MonotonicMilliseconds() : 0;
}

// An answer is out: the connection waits for its next request, or closes (-1).
int Completed(struct lws* wsi) {
    SetWaiting(WebOf(wsi), wsi, true);
    return lws_http_transaction_completed(wsi) != 0 ? -1 : 0;
}

// Headers every answer carries; false when they do not fit.
bool CommonHeaders(struct lws* wsi, unsigned char** p, unsigned char* end) {
    return lws_add_http_header_by_name(wsi,
                                       reinterpret_cast<const unsigned char*>("content-security-policy:"),
                                       reinterpret_cast<const unsigned char*>(SecurityPolicy),
                                       int(sizeof SecurityPolicy - 1), p, end) == 0 &&
           lws_add_http_header_by_name(wsi, reinterpret_cast<const unsigned char*>("x-content-type-options:"),
                                       reinterpret_cast<const unsigned char*>("nosniff"), 7, p, end) == 0 &&
           lws_add_http_header_by_name(wsi, reinterpret_cast<const unsigned char*>("cache-control:"),
                                       reinterpret_cast<const unsigned char*>("no-store"), 8, p, end) == 0;
}

// Answers with `code`, a body of `length` bytes and `extra` headers
// ("name:", "value" pairs, null-ended). Returns the callback's result.
int Answer(struct lws* wsi, unsigned code, const char* type, const char* body, unsigned length,
           const char* const* extra = nullptr) {
    uint8_t buffer[LWS_PRE + 2048];
    unsigned char* start = buffer + LWS_PRE;
    unsigned char* p = start;
    unsigned char* end = buffer + sizeof buffer - 1;
    if (lws_add_http_common_headers(wsi, code, type, length, &p, end) != 0 || !CommonHeaders(wsi, &p, end))
        return 1;
    for (; extra != nullptr && extra[0] != nullptr; extra += 2) {
        if (lws_add_http_header_by_name(wsi, reinterpret_cast<const unsigned char*>(extra[0]),
                                        reinterpret_cast<const unsigned char*>(extra[1]),
                                        int(std::strlen(extra[1])), &p, end) != 0) {
            return 1;
        }
    }
    if (lws_finalize_write_http_header(wsi, start, &p, end) != 0) return 1;
    HttpState* state = static_cast<HttpState*>(lws_wsi_user(wsi));
    if (length > 0) {
        // The assets live as long as the program; anything else is copied.
        bool asset = false;
        for (const WebAsset& each : WebAssets) asset = asset || each.bytes == body;
        if (!asset && length > sizeof state->own) return 1;
        if (!asset) std::memcpy(state->own, body, length);
        state->send = asset ? body : state->own;
        state->sendLength = length;
        WantWrite(WebOf(wsi), wsi);
        return 0;
    }
    return Completed(wsi);
}

int AnswerText(struct lws* wsi, unsigned code, const char* text) {
    return Answer(wsi, code, "text/plain; charset=utf-8", text, unsigned(std::strlen(text)));
}

// What GET /login says to the page's script: whether it may watch or
// write, and whether there is room for it.
int LoginState(Web& web, struct lws* wsi) {
    char text[160];
    bool session = HasSession(web, wsi);
    std::snprintf(text, sizeof text, "{\"session\":%s,\"openWatch\":%s,\"full\":%s,\"log\":%s}",
                  session ? "true" : "false", web.settings.openWatch ? "true" : "false",
                  web.pages >= WebMaxPages ? "true" : "false", web.logPath != nullptr ? "true" : "false");
    return Answer(wsi, 200, "application/json", text, unsigned(std::strlen(text)));
}

int Login(Web& web, struct lws* wsi, HttpState* state) {
    char token[WebTokenCapacity];
    if (state->bodyTooLong || !WebFormToken(state->body, state->bodyLength, token, sizeof token) ||
        !WebTokenMatches(web.token, token, unsigned(std::strlen(token)))) {
        SayRefused(web, wsi, "a login with a wrong or missing token");
        // Answered in a second (a timer, never a wait), so guessing is slow.
        lws_set_timer_usecs(wsi, WrongTokenMicroseconds);
        return 0;
    }
    uint8_t random[16];
    if (getrandom(random, sizeof random, 0) != ssize_t(sizeof random))
        return AnswerText(wsi, 500, "no randomness\n");
    char cookie[160];
    std::snprintf(cookie, sizeof cookie, "%s=%s; Path=/; HttpOnly; SameSite=Strict%s", WebCookieName,
                  StartWebSession(web.sessions, random), web.tls ? "; Secure" : "");
    const char* extra[] = {"set-cookie:", cookie, "location:", "/", nullptr};
    return Answer(wsi, 303, "text/plain; charset=utf-8", "", 0, extra);
}

// A request with a body, answered once the body is in.
int AnswerAfterBody(Web& web, struct lws* wsi, HttpState* state) {
    SetWaiting(web, wsi, false);
    switch (state->verdict) {
        case Verdict::WrongHost: return AnswerText(wsi, 421, "not a name of this server\n");
        case Verdict::NotAllowed: return AnswerText(wsi, 405, "only /login takes a form\n");
        case Verdict::Foreign:
            SayRefused(web, wsi, "a login from another site");
            return AnswerText(wsi, 403, "a login from another site\n");
        case Verdict::Login: break;
    }
    return Login(web, wsi, state);
}

int Http(Web& web, struct lws* wsi, HttpState* state, const char* path) {
    state->send = nullptr;
    state->bodyLength = 0;
    state->bodyTooLong = false;
    state->awaitingBody = false;
    bool get = lws_hdr_total_length(wsi, WSI_TOKEN_GET_URI) > 0;
    bool post = lws_hdr_total_length(wsi, WSI_TOKEN_POST_URI) > 0;
    bool login = ClassifyWebPath(path) == WebPath::Login;
    bool hostAllowed = HostAllowed(web, wsi);
    if (!get) {  // its body, if any, is read before the one answer
        state->verdict = !hostAllowed             ? Verdict::WrongHost
                         : !post || !login        ? Verdict::NotAllowed
                         : !FromOurPage(web, wsi) ? Verdict::Foreign
                                                  : Verdict::Login;
        state->awaitingBody = lws_hdr_total_length(wsi, WSI_TOKEN_HTTP_CONTENT_LENGTH) > 0 ||
                              lws_hdr_total_length(wsi, WSI_TOKEN_HTTP_TRANSFER_ENCODING) > 0;
        return state->awaitingBody ? 0 : AnswerAfterBody(web, wsi, state);
    }
    SetWaiting(web, wsi, false);
    if (!hostAllowed) {
        SayRefused(web, wsi, "a request for a name this server was not given");
        return AnswerText(wsi, 421, "not a name of this server\n");
    }
    switch (ClassifyWebPath(path)) {
        case WebPath::Page:
            return Answer(wsi, 200, "text/html; charset=utf-8", WebAssets[0].bytes, WebAssets[0].length);
        case WebPath::Script:
            return Answer(wsi, 200, "text/javascript; charset=utf-8", WebAssets[1].bytes,
                          WebAssets[1].length);
        case WebPath::Style:
            return Answer(wsi, 200, "text/css; charset=utf-8", WebAssets[2].bytes, WebAssets[2].length);
        case WebPath::Login: return LoginState(web, wsi);
        case WebPath::Log: {
            if (!web.settings.openWatch && !HasSession(web, wsi))
                return AnswerText(wsi, 403, "log in first\n");
            if (web.logPath == nullptr) return AnswerText(wsi, 404, "no log\n");
            static const char disposition[] =
                "content-disposition: attachment; filename=\"brisvane.log\"\x0d\x0a"
                "x-content-type-options: nosniff\x0d\x0acontent-security-policy: default-src 'none'\x0d\x0a";
            int n =
                lws_serve_http_file(wsi, web.logPath, "text/plain", disposition, int(sizeof disposition - 1));
            if (n < 0) return -1;
            return n > 0 ? Completed(wsi) : 0;
        }
        case WebPath::BadRequest:
            Say(web, "web: a path with .. was refused");
            return AnswerText(wsi, 400, "bad path\n");
        case WebPath::NotFound: break;
    }
    return AnswerText(wsi, 404, "not found\n");
}

int Filter(Web& web, struct lws* wsi);

int HttpCallback(struct lws* wsi, enum lws_callback_reasons reason, void* user, void* in, size_t len) {
    HttpState* state = static_cast<HttpState*>(user);
    switch (reason) {
        case LWS_CALLBACK_WSI_DESTROY: Forget(WebOf(wsi), wsi); return 0;
        case LWS_CALLBACK_HTTP_CONFIRM_UPGRADE: return Filter(WebOf(wsi), wsi);
        case LWS_CALLBACK_HTTP:
            if (state == nullptr) return -1;
            return Http(WebOf(wsi), wsi, state, static_cast<const char*>(in));
        case LWS_CALLBACK_HTTP_BODY:
            if (state == nullptr) return 0;
            if (state->bodyLength + len > LoginBodyCapacity) {
                state->bodyTooLong = true;
            } else if (len > 0) {
                std::memcpy(state->body + state->bodyLength, in, len);
                state->bodyLength += unsigned(len);
            }
            return 0;
        case LWS_CALLBACK_HTTP_BODY_COMPLETION:
            if (state == nullptr || !state->awaitingBody) return 0;
            state->awaitingBody = false;
            return AnswerAfterBody(WebOf(wsi), wsi, state);
        case LWS_CALLBACK_HTTP_WRITEABLE: {
            if (WebConnection* connection = ConnectionOf(WebOf(wsi), wsi)) connection->wantWrite = false;
            if (state == nullptr || state->send == nullptr) return 0;
            // Our bodies are small: one write, the library keeps what the socket does not take.
            static uint8_t body[LWS_PRE + 65536];
            unsigned length = state->sendLength < sizeof body - LWS_PRE ? state->sendLength
                                                                        : unsigned(sizeof body - LWS_PRE);
            std::memcpy(body + LWS_PRE, state->send, length);
            state->send = nullptr;
            if (lws_write(wsi, body + LWS_PRE, length, LWS_WRITE_HTTP_FINAL) != int(length)) return -1;
            return Completed(wsi);
        }
        case LWS_CALLBACK_TIMER: return AnswerText(wsi, 403, "wrong token\n");  // a refused login's answer
        case LWS_CALLBACK_HTTP_FILE_COMPLETION:
            if (WebConnection* connection = ConnectionOf(WebOf(wsi), wsi)) connection->sendingFile = false;
            return Completed(wsi);
        default: return lws_callback_http_dummy(wsi, reason, user, in, len);
    }
}

int PageIndex(const Web& web, const struct lws* wsi) {
    for (unsigned i = 0; i < WebMaxPages; ++i) {
        if (web.page[i].wsi == wsi) return int(i);
    }
    return -1;
}

// The WebSocket handshake: room, Origin, and the right to watch. A refusal
// is answered with its status here (1); 0 lets the upgrade on.
int Filter(Web& web, struct lws* wsi) {
    SetWaiting(web, wsi, true);  // a refusal leaves it waiting for another request
    if (!HostAllowed(web, wsi)) {
        SayRefused(web, wsi, "a page for a name this server was not given");
        lws_return_http_status(wsi, 421, "not a name of this server");
        return 1;
    }
    if (web.pages >= WebMaxPages) {
        SayRefused(web, wsi, "a page (all 16 places are taken)");
        lws_return_http_status(wsi, HTTP_STATUS_SERVICE_UNAVAILABLE, "all 16 places are taken");
        return 1;
    }
    if (!FromOurPage(web, wsi)) {
        SayRefused(web, wsi, "a page of another origin");
        lws_return_http_status(wsi, HTTP_STATUS_FORBIDDEN, "foreign origin");
        return 1;
    }
    if (!web.settings.openWatch && !HasSession(web, wsi)) {
        SayRefused(web, wsi, "a page without a session");
        lws_return_http_status(wsi, HTTP_STATUS_FORBIDDEN, "log in first");
        return 1;
    }
    SetWaiting(web, wsi, false);
    return 0;
}

// Returns -1 (close it) when two handshakes at once took the last place.
int Established(Web& web, struct lws* wsi) {
    int index = PageIndex(web, nullptr);
    if (index < 0) return -1;
    WebPage& page = web.page[index];
    page.wsi = wsi;
    page.mayWrite = HasSession(web, wsi);
    page.view = WebPageView{};
    page.historyAsked = false;
    page.replayDue = web.replay.on;
    page.notice[0] = '\0';
    page.inputLength = 0;
    page.inputTooLong = false;
    page.held = false;
    page.lastUpdate = 0;
    page.pendingStart = page.pendingEnd = 0;
    page.member = 0;
    ++web.pages;
    if (web.hooks.join != nullptr) {
        char address[64] = "";
        lws_get_peer_simple(wsi, address, sizeof address);
        page.member = web.hooks.join(web.hooks.user, address, page.mayWrite);
        if (page.member != 0 && web.hooks.joined != nullptr) web.hooks.joined(web.hooks.user, page.member);
    }
    SetWebWriter(web, web.writer);  // "who" changed for every page
    return 0;
}

void Act(Web& web, int index) {
    WebPage& page = web.page[index];
    unsigned dropped = 0;
    ParseWebInput(reinterpret_cast<const char*>(page.input), page.inputLength, &web.parsed, &dropped);
    const WebInput& input = web.parsed;
    if (input.command == WebCommand::History) {
        page.historyAsked = !input.live;
        page.historyFrom = input.row;
        WantWrite(web, page.wsi);
        return;
    }
    if (input.command == WebCommand::Take) {
        if (!page.mayWrite) {
            std::snprintf(page.notice, sizeof page.notice, "taking the line needs the token: log in");
        } else if (web.settings.watchOnly) {  // the roster moves the role, and says so
            if (web.hooks.take == nullptr || page.member == 0 || !web.hooks.take(web.hooks.user, page.member))
                std::snprintf(page.notice, sizeof page.notice, "you may only watch this line");
        } else {
            SetWebWriter(web, index);
            char text[64];
            std::snprintf(text, sizeof text, "web: page %d took the line", index + 1);
            Say(web, text);
        }
        WantWrite(web, page.wsi);
        return;
    }
    if (input.command == WebCommand::Seek || input.command == WebCommand::Pause) {
        if (!web.replay.on) return;
        if (!page.mayWrite) {
            std::snprintf(page.notice, sizeof page.notice,
                          "watching only: log in with the token to move the replay");
            WantWrite(web, page.wsi);
        } else if (web.hooks.replay != nullptr) {
            web.hooks.replay(web.hooks.user, input.command, input.time, input.on);
        }
        return;
    }
    if (input.command == WebCommand::Ignore) return;
    if (web.writer != index) {  // a watcher sends nothing
        std::snprintf(page.notice, sizeof page.notice, "watching: take the line to type");
        WantWrite(web, page.wsi);
        return;
    }
    if (input.command == WebCommand::Bytes) {
        unsigned taken = web.hooks.send != nullptr
                             ? web.hooks.send(web.hooks.user, input.bytes, input.count, input.paste)
                             : input.count;
        if (taken < input.count) {  // held: the page is not read until the line takes these
            std::memcpy(page.pending, input.bytes + taken, input.count - taken);
            page.pendingStart = 0;
            page.pendingEnd = input.count - taken;
            page.pendingPaste = input.paste;
            lws_rx_flow_control(page.wsi, 0);
        }
        if (dropped > 0) {
            std::snprintf(page.notice, sizeof page.notice,
                          "%u characters of the paste have no byte: left out", dropped);
            WantWrite(web, page.wsi);
        }
    } else if (web.hooks.control != nullptr) {
        web.hooks.control(web.hooks.user, input.command, input.on);
    }
}

void Receive(Web& web, struct lws* wsi, const void* in, size_t len) {
    int index = PageIndex(web, wsi);
    if (index < 0) return;
    WebPage& page = web.page[index];
    if (page.inputTooLong || page.inputLength + len > WebInputCapacity) {
        page.inputTooLong = true;
    } else {
        std::memcpy(page.input + page.inputLength, in, len);
        page.inputLength += unsigned(len);
    }
    if (!lws_is_final_fragment(wsi) || lws_remaining_packet_payload(wsi) > 0) return;
    if (page.inputTooLong) {
        std::snprintf(page.notice, sizeof page.notice, "a message over %u bytes was left out",
                      WebInputCapacity);
        WantWrite(WebOf(wsi), wsi);
    } else {
        Act(web, index);
    }
    page.inputLength = 0;
    page.inputTooLong = false;
}

int Writeable(Web& web, struct lws* wsi) {
    if (WebConnection* connection = ConnectionOf(web, wsi)) connection->wantWrite = false;
    int index = PageIndex(web, wsi);
    if (index < 0) return 0;
    WebPage& page = web.page[index];
    char* out = reinterpret_cast<char*>(web.message + LWS_PRE);
    unsigned length;
    if (page.notice[0] != '\0') {
        length = ComposeWebNotice(page.notice, out, WebMessageCapacity);
        page.notice[0] = '\0';
    } else if (page.replayDue) {
        length =
            ComposeWebReplay(web.replay, MonotonicMilliseconds(), page.mayWrite, out, WebMessageCapacity);
        page.replayDue = false;
    } else if (page.historyAsked && web.history != nullptr) {
        length = ComposeWebHistory(*web.history, web.shown, page.historyFrom, out, WebMessageCapacity);
        page.historyAsked = false;
    } else {
        WebRole role = web.writer == index ? WebRole::Writer : WebRole::Watcher;
        length = ComposeWebUpdate(page.view, web.shown, role, out, WebMessageCapacity);
        if (length > 0) page.lastUpdate = MonotonicMilliseconds();
    }
    if (length > 0 && lws_write(wsi, web.message + LWS_PRE, length, LWS_WRITE_TEXT) < int(length)) return -1;
    if (page.notice[0] != '\0' || page.replayDue || page.historyAsked || page.view.Pending())
        WantWrite(WebOf(wsi), wsi);
    return 0;
}

int PageCallback(struct lws* wsi, enum lws_callback_reasons reason, void*, void* in, size_t len) {
    Web& web = WebOf(wsi);
    switch (reason) {
        case LWS_CALLBACK_ESTABLISHED: return Established(web, wsi);
        case LWS_CALLBACK_RECEIVE: Receive(web, wsi, in, len); return 0;
        case LWS_CALLBACK_SERVER_WRITEABLE: return Writeable(web, wsi);
        case LWS_CALLBACK_CLOSED: {
            int index = PageIndex(web, wsi);
            if (index < 0) return 0;
            web.page[index].wsi = nullptr;
            --web.pages;
            SetWebWriter(web, web.writer == index ? WebLocalWriter : web.writer);
            uint16_t member = web.page[index].member;
            web.page[index].member = 0;
            if (member != 0 && web.hooks.leave != nullptr) web.hooks.leave(web.hooks.user, member);
            return 0;
        }
        default: return 0;
    }
}

const struct lws_protocols Protocols[] = {
    {"http", HttpCallback, sizeof(HttpState), 0, 0, nullptr, 0},
    {ProtocolName, PageCallback, 0, 4096, 0, nullptr, 0},
    {nullptr, nullptr, 0, 0, 0, nullptr, 0},
};

bool ReadFileText(const char* path, char* text, unsigned capacity) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t count = read(fd, text, capacity - 1);
    close(fd);
    if (count < 0) return false;
    text[count] = '\0';
    return true;
}

int Listen(const char* host, int port, char* message, unsigned capacity, const char* address) {
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    char service[8];
    std::snprintf(service, sizeof service, "%d", port);
    struct addrinfo* found = nullptr;
    int failed = getaddrinfo(host, service, &hints, &found);
    if (failed != 0) {
        std::snprintf(message, capacity, "--web %s: %s", address, gai_strerror(failed));
        return -1;
    }
    int fd = -1, error = 0;
    for (struct addrinfo* at = found; at != nullptr && fd < 0; at = at->ai_next) {
        fd = socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, at->ai_addr, at->ai_addrlen) != 0 || listen(fd, 64) != 0) {
            error = errno;
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) std::snprintf(message, capacity, "--web %s: %s", address, std::strerror(error));
    return fd;
}

// An address as a key: IPv4 written as IPv6 does (::ffff:a.b.c.d), and its
// text, numeric, an IPv4 one as itself.
void AddressOf(const struct sockaddr_storage& address, uint8_t key[16], char* text, unsigned capacity) {
    std::memset(key, 0, 16);
    text[0] = '\0';
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const struct sockaddr_in&>(address);
        key[10] = key[11] = 0xff;
        std::memcpy(key + 12, &v4.sin_addr, 4);
    } else if (address.ss_family == AF_INET6) {
        std::memcpy(key, &reinterpret_cast<const struct sockaddr_in6&>(address).sin6_addr, 16);
    } else {
        return;
    }
    static const uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(key, mapped, sizeof mapped) == 0) {
        inet_ntop(AF_INET, key + 12, text, capacity);
    } else {
        inet_ntop(AF_INET6, key, text, capacity);
    }
}

// The connection that has waited longest for its request, from `peer` or
// from anyone (null), among those the library has read once; -1 when none.
int OldestWaiting(const Web& web, const uint8_t* peer) {
    int oldest = -1;
    for (unsigned i = 0; i < web.connections; ++i) {
        const WebConnection& connection = web.connection[i];
        if (connection.waitingSince == 0 || !connection.read || connection.wsi == nullptr) continue;
        if (peer != nullptr && std::memcmp(connection.peer, peer, 16) != 0) continue;
        if (oldest < 0 || connection.waitingSince < web.connection[oldest].waitingSince) oldest = int(i);
    }
    return oldest;
}

unsigned WaitingFrom(const Web& web, const uint8_t* peer) {
    unsigned count = 0;
    for (unsigned i = 0; i < web.connections; ++i) {
        const WebConnection& connection = web.connection[i];
        count += connection.waitingSince != 0 && std::memcmp(connection.peer, peer, 16) == 0;
    }
    return count;
}

// Closes a connection at once; the library forgets it (WSI_DESTROY) before this returns.
void Drop(Web& web, int index) {
    if (index >= 0 && web.connection[index].wsi != nullptr)
        lws_set_timeout(web.connection[index].wsi, PENDING_TIMEOUT_USER_OK, LWS_TO_KILL_SYNC);
}

// One address keeps at most WebMaxWaitingPerPeer connections that have not
// sent their request once the library has read them: its oldest go.
void BoundWaiting(Web& web) {
    for (unsigned i = 0; i < web.connections; ++i) {
        uint8_t peer[16];
        std::memcpy(peer, web.connection[i].peer, sizeof peer);
        for (unsigned waiting = WaitingFrom(web, peer); waiting > WebMaxWaitingPerPeer; --waiting) {
            unsigned before = web.connections;
            Drop(web, OldestWaiting(web, peer));
            if (web.connections == before) break;  // none read yet: the next pass
        }
    }
}

// Takes the connections waiting, up to the limit, and gives them to the
// library; true when it took any. A full house makes room by closing the
// connection that has waited longest for its request among those the
// library has read once: one whose request comes with it is read before a
// newer connection may close it, so slow ones keep nobody out.
bool Accept(Web& web) {
    bool took = false;
    for (unsigned taken = 0; taken < WebMaxConnections; ++taken) {  // a flood of them waits a pass
        int making = web.connections < WebMaxConnections ? -1 : OldestWaiting(web, nullptr);
        if (web.connections >= WebMaxConnections && making < 0) return took;
        struct sockaddr_storage address, local;
        socklen_t length = sizeof address, localLength = sizeof local;
        int fd = accept4(web.listener, reinterpret_cast<struct sockaddr*>(&address), &length,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return took;
        WebConnection fresh = {fd, nullptr, false, false, MonotonicMilliseconds(), false, {}, ""};
        uint8_t ignored[16];
        AddressOf(address, fresh.peer, fresh.local, sizeof fresh.local);
        if (getsockname(fd, reinterpret_cast<struct sockaddr*>(&local), &localLength) == 0) {
            AddressOf(local, ignored, fresh.local, sizeof fresh.local);
        } else {
            fresh.local[0] = '\0';
        }
        Drop(web, making);
        if (web.connections >= WebMaxConnections) {  // no room after all
            close(fd);
            continue;
        }
        lws_sock_file_fd_type descriptor;
        descriptor.sockfd = fd;
        unsigned type = LWS_ADOPT_SOCKET | LWS_ADOPT_HTTP | (web.tls ? LWS_ADOPT_ALLOW_SSL : 0);
        // Known before the library calls back about it.
        web.connection[web.connections++] = fresh;
        struct lws* wsi =
            lws_adopt_descriptor_vhost(web.vhost, lws_adoption_type(type), descriptor, nullptr, nullptr);
        WebConnection* added = nullptr;
        for (unsigned i = 0; i < web.connections; ++i) {
            if (web.connection[i].fd == fd && web.connection[i].wsi == nullptr) added = &web.connection[i];
        }
        if (added == nullptr) continue;
        if (wsi == nullptr) {  // the library closed it
            *added = web.connection[--web.connections];
        } else {
            added->wsi = wsi;
            took = true;
        }
    }
    return took;
}

}  // namespace

bool OpenWeb(Web& web, const WebSettings& settings, const WebHooks& hooks, const History* history,
             char* message, unsigned capacity) {
    char host[256];
    int port = 0;
    const char* problem = nullptr;
    if (!ParseWebAddress(settings.address, host, sizeof host, &port, &problem)) {
        std::snprintf(message, capacity, "--web %s: %s", settings.address, problem);
        return false;
    }
    if ((settings.token == nullptr || settings.token[0] == '\0') && !settings.openWatch) {
        std::snprintf(message, capacity,
                      "--web needs --share-token FILE or --web-open-watch: nobody could connect");
        return false;
    }
    if ((settings.cert != nullptr) != (settings.key != nullptr)) {
        std::snprintf(message, capacity, "--web-cert and --web-key go together");
        return false;
    }
    web.settings = settings;
    web.port = port;
    std::snprintf(web.host, sizeof web.host, "%s", host);
    web.nameCount = 0;
    web.names[web.nameCount++] = web.host;
    for (unsigned i = 0; i < settings.hostCount && i < WebMaxHostNames; ++i)
        web.names[web.nameCount++] = settings.hosts[i];
    std::snprintf(web.token, sizeof web.token, "%s", settings.token != nullptr ? settings.token : "");
    web.tls = settings.cert != nullptr;
    if (web.tls) {  // refuse a file we cannot read now, with its name, rather than the library's words
        char probe[8];
        const char* unreadable = !ReadFileText(settings.cert, probe, sizeof probe)  ? settings.cert
                                 : !ReadFileText(settings.key, probe, sizeof probe) ? settings.key
                                                                                    : nullptr;
        if (unreadable != nullptr) {
            std::snprintf(message, capacity, "--web: cannot read %s: %s", unreadable, std::strerror(errno));
            return false;
        }
    }
    web.hooks = hooks;
    web.history = history;
    web.pages = 0;
    web.writer = WebLocalWriter;
    ResetWebShown(web.shown);
    lws_set_log_level(0, nullptr);

    web.listener = Listen(host, port, message, capacity, settings.address);
    if (web.listener < 0) return false;
    struct lws_context_creation_info info;
    std::memset(&info, 0, sizeof info);
    // We listen and accept in our own loop, and hand each connection over:
    // so every descriptor the pages use is one we know to poll.
    info.port = CONTEXT_PORT_NO_LISTEN_SERVER;
    info.protocols = Protocols;
    info.user = &web;
    info.fd_limit_per_thread = WebMaxConnections + 8;  // and the library's own
    info.max_http_header_data = HeaderCapacity;
    info.max_http_header_pool = WebMaxConnections;
    info.timeout_secs = 20;
    info.options = LWS_SERVER_OPTION_VALIDATE_UTF8;
    if (web.tls) {
        info.options |= LWS_SERVER_OPTION_DO_SSL_GLOBAL_INIT;
        info.ssl_cert_filepath = settings.cert;
        info.ssl_private_key_filepath = settings.key;
    }
    web.context = lws_create_context(&info);
    web.vhost = web.context != nullptr ? lws_get_vhost_by_name(web.context, "default") : nullptr;
    if (web.vhost == nullptr) {
        std::snprintf(message, capacity, "--web %s: the server does not start%s", settings.address,
                      web.tls ? " (do the certificate and key load?)" : "");
        CloseWeb(web);
        return false;
    }
    return true;
}

void CloseWeb(Web& web) {
    if (web.context != nullptr) lws_context_destroy(web.context);
    if (web.listener >= 0) close(web.listener);
    web.context = nullptr;
    web.vhost = nullptr;
    web.listener = -1;
    web.connections = 0;
    web.pages = 0;
    for (WebPage& page : web.page) page.wsi = nullptr;
}

unsigned WebDescriptors(const Web& web, struct pollfd* fds) {
    if (web.context == nullptr) return 0;
    unsigned count = 0;
    // Full, a connection still waiting for its request makes room for a new one.
    bool room = web.connections < WebMaxConnections || OldestWaiting(web, nullptr) >= 0;
    fds[count++] = {web.listener, short(room ? POLLIN : 0), 0};
    for (unsigned i = 0; i < web.connections; ++i) {
        const WebConnection& connection = web.connection[i];
        bool out = connection.wantWrite || connection.sendingFile || lws_partial_buffered(connection.wsi);
        fds[count++] = {connection.fd, short(POLLIN | (out ? POLLOUT : 0)), 0};
    }
    return count;
}

void ServeWeb(Web& web, const struct pollfd* fds, unsigned count) {
    if (web.context == nullptr) return;
    bool ready = false;
    for (unsigned i = 1; i < count; ++i) ready = ready || fds[i].revents != 0;
    int64_t now = MonotonicMilliseconds();
    // A request not in by its deadline will not be: its connection goes.
    for (unsigned i = web.connections; i-- > 0;) {
        const WebConnection& connection = web.connection[i];
        if (connection.waitingSince != 0 && now - connection.waitingSince >= WebRequestMilliseconds)
            Drop(web, int(i));
    }
    // What came with a new connection is read in this pass.
    if (count > 0 && (fds[0].revents & POLLIN) && Accept(web)) ready = true;
    // The library polls its own descriptors without waiting and serves
    // what is ready, its timers too: ours only told us when to ask.
    for (unsigned i = 0; i < WebMaxPages; ++i) {  // what the line did not take before
        WebPage& page = web.page[i];
        if (page.wsi == nullptr || page.pendingStart == page.pendingEnd) continue;
        if (web.writer != int(i)) {  // no longer the writer: what waits is not sent
            page.pendingStart = page.pendingEnd = 0;
        } else if (web.hooks.send != nullptr) {
            page.pendingStart += web.hooks.send(web.hooks.user, page.pending + page.pendingStart,
                                                page.pendingEnd - page.pendingStart, page.pendingPaste);
        }
        if (page.pendingStart == page.pendingEnd) lws_rx_flow_control(page.wsi, 1);
    }
    for (WebPage& page : web.page) {  // held updates whose time has come
        if (page.wsi == nullptr || !page.held || now - page.lastUpdate < WebUpdateMilliseconds) continue;
        page.held = false;
        WantWrite(web, page.wsi);
        ready = true;
    }
    if (ready || now >= web.serviceDue) {
        lws_service_tsi(web.context, -1, 0);
        for (unsigned i = 0; i < web.connections; ++i) web.connection[i].read = true;
        BoundWaiting(web);
        web.serviceDue = now + (web.connections > 0 ? WebTickMilliseconds : 1000);
    }
}

int WebTimeout(const Web& web) {
    if (web.context == nullptr) return -1;
    int64_t due = web.serviceDue;
    for (const WebPage& page : web.page) {
        if (page.wsi != nullptr && page.held && page.lastUpdate + WebUpdateMilliseconds < due) {
            due = page.lastUpdate + WebUpdateMilliseconds;
        }
    }
    int64_t wait = due - MonotonicMilliseconds();
    return wait < 0 ? 0 : int(wait);
}

void WebShowFrame(Web& web, const WebFrame& frame) {
    if (web.context == nullptr) return;
    WebChange change = NoteWebFrame(web.shown, frame);
    if (change.rows == 0 && !change.cursor && !change.status) return;
    int64_t now = MonotonicMilliseconds();
    for (WebPage& page : web.page) {
        if (page.wsi == nullptr) continue;
        MarkWebView(page.view, change);
        // Soon after the last update the change waits (marked) for its turn.
        if (now - page.lastUpdate < WebUpdateMilliseconds) {
            page.held = true;
        } else {
            WantWrite(web, page.wsi);
        }
    }
}

void WebSayToPages(Web& web, const char* text) {
    for (WebPage& page : web.page) {
        if (page.wsi == nullptr) continue;
        std::snprintf(page.notice, sizeof page.notice, "%s", text);
        WantWrite(web, page.wsi);
    }
}

void WebSayToPage(Web& web, int index, const char* text) {
    if (index < 0 || unsigned(index) >= WebMaxPages || web.page[index].wsi == nullptr) return;
    std::snprintf(web.page[index].notice, sizeof web.page[index].notice, "%s", text);
    WantWrite(web, web.page[index].wsi);
}

int WebPageOf(const Web& web, uint16_t member) {
    for (unsigned i = 0; i < WebMaxPages; ++i) {
        if (member != 0 && web.page[i].wsi != nullptr && web.page[i].member == member) return int(i);
    }
    return -1;
}

void SetWebWriter(Web& web, int writer) {
    web.writer = writer;
    for (WebPage& page : web.page) {
        if (page.wsi == nullptr) continue;
        page.view.status = true;
        WantWrite(web, page.wsi);
    }
}

void SetWebReplay(Web& web, const WebReplay& replay) {
    web.replay = replay;
    for (WebPage& page : web.page) {
        if (page.wsi == nullptr) continue;
        page.replayDue = true;
        WantWrite(web, page.wsi);
    }
}

#include "console/rules/web_auth.h"

#include <cstdio>
#include <cstring>

#include "console/rules/hex_view.h"

bool WebTokenMatches(const char* right, const char* given, unsigned givenLength) {
    unsigned rightLength = unsigned(std::strlen(right));
    if (rightLength == 0) return false;
    unsigned differ = rightLength ^ givenLength;
    for (unsigned i = 0; i < rightLength; ++i) {
        differ |= unsigned(uint8_t(right[i]) ^ uint8_t(i < givenLength ? given[i] : 0));
    }
    return differ == 0;
}

const char* StartWebSession(WebSessions& sessions, const uint8_t random[16]) {
    char* id = sessions.id[sessions.next];
    sessions.next = (sessions.next + 1) % WebMaxSessions;
    for (unsigned i = 0; i < 16; ++i) std::snprintf(id + 2 * i, 3, "%02x", random[i]);
    return id;
}

bool WebCookieHasSession(const WebSessions& sessions, const char* cookieHeader) {
    const unsigned nameLength = sizeof WebCookieName - 1;
    for (const char* p = cookieHeader; p != nullptr && *p != '\0';) {
        while (*p == ' ' || *p == ';') ++p;
        const char* end = std::strchr(p, ';');
        unsigned length = end != nullptr ? unsigned(end - p) : unsigned(std::strlen(p));
        if (length == nameLength + 1 + WebSessionIdLength &&
            std::strncmp(p, WebCookieName, nameLength) == 0 && p[nameLength] == '=') {
            const char* value = p + nameLength + 1;
            for (const auto& id : sessions.id) {
                if (id[0] != '\0' && WebTokenMatches(id, value, WebSessionIdLength)) return true;
            }
        }
        p = end;
    }
    return false;
}

bool WebFormToken(const char* body, unsigned length, char* token, unsigned capacity) {
    unsigned at = 0;
    while (at < length) {
        unsigned end = at;
        while (end < length && body[end] != '&') ++end;
        if (end - at >= 6 && std::strncmp(body + at, "token=", 6) == 0) {
            unsigned count = 0;
            for (unsigned i = at + 6; i < end; ++i) {
                char c = body[i];
                if (c == '+') {
                    c = ' ';
                } else if (c == '%') {
                    int high = i + 2 < end ? HexDigit(body[i + 1]) : -1;
                    int low = high >= 0 ? HexDigit(body[i + 2]) : -1;
                    if (low < 0) return false;
                    c = char(high * 16 + low);
                    i += 2;
                }
                // No token holds a control byte: a %00 must not end the
                // value early and leave its right prefix to match.
                if (count + 1 >= capacity || uint8_t(c) < 0x20 || c == 0x7f) return false;
                token[count++] = c;
            }
            token[count] = '\0';
            return true;
        }
        at = end + 1;
    }
    return false;
}

bool WebOriginMatches(const char* origin, const char* host, bool tls) {
    const char* scheme = tls ? "https://" : "http://";
    unsigned schemeLength = unsigned(std::strlen(scheme));
    if (origin == nullptr || host == nullptr || host[0] == '\0') return false;
    return std::strncmp(origin, scheme, schemeLength) == 0 && std::strcmp(origin + schemeLength, host) == 0;
}

bool WebSameOrigin(const char* origin, const char* fetchSite, const char* host, bool tls) {
    return WebOriginMatches(origin, host, tls) &&
           (fetchSite == nullptr || fetchSite[0] == '\0' || std::strcmp(fetchSite, "same-origin") == 0);
}

namespace {

// The name in a Host header or a --web-host (an IPv6 address's brackets
// taken off) and its port, 0 when it gives none. False when malformed.
bool SplitHostName(const char* text, char* name, unsigned capacity, int* port) {
    const char* end = text + std::strlen(text);
    const char* start = text;
    const char* colon = nullptr;
    if (*text == '[') {
        const char* close = std::strchr(text, ']');
        if (close == nullptr || (close[1] != '\0' && close[1] != ':')) return false;
        start = text + 1;
        colon = close[1] == ':' ? close + 1 : nullptr;
        end = close;
    } else {
        colon = std::strchr(text, ':');
        if (colon != nullptr && std::strchr(colon + 1, ':') != nullptr)
            colon = nullptr;  // a bare IPv6 address
        if (colon != nullptr) end = colon;
    }
    *port = 0;
    if (colon != nullptr) {
        if (colon[1] == '\0') return false;
        long value = 0;
        for (const char* p = colon + 1; *p != '\0'; ++p) {
            if (*p < '0' || *p > '9' || value > 65535) return false;
            value = value * 10 + (*p - '0');
        }
        if (value < 1 || value > 65535) return false;
        *port = int(value);
    }
    unsigned length = unsigned(end - start);
    if (length == 0 || length >= capacity) return false;
    for (unsigned i = 0; i < length; ++i) {
        char c = start[i];
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_' || c == ':';
        if (!allowed) return false;
        name[i] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    }
    name[length] = '\0';
    return true;
}

bool SameName(const char* a, const char* b) {
    char left[WebHostNameCapacity], right[WebHostNameCapacity];
    int port = 0;
    return SplitHostName(a, left, sizeof left, &port) && port == 0 &&
           SplitHostName(b, right, sizeof right, &port) && port == 0 && std::strcmp(left, right) == 0;
}

}  // namespace

const char* WebHostNameProblem(const char* name) {
    char plain[WebHostNameCapacity];
    int port = 0;
    if (std::strlen(name) >= WebHostNameCapacity) return "the name is too long";
    if (!SplitHostName(name, plain, sizeof plain, &port)) return "not a host's name";
    if (port != 0) return "a name without a port (the port is --web's)";
    return nullptr;
}

bool WebLoopbackName(const char* name) {
    if (std::strcmp(name, "localhost") == 0 || std::strcmp(name, "::1") == 0) return true;
    unsigned parts = 0, digits = 0, value = 0;
    if (std::strncmp(name, "127.", 4) != 0) return false;
    for (const char* p = name;; ++p) {
        if (*p >= '0' && *p <= '9') {
            value = value * 10 + unsigned(*p - '0');
            if (++digits > 3 || value > 255) return false;
        } else if ((*p == '.' || *p == '\0') && digits > 0) {
            ++parts;
            digits = value = 0;
            if (*p == '\0') return parts == 4;
        } else {
            return false;
        }
    }
}

bool WebHostAllowed(const char* host, const char* local, int port, bool tls, const char* const* names,
                    unsigned count) {
    char name[WebHostNameCapacity];
    int given = 0;
    if (host == nullptr || !SplitHostName(host, name, sizeof name, &given)) return false;
    if ((given != 0 ? given : tls ? 443 : 80) != port) return false;
    if (local != nullptr && SameName(name, local)) return true;
    if (local != nullptr && WebLoopbackName(local) && WebLoopbackName(name)) return true;
    for (unsigned i = 0; i < count; ++i) {
        if (names[i] != nullptr && SameName(name, names[i])) return true;
    }
    return false;
}

WebPath ClassifyWebPath(const char* path) {
    char clean[256];
    unsigned length = 0;
    while (path[length] != '\0' && path[length] != '?' && path[length] != '#') {
        if (length + 1 >= sizeof clean) return WebPath::NotFound;
        clean[length] = path[length];
        ++length;
    }
    clean[length] = '\0';
    if (std::strstr(clean, "..") != nullptr || std::strstr(clean, "%2e") != nullptr ||
        std::strstr(clean, "%2E") != nullptr) {
        return WebPath::BadRequest;
    }
    if (std::strcmp(clean, "/") == 0 || std::strcmp(clean, "/index.html") == 0) return WebPath::Page;
    if (std::strcmp(clean, "/page.js") == 0) return WebPath::Script;
    if (std::strcmp(clean, "/page.css") == 0) return WebPath::Style;
    if (std::strcmp(clean, "/login") == 0) return WebPath::Login;
    if (std::strcmp(clean, "/log") == 0) return WebPath::Log;
    return WebPath::NotFound;
}

bool ParseWebAddress(const char* text, char* host, unsigned hostCapacity, int* port, const char** problem) {
    const char* colon = std::strrchr(text, ':');
    const char* digits = colon != nullptr ? colon + 1 : text;
    unsigned hostLength = colon != nullptr ? unsigned(colon - text) : 0;
    if (colon != nullptr && hostLength >= 2 && text[0] == '[' && text[hostLength - 1] == ']') {
        ++text;  // [::1]: the brackets are the notation's, not the name's
        hostLength -= 2;
    }
    long value = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > 65535) {
            *problem = "not a port number";
            return false;
        }
        value = value * 10 + (*p - '0');
    }
    if (*digits == '\0' || value < 1 || value > 65535) {
        *problem = "a port is 1 to 65535";
        return false;
    }
    if (colon != nullptr && hostLength == 0) {
        *problem = "no host before the colon";
        return false;
    }
    if (hostLength >= hostCapacity) {
        *problem = "the host's name is too long";
        return false;
    }
    if (colon != nullptr) {
        std::memcpy(host, text, hostLength);
        host[hostLength] = '\0';
    } else {
        std::snprintf(host, hostCapacity, "127.0.0.1");
    }
    *port = int(value);
    return true;
}

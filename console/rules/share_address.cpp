#include "console/rules/share_address.h"

#include <cstdio>
#include <cstring>

bool ParseShareAddress(const char* text, ShareAddress* address, const char** problem) {
    std::memset(address, 0, sizeof *address);
    *problem = "give --share unix:PATH, tcp:PORT or tcp:HOST:PORT";
    if (std::strncmp(text, "unix:", 5) == 0) {
        const char* path = text + 5;
        if (path[0] == '\0') return false;
        if (std::strlen(path) >= sizeof address->path) {
            *problem = "the socket's path is too long (at most 107 bytes)";
            return false;
        }
        address->unixSocket = true;
        std::snprintf(address->path, sizeof address->path, "%s", path);
        return true;
    }
    if (std::strncmp(text, "tcp:", 4) != 0) return false;
    const char* rest = text + 4;
    const char* colon = std::strrchr(rest, ':');
    const char* port = colon != nullptr ? colon + 1 : rest;
    size_t digits = std::strlen(port);
    unsigned long value = 0;
    for (const char* d = port; *d != '\0'; ++d) {
        if (*d < '0' || *d > '9' || digits > 5) return false;
        value = value * 10 + unsigned(*d - '0');
    }
    if (digits == 0 || value == 0 || value > 65535) {
        *problem = "the port must be a number from 1 to 65535";
        return false;
    }
    std::snprintf(address->port, sizeof address->port, "%lu", value);
    if (colon == nullptr) {
        std::snprintf(address->host, sizeof address->host, "127.0.0.1");
        return true;
    }
    const char* host = rest;
    size_t length = size_t(colon - rest);
    if (length >= 2 && host[0] == '[' && host[length - 1] == ']') {
        ++host;
        length -= 2;
    } else if (std::memchr(host, ':', length) != nullptr) {
        *problem = "put an IPv6 address in brackets: tcp:[::1]:PORT";
        return false;
    }
    if (length == 0 || length >= sizeof address->host) {
        *problem = "give the host before the port: tcp:HOST:PORT";
        return false;
    }
    std::memcpy(address->host, host, length);
    return true;
}

namespace {

const char RunFolder[] = "/run/brisvane/";

}  // namespace

bool ParseAttachAddress(const char* text, ShareAddress* address, const char** problem) {
    // tcp:PORT is this machine, as --share reads it.
    if (std::strncmp(text, "unix:", 5) == 0 || std::strncmp(text, "tcp:", 4) == 0) {
        return ParseShareAddress(text, address, problem);
    }
    // A served line's name: letters, digits and . _ - only, so it stays a
    // file in the run folder.
    size_t length = std::strlen(text);
    *problem = "give --attach unix:PATH, tcp:HOST:PORT or the NAME of a served line";
    if (length == 0 || length + sizeof RunFolder + 5 > SharePathCapacity || text[0] == '.') return false;
    for (const char* at = text; *at != '\0'; ++at) {
        bool fine = (*at >= 'a' && *at <= 'z') || (*at >= 'A' && *at <= 'Z') || (*at >= '0' && *at <= '9') ||
                    *at == '.' || *at == '_' || *at == '-' || *at == '@';
        if (!fine) return false;
    }
    std::memset(address, 0, sizeof *address);
    address->unixSocket = true;
    std::snprintf(address->path, sizeof address->path, "%s%s.sock", RunFolder, text);
    return true;
}

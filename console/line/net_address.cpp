#include "console/line/net_address.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

const struct {
    const char* prefix;
    NetworkProtocol protocol;
} Prefixes[] = {
    {"rfc2217://", NetworkProtocol::Rfc2217},
    {"tcp://", NetworkProtocol::RawTcp},
};

// The text after the prefix, or null when `device` has neither.
const char* AfterPrefix(const char* device, NetworkProtocol* protocol) {
    for (const auto& entry : Prefixes) {
        size_t length = std::strlen(entry.prefix);
        if (strncasecmp(device, entry.prefix, length) == 0) {
            *protocol = entry.protocol;
            return device + length;
        }
    }
    return nullptr;
}

}  // namespace

bool IsNetworkDevice(const char* device) {
    NetworkProtocol protocol;
    return AfterPrefix(device, &protocol) != nullptr;
}

bool ParseNetworkDevice(const char* device, NetworkAddress* address, const char** problem) {
    const char* rest = AfterPrefix(device, &address->protocol);
    if (rest == nullptr) {
        *problem = "a network line starts with rfc2217:// or tcp://";
        return false;
    }
    const char* host = rest;
    const char* hostEnd;
    const char* colon;
    if (*rest == '[') {  // [IPv6]:PORT
        host = rest + 1;
        hostEnd = std::strchr(host, ']');
        if (hostEnd == nullptr) {
            *problem = "an IPv6 address needs its closing ]: [::1]:PORT";
            return false;
        }
        colon = hostEnd + 1;
        if (*colon != ':') colon = nullptr;
    } else {
        colon = std::strrchr(rest, ':');
        hostEnd = colon != nullptr ? colon : rest + std::strlen(rest);
        if (std::memchr(host, ':', static_cast<size_t>(hostEnd - host)) != nullptr) {
            *problem = "put an IPv6 address in brackets: [::1]:PORT";
            return false;
        }
    }
    size_t hostLength = static_cast<size_t>(hostEnd - host);
    if (hostLength == 0) {
        *problem = "the host is empty: give HOST:PORT";
        return false;
    }
    if (hostLength >= sizeof address->host) {
        *problem = "the host name is too long";
        return false;
    }
    if (colon == nullptr || colon[1] == '\0') {
        *problem = "give the port after the host: HOST:PORT";
        return false;
    }
    unsigned long port = 0;
    for (const char* digit = colon + 1; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || port > 65535) {
            port = 0;
            break;
        }
        port = port * 10 + static_cast<unsigned long>(*digit - '0');
    }
    if (port == 0 || port > 65535) {
        *problem = "the port must be a number from 1 to 65535";
        return false;
    }
    std::memcpy(address->host, host, hostLength);
    address->host[hostLength] = '\0';
    address->port = static_cast<uint16_t>(port);
    return true;
}

void FormatNetworkName(const NetworkAddress& address, char* text, unsigned capacity) {
    bool ipv6 = std::strchr(address.host, ':') != nullptr;
    std::snprintf(text, capacity, ipv6 ? "[%s]:%u" : "%s:%u", address.host,
                  static_cast<unsigned>(address.port));
}

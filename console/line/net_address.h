// The network forms of a device: "rfc2217://HOST:PORT" for a serial port
// server that speaks the COM-PORT-OPTION, "tcp://HOST:PORT" for a raw TCP
// port. HOST is a name, an IPv4 address, or an IPv6 address in brackets
// ("[::1]"). Pure text handling: nothing is resolved here.
#ifndef BRISVANE_CONSOLE_NET_ADDRESS_H
#define BRISVANE_CONSOLE_NET_ADDRESS_H

#include <cstdint>

enum class NetworkProtocol : uint8_t { Rfc2217, RawTcp };

struct NetworkAddress {
    NetworkProtocol protocol;
    char host[256];  // without the brackets of an IPv6 address
    uint16_t port;   // 1..65535
};

// True when `device` starts with "rfc2217://" or "tcp://" (any case): it is
// meant as a network line, not a path, even if the rest is wrong.
bool IsNetworkDevice(const char* device);

// Reads a network form into *address. On a fault returns false with
// *problem pointing at a short description ("give the port: tcp://HOST:PORT",
// "the port must be a number from 1 to 65535", ...) and *address is not
// to be used.
bool ParseNetworkDevice(const char* device, NetworkAddress* address, const char** problem);

// "HOST:PORT" as the user wrote it ("[::1]:2217" for IPv6), always
// terminated (cut to fit).
void FormatNetworkName(const NetworkAddress& address, char* text, unsigned capacity);

#endif

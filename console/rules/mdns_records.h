// The pure side of mDNS: the TXT keys a served line advertises its
// services with, and the table of lines found on the network (what --list
// prints and what mdns:NAME connects to). No sockets, no daemon.
#ifndef BRISVANE_CONSOLE_MDNS_RECORDS_H
#define BRISVANE_CONSOLE_MDNS_RECORDS_H

#include <cstdint>
#include <string>
#include <vector>

// The service types: a port server's RFC 2217 (or raw) port, a served
// line's attach accepter, its browser page.
extern const char MdnsPortType[];    // _iostream._tcp
extern const char MdnsAttachType[];  // _brisvane._tcp
extern const char MdnsWebType[];     // _http._tcp

// What the line's device says of itself in sysfs; empty where it says
// nothing (a pty, a network line).
struct MdnsDeviceFacts {
    bool local = false;  // a device of this machine, not a network line
    std::string vendor, product, serial, manufacturer, productName;
};

// TXT strings ("key=value"), each cut to the 255 bytes a TXT string holds.
// The RFC 2217 accepter: provider, gensiostack, then the device's keys.
std::vector<std::string> PortServiceTxt(const MdnsDeviceFacts& device);
// The attach accepter: provider and the device's keys.
std::vector<std::string> AttachServiceTxt(const MdnsDeviceFacts& device);
// The browser page: provider and path=/.
std::vector<std::string> WebServiceTxt();

// The name a served line is advertised as: --mdns-name, else the
// profile's name, else the device's base name (ttyUSB0, or HOST:PORT's
// last part for a network line). At most 63 bytes, a DNS label's limit.
std::string MdnsServiceName(const char* given, const char* profile, const char* device);

// A service seen on the network, merged over the interfaces it was seen on.
struct MdnsFound {
    std::string name, type, domain;
    bool resolved = false;
    std::string host, address;  // host name, IPv4 address
    uint16_t port = 0;
    std::vector<std::string> txt;
};

const unsigned MdnsMaxFound = 128;

struct MdnsTable {
    std::vector<MdnsFound> found;
};

// A browser saw a service: true when it is new (so it is to be resolved),
// false when it was known or the table is full.
bool MdnsSeen(MdnsTable& table, const char* name, const char* type, const char* domain);
// A browser says it went away.
void MdnsGone(MdnsTable& table, const char* name, const char* type, const char* domain);
// Its resolver found where it is.
void MdnsResolved(MdnsTable& table, const char* name, const char* type, const char* domain, const char* host,
                  const char* address, uint16_t port, const std::vector<std::string>& txt);
// Entries still being resolved.
unsigned MdnsUnresolved(const MdnsTable& table);

// --list's part, in name order: one line per service (name, what to give
// brisvane to reach it, type, host) and one with its TXT keys. "none
// found" for an empty table.
std::string FormatMdnsTable(const MdnsTable& table);

// What mdns:NAME stands for: an RFC 2217 port (rfc2217://ADDRESS:PORT), a
// raw one (tcp://ADDRESS:PORT), or a served line's attach accepter
// (tcp:ADDRESS:PORT). A name with both is reached by attach when
// `preferAttach` (a token was given), else over RFC 2217.
enum class MdnsPick : uint8_t { NotFound, Network, Attach };
struct MdnsTarget {
    MdnsPick pick = MdnsPick::NotFound;
    std::string where;
};
MdnsTarget MdnsChoose(const MdnsTable& table, const char* name, bool preferAttach);
// The names found, for the message when one is not: "a, b" or "nothing".
std::string MdnsFoundNames(const MdnsTable& table);

#endif

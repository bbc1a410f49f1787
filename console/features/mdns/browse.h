// The lines on the network: a short browse, through the machine's
// avahi-daemon, for RFC 2217 and raw ports (_iostream._tcp, as port servers
// advertise them) and served lines' attach accepters (_brisvane._tcp), each
// resolved to an IPv4 address, port and TXT keys.
//
// It runs before the session starts (--list, mdns:NAME), waiting only in
// poll, and ends when avahi has said all it knows and every service is
// resolved, when `wanted` is found, or at the deadline. With no daemon it
// ends at once.
#ifndef BRISVANE_CONSOLE_MDNS_BROWSE_H
#define BRISVANE_CONSOLE_MDNS_BROWSE_H

#include "console/rules/mdns_records.h"

enum class BrowseResult : uint8_t { Done, NoDaemon };

// `wanted`: a service name whose finding ends the browse early, or null.
BrowseResult BrowseLines(MdnsTable* table, unsigned milliseconds, const char* wanted);

#endif

// mDNS in the program: a served line advertised on the network, --list's
// lines found there, and mdns:NAME made the address it stands for.
#ifndef BRISVANE_CONSOLE_NETWORK_LINES_H
#define BRISVANE_CONSOLE_NETWORK_LINES_H

#include <cstdint>
#include <cstdio>

#include "console/rules/options.h"
#include "console/rules/reaction.h"

struct Session;

// A served line's first RFC 2217 accepter (_iostream._tcp), its TCP attach
// accepter (_brisvane._tcp) and its pages (_http._tcp), named by
// --mdns-name, else `profile` (may be null), else the device's base name.
void AdvertiseServed(Session& console, const char* profile);

// --list's part: what the network holds, found within a second; one line
// when there is no avahi-daemon, and no wait.
void ListNetworkLines(FILE* out);

// options->device "mdns:NAME" becomes the port's rfc2217:// (or tcp://)
// address or, for a served line's attach accepter, options->attach (when a
// token was given or no port is advertised). False with a one-line message
// when the name is not found within 2 s (the names found listed) or there
// is no avahi-daemon: a usage error.
bool ResolveMdnsDevice(ConsoleOptions* options, char* message, unsigned capacity);

// The loop's timed row for avahi's timeouts.
int64_t MdnsDue(const Session& console);
Reaction MdnsTimers(Session& console, int64_t now);

#endif

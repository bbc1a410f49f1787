// A served line's services on the network, through the machine's
// avahi-daemon: one entry group under one name, driven from the program's
// own poll loop (avahi_poll.h). With no daemon nothing is advertised and
// nothing waits; a name another host holds is given up for avahi's
// alternative ("board #2"), and said. A daemon that goes away ends the
// advertising, said once.
#ifndef BRISVANE_CONSOLE_MDNS_ADVERTISE_H
#define BRISVANE_CONSOLE_MDNS_ADVERTISE_H

#include <cstdint>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>

#include "console/features/mdns/avahi_poll.h"

struct MdnsService {
    const char* type;  // MdnsPortType, MdnsAttachType, MdnsWebType
    uint16_t port;
    std::vector<std::string> txt;
};

struct AdvertiserState;
void FreeAdvertiser(AdvertiserState* state);

struct Advertiser {
    std::unique_ptr<AdvertiserState, void (*)(AdvertiserState*)> state{nullptr, FreeAdvertiser};
};

// Starts advertising `services` as `name`; `say` gets one line for the
// journal each time something is worth saying. Nothing to advertise, or no
// daemon (said): nothing more happens.
void StartAdvertising(Advertiser& advertiser, const std::string& name,
                      const std::vector<MdnsService>& services, void (*say)(void* user, const char* text),
                      void* user);
void StopAdvertising(Advertiser& advertiser);

// The loop's calls (room for MdnsMaxDescriptors pollfds).
unsigned AdvertiseDescriptors(Advertiser& advertiser, struct pollfd* fds);
void AdvertiseEvents(Advertiser& advertiser, const struct pollfd* fds, unsigned count);
int64_t AdvertiseDue(const Advertiser& advertiser);
void AdvertiseTimers(Advertiser& advertiser, int64_t now);

// The name in force (after any collision); empty when not advertising.
std::string AdvertisedName(const Advertiser& advertiser);

#endif

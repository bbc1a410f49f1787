#include "console/features/mdns/browse.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/strlst.h>
#include <cerrno>

#include "console/features/mdns/avahi_poll.h"
#include "console/line/clock.h"
#include "console/rules/schedule.h"

namespace {

struct Browse {
    MdnsTable* table;
    const char* wanted;
    unsigned browsing = 0;  // browsers that have not said "all for now"
    unsigned resolving = 0;
    bool found = false;
};

void Resolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
              const char* name, const char* type, const char* domain, const char* host,
              const AvahiAddress* address, uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags,
              void* user) {
    Browse& b = *static_cast<Browse*>(user);
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr) {
        char text[AVAHI_ADDRESS_STR_MAX];
        avahi_address_snprint(text, sizeof text, address);
        std::vector<std::string> items;
        for (AvahiStringList* item = txt; item != nullptr; item = avahi_string_list_get_next(item)) {
            items.emplace_back(reinterpret_cast<const char*>(avahi_string_list_get_text(item)),
                               avahi_string_list_get_size(item));
        }
        MdnsResolved(*b.table, name, type, domain, host, text, port, items);
        if (b.wanted != nullptr && std::string(name) == b.wanted) b.found = true;
    }
    avahi_service_resolver_free(resolver);
    --b.resolving;
}

void Seen(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
          AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
          AvahiLookupResultFlags, void* user) {
    Browse& b = *static_cast<Browse*>(user);
    switch (event) {
        case AVAHI_BROWSER_NEW:
            if (MdnsSeen(*b.table, name, type, domain) &&
                avahi_service_resolver_new(avahi_service_browser_get_client(browser), interface, protocol,
                                           name, type, domain, AVAHI_PROTO_INET, AvahiLookupFlags(0),
                                           Resolved, &b) != nullptr) {
                ++b.resolving;
            }
            break;
        case AVAHI_BROWSER_REMOVE: MdnsGone(*b.table, name, type, domain); break;
        case AVAHI_BROWSER_ALL_FOR_NOW:
        case AVAHI_BROWSER_FAILURE:
            if (b.browsing > 0) --b.browsing;
            break;
        case AVAHI_BROWSER_CACHE_EXHAUSTED: break;
    }
}

}  // namespace

BrowseResult BrowseLines(MdnsTable* table, unsigned milliseconds, const char* wanted) {
    int64_t deadline = MonotonicMilliseconds() + milliseconds;
    MdnsPoll poll;
    MdnsPollInit(poll);
    int error = 0;
    AvahiClient* client = avahi_client_new(&poll.api, AvahiClientFlags(0), nullptr, nullptr, &error);
    if (client == nullptr) return BrowseResult::NoDaemon;
    Browse b = {table, wanted};
    for (const char* type : {MdnsPortType, MdnsAttachType}) {
        if (avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, type, nullptr,
                                      AvahiLookupFlags(0), Seen, &b) != nullptr)
            ++b.browsing;
    }
    for (;;) {
        int64_t now = MonotonicMilliseconds();
        MdnsPollTimers(poll, now);
        if (b.found || (b.browsing == 0 && b.resolving == 0) || now >= deadline) break;
        struct pollfd fds[MdnsMaxDescriptors];
        unsigned count = MdnsPollDescriptors(poll, fds);
        int64_t due = MdnsPollDue(poll);
        int64_t until = due < deadline ? due : deadline;
        int wait = until <= now ? 0 : int(until - now);
        if (::poll(fds, count, wait) < 0 && errno != EINTR) break;
        MdnsPollEvents(poll, fds, count);
    }
    avahi_client_free(client);  // its browsers and resolvers with it
    MdnsPollClear(poll);
    return BrowseResult::Done;
}

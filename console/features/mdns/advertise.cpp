#include "console/features/mdns/advertise.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <cstdio>

#include "console/line/clock.h"
#include "console/rules/schedule.h"

struct AdvertiserState {
    MdnsPoll poll;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    std::string name;
    std::vector<MdnsService> services;
    void (*say)(void*, const char*) = nullptr;
    void* user = nullptr;
    bool ended = false;  // the daemon went away or refused: freed at the next pass
};

namespace {

void Say(AdvertiserState& s, const char* format, const char* a, const char* b = "") {
    char text[512];
    std::snprintf(text, sizeof text, format, a, b);
    s.say(s.user, text);
}

void AddServices(AdvertiserState& s, AvahiClient* client);

void GroupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* user) {
    AdvertiserState& s = *static_cast<AdvertiserState*>(user);
    s.group = group;
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
        Say(s, "mDNS: advertised as '%s'%s", s.name.c_str());
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        char* other = avahi_alternative_service_name(s.name.c_str());
        std::string old = s.name;
        s.name = other;
        avahi_free(other);
        Say(s, "mDNS: the name '%s' is taken on the network: '%s' instead", old.c_str(), s.name.c_str());
        AddServices(s, avahi_entry_group_get_client(group));
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
        Say(s, "mDNS: not advertised: %s%s",
            avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
        s.ended = true;
    }
}

void AddServices(AdvertiserState& s, AvahiClient* client) {
    if (s.group == nullptr) s.group = avahi_entry_group_new(client, GroupChanged, &s);
    if (s.group == nullptr) {
        Say(s, "mDNS: not advertised: %s%s", avahi_strerror(avahi_client_errno(client)));
        s.ended = true;
        return;
    }
    avahi_entry_group_reset(s.group);
    for (const MdnsService& service : s.services) {
        AvahiStringList* txt = nullptr;
        for (const std::string& item : service.txt) txt = avahi_string_list_add(txt, item.c_str());
        txt = avahi_string_list_reverse(txt);  // added in front: back to the given order
        int error = avahi_entry_group_add_service_strlst(s.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                         AvahiPublishFlags(0), s.name.c_str(), service.type,
                                                         nullptr, nullptr, service.port, txt);
        avahi_string_list_free(txt);
        if (error == AVAHI_ERR_COLLISION) {  // held by another program of this host
            GroupChanged(s.group, AVAHI_ENTRY_GROUP_COLLISION, &s);
            return;
        }
        if (error < 0) {
            Say(s, "mDNS: %s not advertised: %s", service.type, avahi_strerror(error));
            s.ended = true;
            return;
        }
    }
    avahi_entry_group_commit(s.group);
}

void ClientChanged(AvahiClient* client, AvahiClientState state, void* user) {
    AdvertiserState& s = *static_cast<AdvertiserState*>(user);
    if (state == AVAHI_CLIENT_S_RUNNING) {
        if (s.group == nullptr || avahi_entry_group_is_empty(s.group)) AddServices(s, client);
    } else if (state == AVAHI_CLIENT_S_COLLISION || state == AVAHI_CLIENT_S_REGISTERING) {
        if (s.group != nullptr)
            avahi_entry_group_reset(s.group);  // the host's name changes: again once it runs
    } else if (state == AVAHI_CLIENT_FAILURE) {
        Say(s, "mDNS: avahi-daemon went away (%s): no longer advertised%s",
            avahi_strerror(avahi_client_errno(client)));
        s.ended = true;
    }
}

void End(AdvertiserState* s) {
    if (s->client != nullptr) avahi_client_free(s->client);  // frees the group too
    s->client = nullptr;
    s->group = nullptr;
    MdnsPollClear(s->poll);
}

}  // namespace

void FreeAdvertiser(AdvertiserState* state) {
    if (state == nullptr) return;
    End(state);
    delete state;
}

void StartAdvertising(Advertiser& a, const std::string& name, const std::vector<MdnsService>& services,
                      void (*say)(void*, const char*), void* user) {
    if (services.empty()) return;
    a.state.reset(new AdvertiserState());
    AdvertiserState& s = *a.state;
    s.name = name;
    s.services = services;
    s.say = say;
    s.user = user;
    MdnsPollInit(s.poll);
    int error = 0;
    s.client = avahi_client_new(&s.poll.api, AvahiClientFlags(0), ClientChanged, &s, &error);
    if (s.client == nullptr) {
        Say(s, "mDNS: no avahi-daemon running (%s): not advertised%s", avahi_strerror(error));
        a.state.reset();
    }
}

void StopAdvertising(Advertiser& a) { a.state.reset(); }

unsigned AdvertiseDescriptors(Advertiser& a, struct pollfd* fds) {
    if (a.state && a.state->ended) a.state.reset();
    return a.state ? MdnsPollDescriptors(a.state->poll, fds) : 0;
}

void AdvertiseEvents(Advertiser& a, const struct pollfd* fds, unsigned count) {
    if (a.state) MdnsPollEvents(a.state->poll, fds, count);
}

int64_t AdvertiseDue(const Advertiser& a) {
    if (!a.state) return NoDeadline;
    return a.state->ended ? 0 : MdnsPollDue(a.state->poll);
}

void AdvertiseTimers(Advertiser& a, int64_t now) {
    if (!a.state) return;
    if (a.state->ended) {
        a.state.reset();
        return;
    }
    MdnsPollTimers(a.state->poll, now);
}

std::string AdvertisedName(const Advertiser& a) { return a.state ? a.state->name : std::string(); }

// avahi's events on the program's own poll loop: an AvahiPoll whose watches
// become pollfds the loop waits on and whose timeouts become a deadline of
// the loop's, so avahi needs no thread and no loop of its own.
//
// Each pass: MdnsPollDescriptors fills pollfds before poll, MdnsPollEvents
// calls the watches poll woke, and MdnsPollTimers the timeouts that are due
// (MdnsPollDue says when the next one is). Watches and timeouts avahi frees
// from within a callback are reaped after the pass.
#ifndef BRISVANE_CONSOLE_MDNS_AVAHI_POLL_H
#define BRISVANE_CONSOLE_MDNS_AVAHI_POLL_H

#include <avahi-common/watch.h>
#include <cstdint>
#include <memory>
#include <poll.h>
#include <vector>

// More watches than this wait unpolled (D-Bus asks for one or two).
const unsigned MdnsMaxDescriptors = 8;

struct MdnsPoll;

// avahi leaves these to the poll's provider to define.
struct AvahiWatch {
    MdnsPoll* owner;
    int fd;
    AvahiWatchEvent events;
    AvahiWatchEvent happened;
    AvahiWatchCallback callback;
    void* user;
    bool dead;
};

struct AvahiTimeout {
    MdnsPoll* owner;
    int64_t due;  // monotonic ms; NoDeadline when off
    AvahiTimeoutCallback callback;
    void* user;
    bool dead;
};

struct MdnsPoll {
    AvahiPoll api = {};
    std::vector<std::unique_ptr<AvahiWatch>> watches;
    std::vector<std::unique_ptr<AvahiTimeout>> timeouts;
    AvahiWatch* polled[MdnsMaxDescriptors] = {};  // the watch behind each pollfd handed out
    unsigned polledCount = 0;
    bool inCallbacks = false;
};

// Makes `poll`'s api ready for avahi_client_new (the object must not move
// after that).
void MdnsPollInit(MdnsPoll& poll);
// Frees what avahi left (call after the client is freed).
void MdnsPollClear(MdnsPoll& poll);

unsigned MdnsPollDescriptors(MdnsPoll& poll, struct pollfd* fds);
void MdnsPollEvents(MdnsPoll& poll, const struct pollfd* fds, unsigned count);
// The next timeout, in MonotonicMilliseconds' time; NoDeadline for none.
int64_t MdnsPollDue(const MdnsPoll& poll);
void MdnsPollTimers(MdnsPoll& poll, int64_t now);

#endif

#include "console/features/mdns/avahi_poll.h"

#include <algorithm>
#include <sys/time.h>

#include "console/line/clock.h"
#include "console/rules/schedule.h"

namespace {

// avahi's times are absolute wall-clock times; the loop's are monotonic.
int64_t DueFrom(const struct timeval* tv) {
    if (tv == nullptr) return NoDeadline;
    struct timeval wall;
    gettimeofday(&wall, nullptr);
    int64_t after = (int64_t(tv->tv_sec) - wall.tv_sec) * 1000 + (int64_t(tv->tv_usec) - wall.tv_usec) / 1000;
    return MonotonicMilliseconds() + (after > 0 ? after : 0);
}

AvahiWatch* WatchNew(const AvahiPoll* api, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* user) {
    MdnsPoll* poll = static_cast<MdnsPoll*>(api->userdata);
    poll->watches.emplace_back(new AvahiWatch{poll, fd, events, AvahiWatchEvent(0), callback, user, false});
    return poll->watches.back().get();
}

void WatchUpdate(AvahiWatch* w, AvahiWatchEvent events) { w->events = events; }
AvahiWatchEvent WatchGetEvents(AvahiWatch* w) { return w->happened; }
void WatchFree(AvahiWatch* w) { w->dead = true; }

AvahiTimeout* TimeoutNew(const AvahiPoll* api, const struct timeval* tv, AvahiTimeoutCallback callback,
                         void* user) {
    MdnsPoll* poll = static_cast<MdnsPoll*>(api->userdata);
    poll->timeouts.emplace_back(new AvahiTimeout{poll, DueFrom(tv), callback, user, false});
    return poll->timeouts.back().get();
}

void TimeoutUpdate(AvahiTimeout* t, const struct timeval* tv) { t->due = DueFrom(tv); }
void TimeoutFree(AvahiTimeout* t) { t->dead = true; }

// Not while a pass's pollfds still point at watches.
void Reap(MdnsPoll& poll) {
    if (poll.inCallbacks || poll.polledCount > 0) return;
    poll.watches.erase(std::remove_if(poll.watches.begin(), poll.watches.end(),
                                      [](const std::unique_ptr<AvahiWatch>& w) { return w->dead; }),
                       poll.watches.end());
    poll.timeouts.erase(std::remove_if(poll.timeouts.begin(), poll.timeouts.end(),
                                       [](const std::unique_ptr<AvahiTimeout>& t) { return t->dead; }),
                        poll.timeouts.end());
}

}  // namespace

void MdnsPollInit(MdnsPoll& poll) {
    poll.api.userdata = &poll;
    poll.api.watch_new = WatchNew;
    poll.api.watch_update = WatchUpdate;
    poll.api.watch_get_events = WatchGetEvents;
    poll.api.watch_free = WatchFree;
    poll.api.timeout_new = TimeoutNew;
    poll.api.timeout_update = TimeoutUpdate;
    poll.api.timeout_free = TimeoutFree;
}

void MdnsPollClear(MdnsPoll& poll) {
    poll.watches.clear();
    poll.timeouts.clear();
    poll.polledCount = 0;
}

unsigned MdnsPollDescriptors(MdnsPoll& poll, struct pollfd* fds) {
    poll.polledCount = 0;
    Reap(poll);
    for (const std::unique_ptr<AvahiWatch>& w : poll.watches) {
        if (w->dead || poll.polledCount == MdnsMaxDescriptors) continue;
        fds[poll.polledCount] = {w->fd, short(w->events), 0};
        poll.polled[poll.polledCount++] = w.get();
    }
    return poll.polledCount;
}

void MdnsPollEvents(MdnsPoll& poll, const struct pollfd* fds, unsigned count) {
    poll.inCallbacks = true;
    for (unsigned i = 0; i < count && i < poll.polledCount; ++i) {
        AvahiWatch* w = poll.polled[i];
        if (w->dead || fds[i].revents == 0) continue;
        w->happened = AvahiWatchEvent(fds[i].revents);
        w->callback(w, w->fd, w->happened, w->user);
        w->happened = AvahiWatchEvent(0);
    }
    poll.inCallbacks = false;
    poll.polledCount = 0;
    Reap(poll);
}

int64_t MdnsPollDue(const MdnsPoll& poll) {
    int64_t due = NoDeadline;
    for (const std::unique_ptr<AvahiTimeout>& t : poll.timeouts) {
        if (!t->dead && t->due < due) due = t->due;
    }
    return due;
}

void MdnsPollTimers(MdnsPoll& poll, int64_t now) {
    poll.inCallbacks = true;
    // By index: a callback may add timeouts (they wait for the next pass).
    size_t count = poll.timeouts.size();
    for (size_t i = 0; i < count; ++i) {
        AvahiTimeout* t = poll.timeouts[i].get();
        if (t->dead || t->due > now) continue;
        t->due = NoDeadline;  // one shot, unless the callback sets it again
        t->callback(t, t->user);
    }
    poll.inCallbacks = false;
    Reap(poll);
}

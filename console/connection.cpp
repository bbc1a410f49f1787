#include "console/connection.h"

#include <cstdio>
#include <cstring>
#include <poll.h>

#include "console/line/local_line.h"
#include "console/line/net_address.h"
#include "console/line/net_line.h"
#include "console/commands.h"

namespace {

int64_t NextDelay(const Console& c) {
    if (!IsNetworkDevice(c.options.device)) return RetryMilliseconds;
    int64_t delay = c.retryDelay == 0 ? RetryMilliseconds : int64_t(c.retryDelay) * 2;
    return delay > LongestRetryMilliseconds ? LongestRetryMilliseconds : delay;
}

void Opened(Console& c) {
    c.link = LinkState::Open;
    c.everOpened = true;
    c.retryDelay = 0;
    c.retryAt = NoDeadline;
    c.dtr = c.controls.dtr != 0;
    c.rts = c.controls.rts != 0;
    c.redraw = true;
    c.readMore = true;  // a network line may hold what came with its acceptance
}

void WaitAgain(Console& c, int64_t now) {
    c.line->Close();
    c.link = LinkState::Down;
    c.readMore = false;
    int64_t delay = NextDelay(c);
    c.retryDelay = unsigned(delay);
    c.retryAt = now + delay;
    c.redraw = true;
}

}  // namespace

std::unique_ptr<Line> MakeLine(const char* device, char* problem, unsigned capacity) {
    if (IsNetworkDevice(device)) {
        NetworkAddress address;
        const char* fault = nullptr;
        if (!ParseNetworkDevice(device, &address, &fault)) {
            std::snprintf(problem, capacity, "%s: %s", device, fault);
            return nullptr;
        }
        return std::unique_ptr<Line>(new NetworkLine(address));  // resolves the name now
    }
    return std::unique_ptr<Line>(new LocalLine(device, LockFolder));
}

OpenResult OpenAtStart(Console& c, char* message, unsigned capacity) {
    OpenResult result = c.line->Open(c.controls, message, capacity);
    int64_t deadline = MonotonicMilliseconds() + ConnectTimeoutMilliseconds;
    while (result == OpenResult::InProgress) {
        int64_t left = deadline - MonotonicMilliseconds();
        if (left <= 0) {
            c.line->Close();
            std::snprintf(message, capacity, "%s: timed out", c.line->Name());
            return OpenResult::Failed;
        }
        struct pollfd wait = {c.line->Descriptor(), c.line->PollEvents(false), 0};
        if (poll(&wait, 1, int(left)) > 0) result = c.line->Continue(wait.revents, message, capacity);
    }
    if (result == OpenResult::Open) {
        Opened(c);
    } else if (result == OpenResult::Missing && c.options.waitForDevice) {
        c.line->Close();
        c.link = LinkState::Down;
        c.retryAt = MonotonicMilliseconds() + RetryMilliseconds;
    }
    return result;
}

Reaction LineLost(Console& c, int64_t now) {
    unsigned dropped = c.pump.Clear();
    c.counters.dropped += dropped;
    c.inPaste = false;
    if (SendRunning()) {
        AbandonSend();
        Say(c.notice, "the send ended: the line went away");
    } else if (dropped > 0) {
        Say(c.notice, "the line went away: %u bytes were not sent", dropped);
    }
    c.breakEndsAt = c.dtrBackAt = NoDeadline;
    if (!c.options.reconnect) {
        c.line->Close();
        return Leave(c, 1);
    }
    WaitAgain(c, now);
    return Nothing;
}

void RetryIfDue(Console& c, int64_t now) {
    if (c.link == LinkState::Connecting && now >= c.connectStarted + ConnectTimeoutMilliseconds) {
        WaitAgain(c, now);
        return;
    }
    if (c.link != LinkState::Down || now < c.retryAt) return;
    char message[NoticeCapacity];
    switch (c.line->Open(c.controls, message, sizeof message)) {
        case OpenResult::Open:
            Opened(c);
            break;
        case OpenResult::InProgress:
            c.link = LinkState::Connecting;
            c.connectStarted = now;
            c.redraw = true;
            break;
        case OpenResult::Missing:
        case OpenResult::Failed:
            WaitAgain(c, now);
            break;
    }
}

void ContinueConnecting(Console& c, short revents, int64_t now) {
    if (c.link != LinkState::Connecting) return;
    char message[NoticeCapacity];
    OpenResult result = c.line->Continue(revents, message, sizeof message);
    if (result == OpenResult::Open) {
        Opened(c);
    } else if (result != OpenResult::InProgress) {
        if (result == OpenResult::Failed) Say(c.notice, "%s", message);
        WaitAgain(c, now);
    }
}

int64_t ConnectionDeadline(const Console& c) {
    if (c.link == LinkState::Down) return c.retryAt;
    if (c.link == LinkState::Connecting) return c.connectStarted + ConnectTimeoutMilliseconds;
    return NoDeadline;
}

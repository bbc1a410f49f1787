#include "console/connection.h"

#include <cstdio>
#include <cstring>

#include "console/line/local_line.h"
#include "console/line/net_address.h"
#include "console/line/net_line.h"
#include "link/transfer.h"

namespace {

int64_t NextDelay(const Console& c) {
    if (!IsNetworkDevice(c.options.device)) return RetryMilliseconds;
    int64_t delay = c.retryDelay == 0 ? RetryMilliseconds : int64_t(c.retryDelay) * 2;
    return delay > LongestRetryMilliseconds ? LongestRetryMilliseconds : delay;
}

void Opened(Console& c, int64_t now) {
    c.link = LinkState::Open;
    c.everOpened = true;
    c.openedAt = now;
    c.retryAt = NoDeadline;
    c.dtr = c.controls.dtr != 0;
    c.rts = c.controls.rts != 0;
    c.redraw = true;
    c.readMore = true;  // a network line may hold what came with its acceptance
}

void WaitAgain(Console& c, int64_t now) {
    // A server that accepts and closes at once is retried ever more slowly.
    if (c.link == LinkState::Open && now - c.openedAt >= LongestRetryMilliseconds) c.retryDelay = 0;
    c.line->Close();
    c.link = LinkState::Down;
    c.readMore = false;
    int64_t delay = NextDelay(c);
    c.retryDelay = unsigned(delay);
    c.retryAt = now + delay;
    c.redraw = true;
}

// A first open that did not come about: leave, unless --wait waits for it.
void NotOpened(Console& c, OpenResult result, const char* message, int64_t now) {
    if (!c.everOpened && !(result == OpenResult::Missing && c.options.waitForDevice)) {
        std::snprintf(c.startFailure, sizeof c.startFailure, "%s", message);
        c.line->Close();
        c.link = LinkState::Down;
        c.quit = true;
        c.exitCode = 1;
        return;
    }
    if (result == OpenResult::Failed || !c.everOpened) Say(c.notice, "%s", message);
    WaitAgain(c, now);
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
        return std::unique_ptr<Line>(new NetworkLine(address));
    }
    return std::unique_ptr<Line>(new LocalLine(device, LockFolder));
}

OpenResult OpenAtStart(Console& c, char* message, unsigned capacity) {
    c.link = LinkState::Down;
    if (IsNetworkDevice(c.options.device)) {
        c.retryAt = MonotonicMilliseconds();  // due at once
        return OpenResult::InProgress;
    }
    OpenResult result = c.line->Open(c.controls, message, capacity);
    if (result == OpenResult::Open) {
        Opened(c, MonotonicMilliseconds());
    } else if (result == OpenResult::Missing && c.options.waitForDevice) {
        c.line->Close();
        c.link = LinkState::Down;
        c.retryAt = MonotonicMilliseconds() + RetryMilliseconds;
    }
    return result;
}

void LineLost(Console& c, int64_t now) {
    unsigned dropped = c.pump.Clear();
    c.inPaste = false;
    if (sendState != SendState::Idle) {
        EndSend();
        Say(c.notice, "the send ended: the line went away");
    } else if (dropped > 0) {
        Say(c.notice, "the line went away: %u bytes were not sent", dropped);
    }
    c.breakEndsAt = c.dtrBackAt = NoDeadline;
    if (!c.options.reconnect) {
        c.line->Close();
        c.quit = true;
        c.exitCode = 1;
        return;
    }
    WaitAgain(c, now);
}

void RetryIfDue(Console& c, int64_t now) {
    char message[NoticeCapacity];
    if (c.link == LinkState::Connecting && now >= c.connectStarted + ConnectTimeoutMilliseconds) {
        std::snprintf(message, sizeof message, "%s: no answer to %s in %lld s", c.line->Name(),
                      c.line->Awaiting(), (long long)(ConnectTimeoutMilliseconds / 1000));
        NotOpened(c, OpenResult::Missing, message, now);
        return;
    }
    if (c.link != LinkState::Down || now < c.retryAt) return;
    OpenResult result = c.line->Open(c.controls, message, sizeof message);
    switch (result) {
        case OpenResult::Open:
            Opened(c, now);
            break;
        case OpenResult::InProgress:
            c.link = LinkState::Connecting;
            c.connectStarted = now;
            c.redraw = true;
            break;
        case OpenResult::Missing:
        case OpenResult::Failed:
            if (c.everOpened || !IsNetworkDevice(c.options.device)) {
                WaitAgain(c, now);  // a device that is not back yet: as before
            } else {
                NotOpened(c, result, message, now);
            }
            break;
    }
}

void ContinueConnecting(Console& c, short revents, int64_t now) {
    if (c.link != LinkState::Connecting) return;
    char message[NoticeCapacity];
    OpenResult result = c.line->Continue(revents, message, sizeof message);
    if (result == OpenResult::Open) {
        Opened(c, now);
    } else if (result != OpenResult::InProgress) {
        NotOpened(c, result, message, now);
    }
}

int64_t ConnectionDeadline(const Console& c) {
    if (c.link == LinkState::Down) return c.retryAt;
    if (c.link == LinkState::Connecting) return c.connectStarted + ConnectTimeoutMilliseconds;
    return NoDeadline;
}

#include "console/program/connection.h"

#include <cstdio>
#include <cstring>

#include "console/line/local_line.h"
#include "console/line/net_address.h"
#include "console/line/net_line.h"

namespace {

int64_t NextDelay(const Console& c) {
    if (!IsNetworkDevice(c.options.device)) return RetryMilliseconds;
    int64_t delay = c.link.retryDelay == 0 ? RetryMilliseconds : int64_t(c.link.retryDelay) * 2;
    return delay > LongestRetryMilliseconds ? LongestRetryMilliseconds : delay;
}

// The line sets DTR and RTS as asked when it opens; what the driver
// reports is what is recorded (in the controls, their one record), and a
// refusal is said.
void CheckModemOutputs(Console& c) {
    ModemLines lines;
    if (c.link.line->ReadModemLines(&lines) != ControlResult::Done) return;  // nothing to read them back from
    bool dtrRefused = c.link.controls.dtr != -1 && lines.dtr != (c.link.controls.dtr == 1);
    bool rtsRefused =
        c.link.controls.rts != -1 && !c.link.controls.hardwareFlow && lines.rts != (c.link.controls.rts == 1);
    // Kept as the line has them, so a reopen restores what was in force.
    c.link.controls.dtr = lines.dtr ? 1 : 0;
    if (!c.link.controls.hardwareFlow) c.link.controls.rts = lines.rts ? 1 : 0;
    if (dtrRefused || rtsRefused) {
        Say(c.notice, "%s refused to set %s: DTR is %s, RTS %s", c.link.line->Name(),
            dtrRefused && rtsRefused ? "DTR and RTS"
            : dtrRefused             ? "DTR"
                                     : "RTS",
            lines.dtr ? "on" : "off", lines.rts ? "on" : "off");
    }
}

void Opened(Console& c, int64_t now) {
    c.link.state = LinkState::Open;
    c.link.everOpened = true;
    c.link.openedAt = now;
    c.link.retryAt = NoDeadline;
    CheckModemOutputs(c);
    c.ui.redraw = true;
    c.link.readMore = true;  // a network line may hold what came with its acceptance
}

void WaitAgain(Console& c, int64_t now) {
    // A server that accepts and closes at once is retried ever more slowly.
    if (c.link.state == LinkState::Open && now - c.link.openedAt >= LongestRetryMilliseconds)
        c.link.retryDelay = 0;
    c.link.line->Close();
    c.link.state = LinkState::Down;
    c.link.readMore = false;
    int64_t delay = NextDelay(c);
    c.link.retryDelay = unsigned(delay);
    c.link.retryAt = now + delay;
    c.ui.redraw = true;
}

// A first open that did not come about: leave, unless --wait waits for it.
Reaction NotOpened(Console& c, OpenResult result, const char* message, int64_t now) {
    if (!c.link.everOpened && !(result == OpenResult::Missing && c.options.waitForDevice)) {
        std::snprintf(c.link.startFailure, sizeof c.link.startFailure, "%s", message);
        c.link.line->Close();
        c.link.state = LinkState::Down;
        return Leave(c, 1);
    }
    if (result == OpenResult::Failed || !c.link.everOpened) Say(c.notice, "%s", message);
    WaitAgain(c, now);
    return Nothing;
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
    c.link.state = LinkState::Down;
    if (IsNetworkDevice(c.options.device)) {
        c.link.retryAt = MonotonicMilliseconds();  // due at once
        return OpenResult::InProgress;
    }
    OpenResult result = c.link.line->Open(c.link.controls, message, capacity);
    if (result == OpenResult::Open) {
        Opened(c, MonotonicMilliseconds());
    } else if (result == OpenResult::Missing && c.options.waitForDevice) {
        c.link.line->Close();
        c.link.state = LinkState::Down;
        c.link.retryAt = MonotonicMilliseconds() + RetryMilliseconds;
    }
    return result;
}

Reaction LineLost(Console& c, int64_t now) {
    unsigned dropped = c.pump.Clear();
    c.counters.dropped += dropped;
    c.input.inPaste = false;
    if (SendRunning()) {
        AbandonSend();
        Say(c.notice, "the send ended: the line went away");
    } else if (dropped > 0) {
        Say(c.notice, "the line went away: %u bytes were not sent", dropped);
    }
    c.link.breakEndsAt = c.link.dtrBackAt = NoDeadline;
    if (!c.options.reconnect) {
        c.link.line->Close();
        return Leave(c, 1);
    }
    WaitAgain(c, now);
    return Nothing;
}

Reaction RetryIfDue(Console& c, int64_t now) {
    char message[NoticeCapacity];
    if (c.link.state == LinkState::Connecting && now >= c.link.connectStarted + ConnectTimeoutMilliseconds) {
        std::snprintf(message, sizeof message, "%s: no answer to %s in %lld s", c.link.line->Name(),
                      c.link.line->Awaiting(), (long long)(ConnectTimeoutMilliseconds / 1000));
        return NotOpened(c, OpenResult::Missing, message, now);
    }
    if (c.link.state != LinkState::Down || now < c.link.retryAt) return Nothing;
    OpenResult result = c.link.line->Open(c.link.controls, message, sizeof message);
    switch (result) {
        case OpenResult::Open: Opened(c, now); break;
        case OpenResult::InProgress:
            c.link.state = LinkState::Connecting;
            c.link.connectStarted = now;
            c.ui.redraw = true;
            break;
        case OpenResult::Missing:
        case OpenResult::Failed:
            if (!c.link.everOpened && IsNetworkDevice(c.options.device))
                return NotOpened(c, result, message, now);
            WaitAgain(c, now);  // a device that is not back yet: as before
            break;
    }
    return Nothing;
}

Reaction ContinueConnecting(Console& c, short revents, int64_t now) {
    if (c.link.state != LinkState::Connecting) return Nothing;
    char message[NoticeCapacity];
    OpenResult result = c.link.line->Continue(revents, message, sizeof message);
    if (result == OpenResult::Open) {
        Opened(c, now);
    } else if (result != OpenResult::InProgress) {
        return NotOpened(c, result, message, now);
    }
    return Nothing;
}

int64_t ConnectionDeadline(const Console& c) {
    if (c.link.state == LinkState::Down) return c.link.retryAt;
    if (c.link.state == LinkState::Connecting) return c.link.connectStarted + ConnectTimeoutMilliseconds;
    return NoDeadline;
}

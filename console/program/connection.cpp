#include "console/program/connection.h"

#include <cstdio>
#include <cstring>

#include "console/line/clock.h"
#include "console/line/local_line.h"
#include "console/line/serial_devices.h"
#include "console/line/net_address.h"
#include "console/line/net_line.h"
#include "console/program/pulses.h"
#include "console/program/recorded.h"
#include "console/program/served.h"

namespace {

bool Automatic(const Session& c) { return c.options.autoConnect != AutoConnect::Off; }

DeviceRoots RootsOf(const Session& c) { return {c.options.sysfsRoot, c.options.devRoot}; }

std::vector<std::string> Excludes(const Session& c) {
    return std::vector<std::string>(c.options.excludes, c.options.excludes + c.options.excludeCount);
}

// A device named by identity is looked up again at each open: after a
// replug it may be another node.
OpenResult OpenLocal(Session& c, char* message, unsigned capacity) {
    if (ClassifyDeviceName(c.options.device) != DeviceNameForm::Path) {
        std::string path;
        switch (ResolveDeviceName(RootsOf(c), c.options.device, &path, message, capacity)) {
            case Resolved::Found: break;
            case Resolved::Missing: return OpenResult::Missing;
            case Resolved::Ambiguous:
            case Resolved::Invalid: return OpenResult::Failed;
        }
        if (path != c.link.line->Name()) c.link.line.reset(new LocalLine(path.c_str(), LockFolder));
    }
    return c.link.line->Open(c.link.controls, message, capacity);
}

int64_t NextDelay(const Session& c) {
    if (!BacksOff(c)) return RetryMilliseconds;
    int64_t delay = c.link.retryDelay == 0 ? RetryMilliseconds : int64_t(c.link.retryDelay) * 2;
    return delay > LongestRetryMilliseconds ? LongestRetryMilliseconds : delay;
}

// The line sets DTR and RTS as asked when it opens; what the driver
// reports is what is recorded (in the controls, their one record), and a
// refusal is said.
void CheckModemOutputs(Session& c) {
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

void Opened(Session& c, int64_t now) {
    c.link.state = LinkState::Open;
    c.link.everOpened = true;
    c.link.openedAt = now;
    c.link.retryAt = NoDeadline;
    CheckModemOutputs(c);
    StartPulses(c, now);  // boot timers and resets: the first open only
    c.ui.redraw = true;
    c.link.readMore = true;  // a network line may hold what came with its acceptance
    RecordText(c, RecordKind::Up, "");
}

// The device --auto-connect chooses now, opened; one that will not open is
// passed over until it comes again. True when the line is open.
bool TakeDevice(Session& c, int64_t now) {
    std::vector<std::string> excludes = Excludes(c);
    const std::vector<SerialDevice>& present = c.link.devices.Present();
    int chosen;
    while ((chosen = ChooseDevice(present, c.link.passedOver, excludes)) >= 0) {
        const SerialDevice& d = present[unsigned(chosen)];
        c.link.line.reset(new LocalLine(d.path.c_str(), LockFolder));
        char message[NoticeCapacity];
        if (c.link.line->Open(c.link.controls, message, sizeof message) == OpenResult::Open) {
            Opened(c, now);
            Say(c.notice, "connected to %s%s%s%s", ShownDeviceText(d.path).c_str(),
                d.topology.empty() ? "" : " at ", d.topology.c_str(),
                d.description.empty() ? "" : (" (" + d.description + ")").c_str());
            return true;
        }
        c.link.line->Close();
        c.link.passedOver.push_back(DeviceIdentity(d));
        Say(c.notice, "%s", message);
    }
    return false;
}

// A settled change under --auto-connect: the devices scanned again; the
// open one gone is a lost line, and a waiting console takes what it may.
Reaction RescanDevices(Session& c, int64_t now) {
    c.link.rescanAt = NoDeadline;
    DeviceChanges changes = c.link.devices.Rescan();
    for (const SerialDevice& d : changes.went) {  // a passed-over device may come back
        std::string identity = DeviceIdentity(d);
        for (size_t i = c.link.passedOver.size(); i > 0; --i) {
            if (c.link.passedOver[i - 1] == identity)
                c.link.passedOver.erase(c.link.passedOver.begin() + long(i - 1));
        }
    }
    if (c.link.state == LinkState::Open) {
        for (const SerialDevice& d : c.link.devices.Present()) {
            if (d.path == c.link.line->Name()) return Nothing;
        }
        return LineLost(c, now);
    }
    TakeDevice(c, now);
    return Nothing;
}

void WaitAgain(Session& c, int64_t now) {
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
    if (Automatic(c)) {  // the next device, or this one again if it stayed
        c.link.retryAt = NoDeadline;
        c.link.rescanAt = now + delay;
    }
}

// A first open that did not come about: leave, unless --wait waits for it.
Reaction NotOpened(Session& c, OpenResult result, const char* message, int64_t now) {
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

OpenResult OpenAtStart(Session& c, char* message, unsigned capacity) {
    c.link.state = LinkState::Down;
    if (BacksOff(c)) {
        c.link.retryAt = MonotonicMilliseconds();  // due at once
        return OpenResult::InProgress;
    }
    if (Automatic(c)) {
        if (!c.link.devices.Start(RootsOf(c), message, capacity)) return OpenResult::Failed;
        if (c.options.autoConnect == AutoConnect::New) {
            for (const SerialDevice& d : c.link.devices.Present())
                c.link.passedOver.push_back(DeviceIdentity(d));
        }
        c.link.retryAt = NoDeadline;
        return TakeDevice(c, MonotonicMilliseconds()) ? OpenResult::Open : OpenResult::Missing;
    }
    OpenResult result = OpenLocal(c, message, capacity);
    if (result == OpenResult::Open) {
        Opened(c, MonotonicMilliseconds());
    } else if (result == OpenResult::Missing && c.options.waitForDevice) {
        c.link.line->Close();
        c.link.state = LinkState::Down;
        c.link.retryAt = MonotonicMilliseconds() + RetryMilliseconds;
    }
    return result;
}

Reaction LineLost(Session& c, int64_t now) {
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
    RecordText(c, RecordKind::Down, "the line went away");
    if (!c.options.reconnect) {
        c.link.line->Close();
        return Leave(c, 1);
    }
    WaitAgain(c, now);
    return Nothing;
}

Reaction RetryIfDue(Session& c, int64_t now) {
    if (Automatic(c)) return now >= c.link.rescanAt ? RescanDevices(c, now) : Nothing;
    char message[NoticeCapacity];
    if (c.link.state == LinkState::Connecting && now >= c.link.connectStarted + ConnectTimeoutMilliseconds) {
        std::snprintf(message, sizeof message, "%s: no answer to %s in %lld s", c.link.line->Name(),
                      c.link.line->Awaiting(), (long long)(ConnectTimeoutMilliseconds / 1000));
        return NotOpened(c, OpenResult::Missing, message, now);
    }
    if (c.link.state != LinkState::Down || now < c.link.retryAt) return Nothing;
    OpenResult result = IsNetworkDevice(c.options.device)
                            ? c.link.line->Open(c.link.controls, message, sizeof message)
                            : OpenLocal(c, message, sizeof message);
    switch (result) {
        case OpenResult::Open: Opened(c, now); break;
        case OpenResult::InProgress:
            c.link.state = LinkState::Connecting;
            c.link.connectStarted = now;
            c.ui.redraw = true;
            break;
        case OpenResult::Missing:
        case OpenResult::Failed:
            if (!c.link.everOpened && BacksOff(c)) return NotOpened(c, result, message, now);
            // A name that now fits several devices: said, and waited out.
            if (result == OpenResult::Failed && ClassifyDeviceName(c.options.device) != DeviceNameForm::Path)
                Say(c.notice, "%s", message);
            WaitAgain(c, now);  // a device that is not back yet: as before
            break;
    }
    return Nothing;
}

Reaction ContinueConnecting(Session& c, short revents, int64_t now) {
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

int DeviceWatchDescriptor(const Session& c) { return c.link.devices.Descriptor(); }

Reaction DevicesChanged(Session& c, int64_t now) {
    if (c.link.devices.Drain() && c.link.rescanAt == NoDeadline) c.link.rescanAt = now + SettleMilliseconds;
    return Nothing;
}

int64_t ConnectionDeadline(const Session& c) {
    if (Automatic(c)) return c.link.rescanAt;
    if (c.link.state == LinkState::Down) return c.link.retryAt;
    if (c.link.state == LinkState::Connecting) return c.link.connectStarted + ConnectTimeoutMilliseconds;
    return NoDeadline;
}

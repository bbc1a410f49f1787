#include "console/program/served.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <pwd.h>
#include <unistd.h>

#include "console/line/clock.h"
#include "console/program/front_end.h"
#include "console/program/line_controls.h"
#include "console/program/recorded.h"
#include "console/program/script.h"
#include "console/program/send.h"
#include "console/program/session.h"
#include "console/line/net_address.h"
#include "console/features/serve/access.h"
#include "console/features/serve/attach_line.h"
#include "console/features/serve/server.h"

bool MakeAttachLine(Session& c, char* message, unsigned capacity) {
    ShareAddress address;
    const char* problem;
    if (!ParseAttachAddress(c.options.attach, &address, &problem)) {
        std::snprintf(message, capacity, "--attach %s: %s", c.options.attach, problem);
        return false;
    }
    WireHello hello = {};
    hello.version = WireVersion;
    hello.ask = c.options.attachWatch  ? WireAsk::Watch
                : c.options.attachTake ? WireAsk::Take
                                       : WireAsk::Write;
    hello.kind = WireClientKind::Person;
    char buffer[4096];
    struct passwd entry, *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        std::snprintf(hello.name.text, sizeof hello.name.text, "%.64s", found->pw_name);
        hello.name.length = uint8_t(std::strlen(hello.name.text));
    }
    unsigned length = 0;
    if (c.options.tokenPath[0] != '\0' &&
        !ReadTokenFile("--token", c.options.tokenPath, hello.token, &length, message, capacity)) {
        return false;
    }
    hello.tokenLength = uint8_t(length);
    std::unique_ptr<AttachLine> line(new AttachLine(address, hello, c.ui.history));
    line->SetSeam({&c.ansi, &c.style.map, &c.style.maps});
    line->SetHistoryRule(c.options.historyRows, c.options.historyGiven);
    c.chain.screen.answers = false;  // the server answers identify requests
    c.link.attached = line.get();
    c.link.line = std::move(line);
    // Messages name the served line where they would name the device.
    std::snprintf(c.options.device, sizeof c.options.device, "%s", c.link.line->Name());
    return true;
}

bool BacksOff(const Session& c) { return c.link.attached != nullptr || IsNetworkDevice(c.options.device); }

Reaction TakeTheLine(Session& c, int64_t) {
    if (c.link.attached == nullptr) {
        Say(c.notice, "take: only a served line (--attach) has a line to take");
    } else if (c.link.attached->Attached().role == WireRole::Writing) {
        c.link.attached->Ask(WireType::Give);  // to a script it was taken from, or to whoever asks next
        Say(c.notice, "handing the line back...");
    } else {
        c.link.attached->Ask(WireType::Take);
        Say(c.notice, "asking for the line...");
    }
    return Nothing;
}

Reaction ListAttached(Session& c, int64_t) {
    if (c.link.attached == nullptr) {
        Say(c.notice, "who: only a served line (--attach) has others attached");
        return Nothing;
    }
    // The roster as it is now, idle times and all: listed when it comes.
    c.link.attached->AskWho();
    Say(c.notice, "asking who is attached...");
    return Nothing;
}

namespace {

// 42s, 17m, 3h05m.
void FormatIdle(uint32_t seconds, char* text, unsigned capacity) {
    if (seconds < 60) {
        std::snprintf(text, capacity, "%us", seconds);
    } else if (seconds < 3600) {
        std::snprintf(text, capacity, "%um", seconds / 60);
    } else {
        std::snprintf(text, capacity, "%uh%02um", seconds / 3600, seconds / 60 % 60);
    }
}

// Each member: name, where from (when the name does not say it), role,
// idle time and since when.
void ShowAttached(Session& c) {
    const WireRoster& roster = c.link.attached->Attached().roster;
    char text[NoticeCapacity] = "attached:";
    for (unsigned i = 0; i < roster.count; ++i) {
        const WireRosterEntry& e = roster.entry[i];
        time_t since = time_t(e.since);
        struct tm local;
        char when[16] = "?", idle[16], from[WireTextCapacity + 2] = "";
        if (localtime_r(&since, &local) != nullptr) strftime(when, sizeof when, "%H:%M", &local);
        FormatIdle(e.idle, idle, sizeof idle);
        if (e.from.length > 0 && std::strcmp(e.from.text, e.name.text) != 0)
            std::snprintf(from, sizeof from, " %s", e.from.text);
        size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, "%s %s%s%s %s idle %s since %s", i > 0 ? "," : "",
                      e.name.text, e.id == c.link.attached->Attached().id ? " (you)" : "", from,
                      e.role == WireRole::Writing ? "writing" : "watching", idle, when);
    }
    Say(c.notice, "%s", text);
}

}  // namespace

bool AttachedStatus(const Session& c, char* text, unsigned capacity) {
    if (c.link.attached == nullptr || c.link.state != LinkState::Open) return false;
    const AttachState& state = c.link.attached->Attached();
    char down[WireTextCapacity + 40] = "";
    if (!ServedLineUp(c))
        std::snprintf(down, sizeof down, "disconnected, waiting for %s | ", state.line.awaiting.text);
    unsigned others = c.link.attached->Others();
    std::snprintf(text, capacity, "%s%s, %u other%s", down,
                  state.role == WireRole::Writing ? "writing" : "watching", others, others == 1 ? "" : "s");
    return true;
}

bool ServedLineUp(const Session& c) {
    return c.link.attached == nullptr || !c.link.attached->Attached().lineKnown ||
           c.link.attached->Attached().line.open;
}

void SayServed(const char* text) {
    time_t now = time(nullptr);
    struct tm local;
    char when[32] = "";
    if (localtime_r(&now, &local) != nullptr) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S ", &local);
    std::fprintf(stderr, "brisvane: %s%s\n", when, text);
}

namespace {

void SayFromServer(void*, const char* text) { SayServed(text); }

void RoleChanged(void* user, const char* text) {
    RecordText(*static_cast<Session*>(user), RecordKind::Role, text);
}

void SetText(WireText& to, const char* text) {
    size_t length = std::strlen(text);
    if (length >= sizeof to.text) length = sizeof to.text - 1;  // cut to fit
    std::memcpy(to.text, text, length);
    to.text[length] = '\0';
    to.length = uint8_t(length);
}

// The served line as its clients are to see it.
WireLineState LineNow(const Session& c) {
    WireLineState line = {};
    line.open = c.link.state == LinkState::Open;
    line.hardwareFlow = c.link.controls.hardwareFlow;
    SetText(line.settings, c.options.settingsText);
    SetText(line.awaiting, c.link.line ? c.link.line->Name() : c.options.device);
    return line;
}

bool LineDiffers(const Session& c) {
    const WireLineState& told = c.features.server.line;
    WireLineState now = LineNow(c);
    return now.open != told.open || now.hardwareFlow != told.hardwareFlow ||
           std::strcmp(now.settings.text, told.settings.text) != 0 ||
           std::strcmp(now.awaiting.text, told.awaiting.text) != 0;
}

// Every client is told the line as it is; `byName` changed its settings.
void TellLine(Session& c, uint16_t by, const char* byName) {
    WireLineState line = LineNow(c);
    line.by = by;
    SetText(line.byName, byName);
    ServeLineState(c.features.server, line);
}

// A member's change of the settings: logged, and said to everyone.
void SettingsSet(Session& c, uint16_t by, const char* who) {
    char text[160];
    std::snprintf(text, sizeof text, "serve: %s set the line to %s%s", who, c.options.settingsText,
                  c.link.controls.hardwareFlow ? ", RTS/CTS" : "");
    SayServed(text);
    TellLine(c, by, who);
}

// The settings the server told an attached client: the menu's p, the
// status line and the pages show them, as they would a local line's.
void FollowServedLine(Session& c) {
    WireLineState line;
    if (c.link.attached == nullptr || !c.link.attached->TakeLineState(&line)) return;
    LineSettings settings;
    const char* fault = nullptr;
    if (ParseLineSettings(line.settings.text, &settings, &fault)) {
        c.options.line = settings;
        c.link.controls.settings = settings;
        FormatLineSettings(settings, c.options.settingsText, sizeof c.options.settingsText);
    }
    c.link.controls.hardwareFlow = c.options.hardwareFlow = line.hardwareFlow;
    c.ui.redraw = true;
}

// A writer's bytes: typed ones and a text file's by this line's byte rules,
// exact ones as they are, only as far as it has room.
unsigned SendFromClient(void* user, const uint8_t* bytes, unsigned count, WireType type) {
    SendSource source = type == WireType::Typed       ? SendSource::AttachedTyped
                        : type == WireType::TypedText ? SendSource::AttachedText
                                                      : SendSource::Attached;
    return Send(*static_cast<Session*>(user), source, bytes, count);
}

ControlResult ControlFromClient(void* user, const WireControlMessage& control, uint16_t member, char* problem,
                                unsigned capacity) {
    Session& c = *static_cast<Session*>(user);
    if (c.link.state != LinkState::Open) {
        std::snprintf(problem, capacity, "the served line is not open");
        return ControlResult::Refused;
    }
    int64_t now = MonotonicMilliseconds();
    switch (control.control) {
        case WireControl::Break: return SendBreak(c, now, nullptr);
        case WireControl::Dtr: return SetModemOutput(c, ModemOutput::Dtr, control.value != 0, nullptr);
        case WireControl::Rts: return SetModemOutput(c, ModemOutput::Rts, control.value != 0, nullptr);
        case WireControl::DtrPulse: return PulseDtr(c, now, nullptr);
        case WireControl::Settings: {
            LineControls controls = c.link.controls;
            const char* fault = nullptr;
            if (!ParseLineSettings(control.settings.text, &controls.settings, &fault)) {
                std::snprintf(problem, capacity, "line settings '%.60s': %s", control.settings.text, fault);
                return ControlResult::Refused;
            }
            bool same =
                std::memcmp(&controls.settings, &c.link.controls.settings, sizeof controls.settings) == 0;
            if (!ApplyControls(c, controls, nullptr)) return ControlResult::Refused;
            c.options.line = controls.settings;
            FormatLineSettings(controls.settings, c.options.settingsText, sizeof c.options.settingsText);
            if (!same) {
                const RosterMember* m = RosterFind(c.features.server.roster, member);
                SettingsSet(c, member, m != nullptr ? m->name : "a client");
            }
            return ControlResult::Done;
        }
    }
    return ControlResult::Unsupported;
}

void ScriptWrites(void* user, bool writes) {
    Session& c = *static_cast<Session*>(user);
    if (!ScriptRunning(c.features.script) || c.features.script.paused == !writes) return;
    c.features.script.paused = !writes;
    SayServed(writes ? "script: the line is back, it goes on"
                     : "script: paused while a client holds the line");
}

}  // namespace

LogFileMode ServedLogMode(const ConsoleOptions& o) {
    LogFileMode mode;
    if (!o.serve || o.share[0] == '\0') return mode;
    int64_t group = -1;
    for (const char* text : {o.shareWrite, o.shareWatch}) {
        AccessList list;
        char problem[256];
        if (text[0] == '\0') continue;
        if (!ParseAccessList(text, &list, problem, sizeof problem)) return mode;
        for (unsigned i = 0; i < list.count; ++i) {
            if (!list.entry[i].group) continue;
            if (group >= 0 && group != int64_t(list.entry[i].id)) return mode;  // more than one
            group = list.entry[i].id;
        }
    }
    if (group >= 0) mode = {0640, group};
    return mode;
}

bool OpenServed(Session& c, char* message, unsigned capacity) {
    AccessRules rules = {};
    rules.owner = getuid();
    rules.rawWatch = c.options.shareRawWatch;
    rules.listsGiven = c.options.shareWrite[0] != '\0' || c.options.shareWatch[0] != '\0';
    char problem[256];
    if (c.options.shareWrite[0] != '\0' &&
        !ParseAccessList(c.options.shareWrite, &rules.write, problem, sizeof problem)) {
        std::snprintf(message, capacity, "share-write: %s", problem);
        return false;
    }
    if (c.options.shareWatch[0] != '\0' &&
        !ParseAccessList(c.options.shareWatch, &rules.watch, problem, sizeof problem)) {
        std::snprintf(message, capacity, "share-watch: %s", problem);
        return false;
    }
    if (c.options.shareTokenPath[0] != '\0' &&
        !ReadTokenFile("--share-token", c.options.shareTokenPath, rules.token, &rules.tokenLength, message,
                       capacity)) {
        return false;
    }
    for (const char* share : {c.options.share, c.options.shareOther}) {
        ShareAddress address;
        const char* fault;
        if (share[0] != '\0' && ParseShareAddress(share, &address, &fault) && !address.unixSocket &&
            rules.tokenLength == 0) {
            std::snprintf(message, capacity, "--share %s: a served TCP share needs --share-token FILE",
                          share);
            return false;
        }
    }
    ServeHooks hooks = {&c, SendFromClient, ControlFromClient, SayFromServer, ScriptWrites, RoleChanged};
    // The line kept for its writer from before, should this be a restart.
    const int64_t GraceMilliseconds = 10000;
    RosterGrace(c.features.server.roster, MonotonicMilliseconds() + GraceMilliseconds);
    c.features.server.seam = {&c.ansi, &c.style.map, &c.style.maps};
    if (c.options.share[0] == '\0') {  // port accepters alone: the roster without a socket
        c.features.server.rules = rules;
        c.features.server.hooks = hooks;
        c.features.server.history = &c.ui.history;
        return true;
    }
    if (!OpenServer(c.features.server, c.options.share, rules, hooks, c.ui.history, message, capacity))
        return false;
    // A share of the other kind beside it: one roster, each its own rule.
    if (c.options.shareOther[0] != '\0' &&
        !OpenServer(c.features.server, c.options.shareOther, rules, hooks, c.ui.history, message, capacity)) {
        CloseServer(c.features.server);
        return false;
    }
    return true;
}

namespace {

uint16_t PortJoins(void* user, const char* name, bool mayWrite) {
    Session& c = *static_cast<Session*>(user);
    return ServeMemberJoins(c.features.server, SeatKind::Port, name, int64_t(time(nullptr)), mayWrite);
}

void PortLeaves(void* user, uint16_t member) {
    ServeMemberLeaves(static_cast<Session*>(user)->features.server, member);
}

void PortInput(void* user, uint16_t member) {
    ServeMemberInput(static_cast<Session*>(user)->features.server, member);
}

bool PortWrites(void* user, uint16_t member) {
    return RosterWrites(static_cast<Session*>(user)->features.server.roster, member);
}

unsigned PortSends(void* user, const uint8_t* bytes, unsigned count) {
    return Send(*static_cast<Session*>(user), SendSource::Attached, bytes, count);
}

// A writer's request changes the line as the menu would, and is said; a
// watcher's (or one the line refuses) is answered with what is in force.
uint32_t PortRequest(void* user, const ComPortRequest& request, bool apply, const char* who) {
    Session& c = *static_cast<Session*>(user);
    LineControls controls = c.link.controls;
    int breakAsked = -1;
    bool changes = ComPortApply(request, &controls, &breakAsked);
    if (apply && c.link.state == LinkState::Open) {
        if (breakAsked == 1) SendBreak(c, MonotonicMilliseconds(), nullptr);
        bool dtr = controls.dtr != c.link.controls.dtr, rts = controls.rts != c.link.controls.rts;
        bool settings = changes && !dtr && !rts;
        if (dtr) SetModemOutput(c, ModemOutput::Dtr, controls.dtr == 1, nullptr);
        if (rts) SetModemOutput(c, ModemOutput::Rts, controls.rts == 1, nullptr);
        if (settings && ApplyControls(c, controls, nullptr)) {
            c.options.line = controls.settings;
            FormatLineSettings(controls.settings, c.options.settingsText, sizeof c.options.settingsText);
            SettingsSet(c, RosterNobody, who);
        }
    }
    return ComPortInForce(request, c.link.controls, c.link.breakEndsAt != NoDeadline);
}

}  // namespace

bool OpenPortShares(Session& c, char* message, unsigned capacity, bool* usage) {
    *usage = true;
    for (unsigned i = 0; i < c.options.portShareCount; ++i) {
        if (!PortAddressAllowed(c.options.portShares[i], c.options.portOpen, message, capacity)) return false;
    }
    *usage = false;
    for (unsigned i = 0; i < c.options.portShareCount; ++i) {
        if (!OpenPortAccepter(c.features.ports, c.options.portShares[i], c.options.portOpen, message,
                              capacity))
            return false;
    }
    PortHooks hooks = {&c,        PortJoins,   PortLeaves,    PortWrites,
                       PortSends, PortRequest, SayFromServer, PortInput};
    if (!StartPortServer(c.features.ports, hooks, c.options.portWrite, c.options.portReplay)) {
        std::snprintf(message, capacity, "no memory for rfc2217-replay = %u", unsigned(c.options.portReplay));
        return false;
    }
    return true;
}

int64_t PortStateDue(const Session& c) {
    return PortWantsState(c.features.ports) ? c.features.ports.stateDue : NoDeadline;
}

Reaction PollPortState(Session& c, int64_t now) {
    const int64_t Every = 100;  // ms: a modem input's change is seen within it
    c.features.ports.stateDue = now + Every;
    bool open = c.link.state == LinkState::Open && c.link.line;
    ModemLines lines = {};
    bool known = open && c.link.line->ReadModemLines(&lines) == ControlResult::Done;
    PortLineState(c.features.ports, ComPortModemBits(open, known, lines, c.features.ports.modem),
                  ComPortLineBits(open));
    return Nothing;
}

void SayServing(const Session& c) {
    char text[1024];
    int used = std::snprintf(text, sizeof text, "serve: serving %s at %s%s (%s) on", c.link.line->Name(),
                             c.options.settingsText, c.link.controls.hardwareFlow ? ", RTS/CTS" : "",
                             c.link.state == LinkState::Open ? "open" : "waiting for it");
    const char* comma = "";  // between accepters
    auto add = [&](const char* kind, const char* where) {
        if (used <= 0 || unsigned(used) >= sizeof text) return;
        used += std::snprintf(text + used, sizeof text - unsigned(used), "%s %s%.200s", comma, kind, where);
        comma = ",";
    };
    if (c.options.share[0] != '\0') add("", c.options.share);
    if (c.options.shareOther[0] != '\0') add("", c.options.shareOther);
    for (unsigned i = 0; i < c.options.portShareCount; ++i) add("", c.options.portShares[i]);
    if (c.options.web[0] != '\0') add("web ", c.options.web);
    SayServed(text);
}

namespace {

void ServedScriptState(Session& c) {
    Server& server = c.features.server;
    if (!ServeListening(server)) return;
    bool running = ScriptRunning(c.features.script);
    if (running && server.script == RosterNobody) {
        c.features.script.paused = false;
        ServeScriptBegins(server, int64_t(time(nullptr)));
    } else if (!running && server.script != RosterNobody) {
        ServeScriptEnds(server);
    }
}

// No terminal: nothing to read or draw; what is said goes to standard error.
class ServeFront : public FrontEnd {
public:
    bool HoldKeys(const Console&, int64_t) const override { return false; }
    struct pollfd Input(const Console&, bool) const override {
        return {-1, 0, 0};
    }
    Reaction ReadInput(Console&, short, bool, int64_t) override { return Nothing; }
    int64_t FrameDue(const Console&) const override { return NoDeadline; }
    void Draw(Console&, int64_t) override {}
    void Signal(Console&, int) override {}
    void Tell(Session&, const char* text, bool) override { SayServed(text); }
    bool ScriptEndsRun() const override { return false; }  // the line goes on without it
};

}  // namespace

std::unique_ptr<FrontEnd> ServeFrontEnd() { return std::unique_ptr<FrontEnd>(new ServeFront()); }

namespace {

// Serving: the hooks are set whether a socket, port accepters or both serve.
bool Serving(const Session& c) { return c.features.server.hooks.user != nullptr; }

}  // namespace

int64_t ServedDue(const Session& c) {
    if (c.options.serve && c.notice.text[0] != '\0') return 0;
    // The line's state is looked at every pass, as cheaply as a compare.
    if (Serving(c) && LineDiffers(c)) return 0;
    if (c.link.attached != nullptr &&
        (c.link.attached->Attached().lineChanged || c.link.attached->Attached().rosterAnswered))
        return 0;
    // The script's role is looked at every pass a script starts or ends in.
    if (ScriptRunning(c.features.script) != (c.features.server.script != RosterNobody)) return 0;
    return ServeDue(c.features.server);
}

Reaction ServedTimers(Session& c, int64_t now) {
    if (c.options.serve && c.notice.text[0] != '\0') {
        SayServed(c.notice.text);
        Forget(c.notice);
    }
    ServedScriptState(c);
    if (Serving(c) && LineDiffers(c)) {
        // The journal has the line's going and coming, as a session's status line would.
        const WireLineState& told = c.features.server.line;
        bool open = c.link.state == LinkState::Open;
        char text[WireTextCapacity + 64];
        if (told.settings.length > 0 && told.open != open) {
            const char* name = c.link.line ? c.link.line->Name() : c.options.device;
            if (open) {
                std::snprintf(text, sizeof text, "serve: the line %.200s is back (%s)", name,
                              c.options.settingsText);
            } else {
                std::snprintf(text, sizeof text, "serve: the line %.200s went away, waiting for it", name);
            }
            SayServed(text);
        }
        TellLine(c, RosterNobody, "");
    }
    FollowServedLine(c);
    if (c.link.attached != nullptr && c.link.attached->TakeRosterAnswer()) ShowAttached(c);
    if (now >= ServeDue(c.features.server)) ServeTimers(c.features.server, now);
    return Nothing;
}

#include "console/serve/served.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

#include "console/commands.h"
#include "console/console.h"
#include "console/line/net_address.h"
#include "console/serve/access.h"
#include "console/serve/attach_line.h"
#include "console/serve/server.h"

bool MakeAttachLine(Console& c, char* message, unsigned capacity) {
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
    std::unique_ptr<AttachLine> line(new AttachLine(address, hello, c.history));
    c.attached = line.get();
    c.line = std::move(line);
    // Messages name the served line where they would name the device.
    std::snprintf(c.options.device, sizeof c.options.device, "%s", c.line->Name());
    return true;
}

bool BacksOff(const Console& c) { return c.attached != nullptr || IsNetworkDevice(c.options.device); }

Reaction TakeTheLine(Console& c, int64_t) {
    if (c.attached == nullptr) {
        Say(c.notice, "take: only a served line (--attach) has a line to take");
    } else if (c.attached->Attached().role == WireRole::Writing) {
        c.attached->Ask(WireType::Give);  // to a script it was taken from, or to whoever asks next
        Say(c.notice, "handing the line back...");
    } else {
        c.attached->Ask(WireType::Take);
        Say(c.notice, "asking for the line...");
    }
    return Nothing;
}

Reaction ListAttached(Console& c, int64_t) {
    if (c.attached == nullptr) {
        Say(c.notice, "who: only a served line (--attach) has others attached");
        return Nothing;
    }
    const WireRoster& roster = c.attached->Attached().roster;
    char text[NoticeCapacity] = "attached:";
    for (unsigned i = 0; i < roster.count; ++i) {
        const WireRosterEntry& e = roster.entry[i];
        time_t since = time_t(e.since);
        struct tm local;
        char when[16] = "?";
        if (localtime_r(&since, &local) != nullptr) strftime(when, sizeof when, "%H:%M", &local);
        size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, "%s %s%s %s since %s", i > 0 ? "," : "", e.name.text,
                      e.id == c.attached->Attached().id ? " (you)" : "",
                      e.role == WireRole::Writing ? "writing" : "watching", when);
    }
    Say(c.notice, "%s", text);
    return Nothing;
}

bool AttachedStatus(const Console& c, char* text, unsigned capacity) {
    if (c.attached == nullptr || c.link != LinkState::Open) return false;
    unsigned others = c.attached->Others();
    std::snprintf(text, capacity, "%s, %u other%s",
                  c.attached->Attached().role == WireRole::Writing ? "writing" : "watching", others,
                  others == 1 ? "" : "s");
    return true;
}

void SayServed(const char* text) {
    time_t now = time(nullptr);
    struct tm local;
    char when[32] = "";
    if (localtime_r(&now, &local) != nullptr) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S ", &local);
    std::fprintf(stderr, "brisvane: %s%s\n", when, text);
}

namespace {

// A writer's bytes, as a --share client's: through the output pump as they
// are (the client's program applied the line's byte rules), only as far as
// it has room.
unsigned SendFromClient(void* user, const uint8_t* bytes, unsigned count) {
    Console& c = *static_cast<Console*>(user);
    if (c.link != LinkState::Open) return 0;
    unsigned room = TypedCapacity - c.pump.Waiting();
    unsigned take = count < room ? count : room;
    return take > 0 && c.pump.Queue(bytes, take, false) ? take : 0;
}

ControlResult ControlFromClient(void* user, const WireControlMessage& control, char* problem,
                                unsigned capacity) {
    Console& c = *static_cast<Console*>(user);
    if (c.link != LinkState::Open) {
        std::snprintf(problem, capacity, "the served line is not open");
        return ControlResult::Refused;
    }
    int64_t now = MonotonicMilliseconds();
    ControlResult result = ControlResult::Done;
    switch (control.control) {
        case WireControl::Break:
            result = c.line->SetBreak(true);
            if (result == ControlResult::Done) c.breakEndsAt = now + BreakMilliseconds;
            break;
        case WireControl::Dtr:
        case WireControl::Rts: {
            bool dtr = control.control == WireControl::Dtr;
            if (!dtr && c.controls.hardwareFlow) {
                std::snprintf(problem, capacity, "RTS/CTS flow control drives RTS on the served line");
                return ControlResult::Refused;
            }
            result = c.line->SetModemOutput(dtr ? ModemOutput::Dtr : ModemOutput::Rts, control.value != 0);
            if (result == ControlResult::Done) (dtr ? c.dtr : c.rts) = control.value != 0;
            break;
        }
        case WireControl::DtrPulse:
            result = c.line->SetModemOutput(ModemOutput::Dtr, false);
            if (result == ControlResult::Done) c.dtrBackAt = now + DtrPulseMilliseconds;
            break;
        case WireControl::Settings: {
            LineControls controls = c.controls;
            const char* fault = nullptr;
            if (!ParseLineSettings(control.settings.text, &controls.settings, &fault)) {
                std::snprintf(problem, capacity, "line settings '%.60s': %s", control.settings.text, fault);
                return ControlResult::Refused;
            }
            result = c.line->Apply(controls, problem, capacity);
            if (result == ControlResult::Done) {
                c.controls = controls;
                c.options.line = controls.settings;
                FormatLineSettings(controls.settings, c.options.settingsText, sizeof c.options.settingsText);
            }
            break;
        }
    }
    return result;
}

void SayFromServer(void*, const char* text) { SayServed(text); }

void ScriptWrites(void* user, bool writes) {
    Console& c = *static_cast<Console*>(user);
    if (!ScriptRunning(c.script) || c.script.paused == !writes) return;
    c.script.paused = !writes;
    SayServed(writes ? "script: the line is back, it goes on"
                     : "script: paused while a client holds the line");
}

}  // namespace

bool OpenServed(Console& c, char* message, unsigned capacity) {
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
    ShareAddress address;
    const char* fault;
    if (ParseShareAddress(c.options.share, &address, &fault) && !address.unixSocket &&
        rules.tokenLength == 0) {
        std::snprintf(message, capacity, "--share %s: a served TCP share needs --share-token FILE",
                      c.options.share);
        return false;
    }
    ServeHooks hooks = {&c, SendFromClient, ControlFromClient, SayFromServer, ScriptWrites};
    return OpenServer(c.server, c.options.share, rules, hooks, c.history, message, capacity);
}

void ServedScriptState(Console& c) {
    if (c.server.listener.listener < 0) return;
    bool running = ScriptRunning(c.script);
    if (running && c.server.script == RosterNobody) {
        c.script.paused = false;
        ServeScriptBegins(c.server, int64_t(time(nullptr)));
    } else if (!running && c.server.script != RosterNobody) {
        ServeScriptEnds(c.server);
    }
}

#include "console/serve/served.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

#include "console/console.h"
#include "console/line/net_address.h"
#include "console/serve/access.h"
#include "console/serve/attach_line.h"

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
        Say(c.notice, "you are writing already");
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

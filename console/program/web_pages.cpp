#include "console/program/web_pages.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "console/line/clock.h"
#include "console/features/serve/access.h"
#include "console/program/session.h"
#include "console/program/line_controls.h"
#include "console/program/recorded.h"
#include "console/program/send.h"

namespace {

// On a served line only the page that writes sends: its idle time starts again.
void PageInput(Session& c) {
    if (c.options.serve) ServeMemberInput(c.features.server, c.features.server.roster.writer);
}

unsigned SendFromPage(void* user, const uint8_t* bytes, unsigned count, bool paste) {
    PageInput(*static_cast<Session*>(user));
    return Send(*static_cast<Session*>(user), paste ? SendSource::WebPaste : SendSource::WebKey, bytes,
                count);
}

void ControlFromPage(void* user, WebCommand command, bool on) {
    Session& c = *static_cast<Session*>(user);
    PageInput(c);
    if (command == WebCommand::Break) {
        SendBreak(c, MonotonicMilliseconds(), &c.notice);
    } else {
        SetModemOutput(c, command == WebCommand::Dtr ? ModemOutput::Dtr : ModemOutput::Rts, on, &c.notice);
    }
}

// Refusals and takes: on the status line, or standard error without a screen.
void SayFromPages(void* user, const char* text) {
    Session& c = *static_cast<Session*>(user);
    c.front->Tell(c, text, false);
}

// A served line: a page is one more member of its roster.
uint16_t PageJoins(void* user, const char* address, bool mayWrite) {
    Session& c = *static_cast<Session*>(user);
    char name[RosterNameCapacity];
    std::snprintf(name, sizeof name, "web %s", address[0] != '\0' ? address : "page");
    return ServePageJoins(c.features.server, name, int64_t(time(nullptr)), mayWrite);
}

void PageLeaves(void* user, uint16_t member) {
    ServePageLeaves(static_cast<Session*>(user)->features.server, member);
}

bool PageTakes(void* user, uint16_t member) {
    return ServePageTakes(static_cast<Session*>(user)->features.server, member);
}

void PageRole(void* user, uint16_t member, WireRole role, const char* by) {
    Session& c = *static_cast<Session*>(user);
    if (!c.features.web) return;
    Web& web = *c.features.web;
    int index = WebPageOf(web, member);
    if (index < 0) return;
    char text[128];
    if (role == WireRole::Writing) {
        SetWebWriter(web, index);
        WebSayToPage(web, index, "you are writing");
    } else if (web.writer == index) {
        SetWebWriter(web, WebLocalWriter);
        if (by[0] != '\0') {
            std::snprintf(text, sizeof text, "%s took the line: you are watching", by);
        } else {
            std::snprintf(text, sizeof text, "you are watching");
        }
        WebSayToPage(web, index, text);
    }
}

// A page that got a free line as it joined is told so once it has a slot.
void PageJoined(void* user, uint16_t member) {
    Session& c = *static_cast<Session*>(user);
    if (RosterWrites(c.features.server.roster, member)) PageRole(user, member, WireRole::Writing, "");
}

// A replay's place as the pages are to see it now.
WebReplay ReplayNow(Session& c, int64_t now) {
    WebReplay replay;
    const ReplayLine* line = c.link.replay;
    if (line == nullptr || c.link.state != LinkState::Open) return replay;
    replay.on = true;
    replay.at = line->Position();
    replay.length = line->Length();
    replay.since = now;
    replay.paused = line->Paused();
    replay.speed = c.options.replaySpeed > 0 ? c.options.replaySpeed : 1;
    if (c.features.webReplayMarks.size() != line->Marks().size()) {
        c.features.webReplayMarks.clear();
        for (size_t i = 0; i < line->Marks().size(); ++i)
            c.features.webReplayMarks.push_back({line->Marks()[i], line->MarkNames()[i].c_str()});
    }
    replay.marks = c.features.webReplayMarks.data();
    replay.markCount = unsigned(c.features.webReplayMarks.size());
    return replay;
}

// Every page is told of a replay that moved otherwise than they think it does.
void TellReplay(Session& c) {
    if (!c.features.web) return;
    int64_t now = MonotonicMilliseconds();
    WebReplay replay = ReplayNow(c, now);
    if (WebReplayDiffers(c.features.web->replay, replay, now)) SetWebReplay(*c.features.web, replay);
}

// A page with the token moves the replay as the menu's j, or pauses it:
// the terminal and every page then show that moment.
void ReplayFromPage(void* user, WebCommand command, uint64_t milliseconds, bool on) {
    Session& c = *static_cast<Session*>(user);
    if (command == WebCommand::Seek) {
        ReplaySeek(
            c, milliseconds < UINT64_MAX / 1000 ? milliseconds * 1000 : UINT64_MAX);  // past the end: the end
    } else {
        ReplayHold(c, on);
    }
    if (c.features.web) SetWebReplay(*c.features.web, ReplayNow(c, MonotonicMilliseconds()));
}

}  // namespace

bool StartWebPages(Session& c, char* message, unsigned capacity) {
    if (c.options.web[0] == '\0') return true;
    // The same token, and the same rules for its file, as attached clients use.
    char token[WebTokenCapacity] = "";
    if (c.options.shareTokenPath[0] != '\0') {
        uint8_t bytes[WireTokenCapacity];
        unsigned length = 0;
        if (!ReadTokenFile("--share-token", c.options.shareTokenPath, bytes, &length, message, capacity))
            return false;
        std::memcpy(token, bytes, length);
        token[length] = '\0';
    }
    c.features.web.reset(new Web());
    // On a served line the roster decides who writes, pages among its members.
    WebSettings settings = {c.options.web,
                            token,
                            c.options.webOpenWatch,
                            c.options.serve,
                            c.options.webCert[0] != '\0' ? c.options.webCert : nullptr,
                            c.options.webKey[0] != '\0' ? c.options.webKey : nullptr,
                            c.options.webHosts,
                            c.options.webHostCount};
    WebHooks hooks;
    hooks.user = &c;
    hooks.send = SendFromPage;
    hooks.control = ControlFromPage;
    hooks.say = SayFromPages;
    hooks.replay = ReplayFromPage;
    if (c.options.serve) {
        hooks.join = PageJoins;
        hooks.joined = PageJoined;
        hooks.leave = PageLeaves;
        hooks.take = PageTakes;
        c.features.server.pagesUser = &c;
        c.features.server.pageRole = PageRole;
    }
    bool opened = OpenWeb(*c.features.web, settings, hooks, &c.ui.history, message, capacity);
    std::memset(token, 0, sizeof token);
    if (!opened) c.features.web.reset();
    if (opened && c.options.logPath[0] != '\0') SetWebLog(*c.features.web, c.options.logPath);
    return opened;
}

void StopWebPages(Session& c) {
    if (c.features.web) CloseWeb(*c.features.web);
    c.features.web.reset();
}

unsigned WebPagesDescriptors(const Session& c, struct pollfd* fds) {
    return c.features.web ? WebDescriptors(*c.features.web, fds) : 0;
}

void ServeWebPages(Session& c, const struct pollfd* fds, unsigned count) {
    if (c.features.web) ServeWeb(*c.features.web, fds, count);
}

int64_t WebPagesDeadline(const Session& c, int64_t now) {
    if (!c.features.web) return NoDeadline;
    int wait = WebTimeout(*c.features.web);
    return wait < 0 ? NoDeadline : now + wait;
}

void ShowWebPages(Session& c) {
    if (!c.features.web) return;
    TellReplay(c);
    char who[WebFieldCapacity];
    Web& web = *c.features.web;
    if (c.options.serve) {
        // Every page is a member: the others are all but one.
        const Roster& roster = c.features.server.roster;
        const RosterMember* writer = RosterFind(roster, roster.writer);
        unsigned members = RosterOthers(roster, RosterNobody);
        unsigned others = members > 0 ? members - 1 : 0;
        std::snprintf(who, sizeof who, "%u other%s%s%s", others, others == 1 ? "" : "s",
                      writer ? ", writing: " : ", the line is free", writer ? writer->name : "");
    } else if (c.link.replay != nullptr) {  // nobody writes to a recording
        std::snprintf(who, sizeof who, "%u page%s", web.pages, web.pages == 1 ? "" : "s");
    } else if (web.writer == WebLocalWriter) {
        std::snprintf(who, sizeof who, "terminal (writing), %u page%s", web.pages, web.pages == 1 ? "" : "s");
    } else {
        std::snprintf(who, sizeof who, "terminal, %u page%s (page %d writes)", web.pages,
                      web.pages == 1 ? "" : "s", web.writer + 1);
    }
    WebFrame frame;
    for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &screen.cells[r * ScreenColumns];
    frame.cursorRow = terminal.row;
    frame.cursorColumn = terminal.column;
    frame.cursorVisible = true;
    frame.line = c.options.device;
    frame.speed = c.options.settingsText;
    frame.who = who;
    frame.log = c.options.logPath[0] != '\0';
    WebShowFrame(web, frame);
}

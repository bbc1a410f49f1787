#include "console/web/web_console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/bit7_watch.h"
#include "console/commands.h"
#include "console/line_maps.h"
#include "console/text_rules.h"
#include "console/console.h"

namespace {

// As typed keys go: the sent maps, the terminal's bit 7, local echo; a byte
// at a time, so a paste the queue cannot hold yet waits with the page.
unsigned SendFromPage(void* user, const uint8_t* bytes, unsigned count, bool paste) {
    Console& c = *static_cast<Console*>(user);
    if (c.protocol.active) {
        Say(c.notice, "not sent: a transfer runs (the menu key then e ends it)");
        return count;
    }
    if (c.link != LinkState::Open) {
        c.counters.dropped += count;
        Say(c.notice, "not connected: the page's keys were not sent");
        return count;
    }
    unsigned taken = 0;
    for (; taken < count; ++taken) {
        uint8_t mapped[2], wire[2];
        unsigned n = MapSent(c.style.maps, bytes[taken], mapped);
        for (unsigned j = 0; j < n; ++j) wire[j] = Originated(mapped[j], c.options.sevenBit);
        if (!c.pump.Queue(wire, n, paste)) break;
        KeysSent(c.bit7, wire, n, MonotonicMilliseconds());
        EchoQueued(c, wire, n);
    }
    return taken;
}

void ControlFromPage(void* user, WebCommand command, bool on) {
    Console& c = *static_cast<Console*>(user);
    if (c.link != LinkState::Open) {
        Say(c.notice, "web: no line for the page's control");
        return;
    }
    if (command == WebCommand::Break) {
        if (c.line->SetBreak(true) == ControlResult::Done)
            c.breakEndsAt = MonotonicMilliseconds() + BreakMilliseconds;
        return;
    }
    ModemOutput which = command == WebCommand::Dtr ? ModemOutput::Dtr : ModemOutput::Rts;
    if (which == ModemOutput::Rts && c.options.hardwareFlow) {
        Say(c.notice, "web: RTS is flow control's (--flow none frees it)");
        return;
    }
    if (c.line->SetModemOutput(which, on) == ControlResult::Done) {
        (which == ModemOutput::Dtr ? c.dtr : c.rts) = on;
        (which == ModemOutput::Dtr ? c.controls.dtr : c.controls.rts) = on ? 1 : 0;
    }
}

void SayFromPages(void* user, const char* text) { Say(static_cast<Console*>(user)->notice, "%s", text); }

}  // namespace

bool ReadWebToken(const char* path, char* token, unsigned capacity, char* message, unsigned messageCapacity) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat about;
    if (fd < 0 || fstat(fd, &about) != 0) {
        std::snprintf(message, messageCapacity, "--share-token %s: %s", path, std::strerror(errno));
        if (fd >= 0) close(fd);
        return false;
    }
    if (!S_ISREG(about.st_mode) || (about.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        close(fd);
        std::snprintf(message, messageCapacity, "--share-token %s: %s", path,
                      S_ISREG(about.st_mode) ? "others may read it (chmod 600 it)" : "not a plain file");
        return false;
    }
    ssize_t count = read(fd, token, capacity);
    close(fd);
    if (count > 0 && token[count - 1] == '\n') --count;
    if (count > 0 && token[count - 1] == '\r') --count;
    if (count <= 0 || unsigned(count) >= capacity) {
        std::snprintf(message, messageCapacity, "--share-token %s: %s", path,
                      count <= 0 ? "empty" : "longer than a token may be");
        return false;
    }
    token[count] = '\0';
    return true;
}

bool StartWebPages(Console& c, char* message, unsigned capacity) {
    if (c.options.web[0] == '\0') return true;
    char token[WebTokenCapacity] = "";
    if (c.options.shareToken[0] != '\0' &&
        !ReadWebToken(c.options.shareToken, token, sizeof token, message, capacity)) {
        return false;
    }
    c.web.reset(new Web());
    WebSettings settings = {c.options.web, token, c.options.webOpenWatch,
                            c.options.webCert[0] != '\0' ? c.options.webCert : nullptr,
                            c.options.webKey[0] != '\0' ? c.options.webKey : nullptr};
    WebHooks hooks;
    hooks.user = &c;
    hooks.send = SendFromPage;
    hooks.control = ControlFromPage;
    hooks.say = SayFromPages;
    bool opened = OpenWeb(*c.web, settings, hooks, &c.history, message, capacity);
    std::memset(token, 0, sizeof token);
    if (!opened) c.web.reset();
    if (opened && c.options.logPath[0] != '\0') SetWebLog(*c.web, c.options.logPath);
    return opened;
}

void StopWebPages(Console& c) {
    if (c.web) CloseWeb(*c.web);
    c.web.reset();
}

unsigned WebPagesDescriptors(Console& c, struct pollfd* fds) {
    return c.web ? WebDescriptors(*c.web, fds) : 0;
}

void ServeWebPages(Console& c, const struct pollfd* fds, unsigned count) {
    if (c.web) ServeWeb(*c.web, fds, count);
}

int64_t WebPagesDeadline(Console& c, int64_t now) {
    if (!c.web) return NoDeadline;
    int wait = WebTimeout(*c.web);
    return wait < 0 ? NoDeadline : now + wait;
}

void ShowWebPages(Console& c) {
    if (!c.web) return;
    char who[WebFieldCapacity];
    Web& web = *c.web;
    if (web.writer == WebLocalWriter) {
        std::snprintf(who, sizeof who, "terminal (writer), %u page%s", web.pages, web.pages == 1 ? "" : "s");
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

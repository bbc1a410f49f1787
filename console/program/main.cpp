// brisvane for Unix terminals: start-up and shutdown.
//
// Exit codes: 0 after the user exits, 1 when it cannot start (one line on
// stderr says why and what to do) or the line is lost with reconnecting
// off, or the last writes of a capture or a log failed (said on stderr once
// the terminal is restored), 2 for a usage error (the command line or the
// profiles file, a first word that names no profile and no device, a log
// or profiles file that is not a regular file), 128 + N
// after a terminating signal N; a script's exit(code) gives its code,
// --timeout 124. In batch mode a failed test() or a mark's missed deadline
// makes an otherwise clean end 1 (tests.h).
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <unistd.h>

#include "console/line/clock.h"
#include "console/program/batch.h"
#include "console/program/connection.h"
#include "console/program/session.h"
#include "console/line/device_list.h"
#include "console/line/serial_devices.h"
#include "console/program/loop.h"
#include "console/program/recorded.h"
#include "console/program/network_lines.h"
#include "console/features/profiles.h"
#include "console/program/script.h"
#include "console/program/served.h"
#include "console/program/signals.h"
#include "console/program/stamps.h"
#include "console/program/tests.h"
#include "console/screen/terminal_check.h"
#include "console/program/web_pages.h"
#include "core/screen.h"

#ifndef BRISVANE_VERSION
#define BRISVANE_VERSION "2.4"
#endif

namespace {

const char Usage[] =
    "usage: brisvane DEVICE|PROFILE [SETTINGS] [OPTIONS]\n"
    "       brisvane --auto-connect new|latest [SETTINGS] [OPTIONS]\n"
    "       brisvane --list | --list-profiles | --list-options | --help | --version\n";

const char HelpIntroduction[] =
    "\n"
    "A 24 x 80 character terminal for a host on a serial line: DEVICE is a\n"
    "serial device, rfc2217://HOST:PORT or tcp://HOST:PORT; PROFILE a section\n"
    "of the profiles file. A device may also be named by its /dev/serial/by-id\n"
    "name, usb:VID:PID[:SERIAL] or its topology id (--list shows them).\n"
    "\n"
    "  SETTINGS           speed,parity,data,stop (default 9600,n,8,1), or\n"
    "                     'baud=9600 parity=n data=8 stop=1'; any speed the driver takes\n";

const char HelpEnd[] =
    "\n"
    "The menu key (Ctrl-A) then ? lists its commands; x exits (more: man brisvane).\n";

void PrintHelp() {
    std::printf("%s%s", Usage, HelpIntroduction);
    char line[256];
    for (unsigned i = 0; OptionHelp(i, line, sizeof line); ++i) std::printf("%s\n", line);
    std::printf("%s", HelpEnd);
}

int Fail(const char* message) {
    std::fprintf(stderr, "brisvane: %s\n", message);
    return 1;
}

int UsageError(const char* problem) {
    std::fprintf(stderr, "brisvane: %s\n%s", problem, Usage);
    return 2;
}

void ListProfiles(const Profiles& profiles) {
    bool any = false;
    for (const std::string& section : profiles.sections) {
        if (section == "default") continue;
        if (!any) std::printf("profiles in %s:\n", profiles.path);
        std::printf("  %s\n", section.c_str());
        any = true;
    }
}

// Defaults, then [default], then the named profile, then the command line.
bool BuildOptions(const CommandLine& line, const Profiles& profiles, ConsoleOptions* options, char* problem,
                  unsigned capacity) {
    DefaultOptions(options);
    if (!ApplyProfile(profiles, "default", options, problem, capacity)) return false;
    const char* first = line.positionalCount > 0 ? line.positional[0] : nullptr;
    bool isProfile = first != nullptr && !LooksLikeDevice(first) && HasProfile(profiles, first);
    if (isProfile && !ApplyProfile(profiles, first, options, problem, capacity)) return false;
    if (isProfile && options->device[0] == '\0') {
        std::snprintf(problem, capacity, "profile %.40s in %.150s gives no device: add 'device = ...' to it",
                      first, profiles.path);
        return false;
    }
    return ApplyCommandLine(line, isProfile, options, problem, capacity);
}

void FailAtExit(Session& c, const char* message) {
    std::fprintf(stderr, "brisvane: %s\n", message);
    if (c.exitCode == 0) c.exitCode = 1;
}

// A first word that is neither a profile nor a device path (no '/'): the
// profiles there are are a likelier meaning than a file in this folder.
void NoSuchName(const char* name, const Profiles& profiles, char* message, unsigned capacity) {
    std::string names;
    for (const std::string& section : profiles.sections) {
        if (section == "default") continue;
        names += (names.empty() ? "" : ", ") + section;
    }
    const char* file = profiles.path[0] != '\0' ? profiles.path : "no profiles file";
    std::snprintf(message, capacity, "%s: no such profile or device; profiles: %s (%s)", name,
                  names.empty() ? "none" : names.c_str(), file);
}

bool CheckHome(const char* folder, char* message, unsigned capacity) {
    struct stat status;
    if (folder[0] == '\0') return true;
    if (stat(folder, &status) != 0) {
        std::snprintf(message, capacity, "%s: no such folder (give --home an existing folder)", folder);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        std::snprintf(message, capacity, "%s: not a folder (give --home a folder, not a file)", folder);
        return false;
    }
    return true;
}

// A descriptor 0, 1 or 2 closed by the caller would be the next one opened
// (the device, read as standard input): each is /dev/null instead.
void OpenClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) close(opened);  // cannot be: fd was the lowest free
    }
}

}  // namespace

int main(int argc, char** argv) {
    OpenClosedStandardDescriptors();
    ResetChildSignal();
    std::setlocale(LC_ALL, "");
    char problem[ProblemCapacity];
    CommandLine commandLine;
    if (!ReadCommandLine(argc, argv, &commandLine, problem, sizeof problem)) return UsageError(problem);
    switch (commandLine.action) {
        case ProgramAction::Help: PrintHelp(); return 0;
        case ProgramAction::Version: std::printf("brisvane %s\n", BRISVANE_VERSION); return 0;
        case ProgramAction::ListOptions: {
            char line[256];
            for (unsigned i = 0; OptionListing(i, line, sizeof line); ++i) std::printf("%s\n", line);
            return 0;
        }
        default: break;
    }
    Profiles profiles;
    char profilesPath[PathCapacity];
    if (commandLine.configPath != nullptr) {
        std::snprintf(profilesPath, sizeof profilesPath, "%s", commandLine.configPath);
    } else {
        DefaultProfilesPath(profilesPath, sizeof profilesPath);
    }
    if (!ReadProfiles(profilesPath, commandLine.configPath != nullptr, &profiles, problem, sizeof problem)) {
        std::fprintf(stderr, "brisvane: %s\n", problem);
        return 2;
    }
    if (commandLine.action == ProgramAction::List) {
        ConsoleOptions options;  // for the roots and the exclusions
        if (!BuildOptions(commandLine, profiles, &options, problem, sizeof problem))
            return UsageError(problem);
        std::vector<std::string> excludes(options.excludes, options.excludes + options.excludeCount);
        ListSerialDevices({options.sysfsRoot, options.devRoot}, excludes, stdout);
        ListProfiles(profiles);
        ListNetworkLines(stdout);
        return 0;
    }
    if (commandLine.action == ProgramAction::ListProfiles) {
        for (const std::string& section : profiles.sections) {
            if (section != "default") std::printf("%s\n", section.c_str());
        }
        return 0;
    }

    std::unique_ptr<Session> console(new Session());
    Session& c = *console;
    if (!BuildOptions(commandLine, profiles, &c.options, problem, sizeof problem)) return UsageError(problem);
    if (c.options.castPath[0] != '\0') return ExportCast(c);
    if (c.options.replayPath[0] != '\0' && c.options.batch) return ReplayRecording(c);
    // A served line outlives its device: one absent at boot is waited for, not a restart loop.
    if (c.options.serve && c.options.reconnect) c.options.waitForDevice = true;
    const char* word = commandLine.positionalCount > 0 ? commandLine.positional[0] : nullptr;
    const char* profile =
        word != nullptr && !LooksLikeDevice(word) && HasProfile(profiles, word) ? word : nullptr;
    if (!ResolveMdnsDevice(&c.options, problem, sizeof problem)) {
        std::fprintf(stderr, "brisvane: %s\n", problem);
        return 2;
    }
    if (c.options.web[0] != '\0' && c.options.shareTokenPath[0] == '\0' && !c.options.webOpenWatch) {
        return UsageError("--web needs --share-token FILE or --web-open-watch: nobody could connect");
    }
    char message[PathCapacity + 256];
    if (!CheckHome(c.options.homeDirectory, message, sizeof message)) return Fail(message);
    if (!c.ui.history.Allocate(c.options.historyRows)) {
        std::snprintf(message, sizeof message,
                      "cannot keep %u rows of history (%llu MB): give --history fewer", c.options.historyRows,
                      (unsigned long long)(History::Cost(c.options.historyRows) >> 20));
        return Fail(message);
    }
    c.features.log.SetFileMode(ServedLogMode(c.options));
    c.features.log.SetRotation({c.options.logMaxBytes, c.options.logKeep});
    PlainFile logs = c.features.log.Open(c.options.logPath, c.options.rawLogPath, c.options.timestamps,
                                         message, sizeof message);
    if (logs == PlainFile::Failed) return Fail(message);
    if (logs != PlainFile::Opened) return UsageError(message);
    if (!StartStamps(c, message, sizeof message)) return UsageError(message);
    if (c.options.junitPath[0] != '\0') {
        if (!c.options.batch) return UsageError("--junit writes a batch run's results: give --batch too");
        const char* line = profile != nullptr            ? profile
                           : c.options.device[0] != '\0' ? c.options.device
                                                         : c.options.attach;
        if (!OpenJunitFile(c.features.junit, c.options.junitPath, line, message, sizeof message))
            return UsageError(message);
    }
    bool recordUsage = false;
    if (!StartRecording(c, BRISVANE_VERSION, ServedLogMode(c.options), message, sizeof message, &recordUsage))
        return recordUsage ? UsageError(message) : Fail(message);
    c.ansi.hide = !c.options.ansiShown;
    c.style.maps = c.options.maps;
    c.style.echo = c.options.echo;
    c.style.hex = c.options.hex;
    c.pump.SetLineDelay(c.options.lineDelay);
    c.link.controls = {c.options.line, c.options.hardwareFlow, int8_t(c.options.dtr), int8_t(c.options.rts)};
    if (c.options.replayPath[0] != '\0') {
        MakeReplayLine(c);
    } else if (c.options.attach[0] != '\0') {
        if (!MakeAttachLine(c, message, sizeof message)) return UsageError(message);
    } else {
        c.link.line = MakeLine(c.options.device, message, sizeof message);
    }
    if (!c.link.line) return UsageError(message);  // a network address that cannot be one
    OpenResult opened = OpenAtStart(c, message, sizeof message);
    ReplayOpened(c);
    bool goOn = opened == OpenResult::Open || opened == OpenResult::InProgress ||
                (opened == OpenResult::Missing &&
                 (c.options.waitForDevice || c.options.autoConnect != AutoConnect::Off));
    if (!goOn) {
        const char* first = commandLine.positional[0];
        bool nameless = first != nullptr && !LooksLikeDevice(first) && !HasProfile(profiles, first) &&
                        ClassifyDeviceName(first) == DeviceNameForm::Name;
        if (opened == OpenResult::Missing && nameless) {
            NoSuchName(first, profiles, message, sizeof message);
            return UsageError(message);
        }
        return Fail(message);
    }
    bool batch = c.options.batch || c.options.serve;  // --serve: no terminal at all
    if (!batch && (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO))) {
        std::fprintf(stderr, "brisvane: standard input or output is not a terminal: batch mode, no screen\n");
        batch = true;
    }
    if (!batch && !TerminalCanBeDriven(message, sizeof message)) return Fail(message);
    int signalPipe = InstallSignalPipe();
    if (signalPipe < 0) return Fail("cannot set up signal handling");

    if (c.options.portShareCount > 0 && !c.options.serve) {
        std::snprintf(message, sizeof message, "--share %s: a port accepter serves a line: give --serve too",
                      c.options.portShares[0]);
        return UsageError(message);
    }
    if (c.options.serve && (c.options.share[0] != '\0' || c.options.portShareCount > 0)) {
        if (!OpenServed(c, message, sizeof message)) return Fail(message);
        bool usage = false;
        if (!OpenPortShares(c, message, sizeof message, &usage)) {
            CloseServer(c.features.server);
            return usage ? UsageError(message) : Fail(message);
        }
    } else if (c.options.share[0] != '\0' &&
               !OpenShare(c.features.share, c.options.share, message, sizeof message)) {
        return Fail(message);
    }
    if (!StartWebPages(c, message, sizeof message)) {
        CloseShare(c.features.share);
        std::fprintf(stderr, "brisvane: %s\n", message);
        return 2;  // as a wrong command line: nobody could use the pages
    }
    if (c.options.serve) AdvertiseServed(c, profile);

    ResetTransferModes();
    ResetScreen();
    int64_t now = MonotonicMilliseconds();
    if (!StartBatch(c, batch && !c.options.serve, now)) {
        CloseShare(c.features.share);
        StopWebPages(c);
        CloseServer(c.features.server);
        return Fail("no memory for what waits for standard output");
    }
    if (c.options.serve) {
        c.front = ServeFrontEnd();
        SayServing(c);
    }
    if (c.options.scriptPath[0] != '\0' && !StartScript(c, c.options.scriptPath, now)) {
        if (!batch) std::fprintf(stderr, "brisvane: %s\n", c.notice.text);
        CloseShare(c.features.share);
        StopWebPages(c);
        CloseServer(c.features.server);
        return 1;
    }
    if (!batch) {
        if (!StartDisplay(c.ui.display)) {
            CloseShare(c.features.share);
            StopWebPages(c);
            CloseServer(c.features.server);
            return Fail("this terminal cannot be driven (is TERM set?)");
        }
        LearnTerminalKeys(&c.input.keyCodes);
    }

    RunLoop(c, signalPipe);
    StopScript(c);  // left mid-wait: its Lua state goes now, not with the process

    if (!batch) {
        StopDisplay(c.ui.display);
        PrintScreen(c.ui.display, screen.cells, stdout);  // left in the terminal's own scrollback
    }
    std::fflush(stdout);
    // The last writes' failures, now that the terminal is the shell's again.
    char closing[NoticeCapacity + PathCapacity];
    if (c.failedAtExit[0] != '\0') FailAtExit(c, c.failedAtExit);
    if (!CloseTransfers(c.features.transfers, closing, sizeof closing)) FailAtExit(c, closing);
    if (!c.features.log.Close(closing, sizeof closing)) FailAtExit(c, closing);
    if (!c.features.recorder.Close(closing, sizeof closing)) FailAtExit(c, closing);
    StopAdvertising(c.features.mdns);
    CloseShare(c.features.share);
    StopWebPages(c);
    ClosePortServer(c.features.ports);
    CloseServer(c.features.server);
    c.link.line->Close();
    if (c.features.batch.timedOut)
        std::fprintf(stderr, "brisvane: timed out after %u s\n", c.options.timeoutSeconds);
    if (c.link.startFailure[0] != '\0') {
        std::fprintf(stderr, "brisvane: %s\n", c.link.startFailure);
    } else if (c.exitCode == 1 && !c.options.reconnect && c.link.state != LinkState::Open) {
        std::fprintf(stderr, "brisvane: %s: the line went away (disconnected)\n",
                     c.options.device[0] != '\0' ? c.options.device : c.link.line->Name());
    }
    if (!FinishStamps(c, closing, sizeof closing)) FailAtExit(c, closing);
    if (!FinishTests(c, closing, sizeof closing)) FailAtExit(c, closing);
    if (c.options.stats) {
        char counters[256];
        FormatCounters(c.counters, MonotonicMilliseconds(), counters, sizeof counters);
        LineErrorCounts errors;
        AddLineErrors(c.link.line->ReadErrorCounts(&errors) == ControlResult::Done ? &errors : nullptr,
                      counters, sizeof counters);
        std::fprintf(stderr, "brisvane: %s\n", counters);
    }
    return c.exitCode;
}

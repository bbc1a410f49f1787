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
#include <cstdlib>
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
#include "console/program/console.h"
#include "console/program/lines.h"
#include "console/rules/line_words.h"
#include "console/line/device_list.h"
#include "console/line/serial_devices.h"
#include "console/program/loop.h"
#include "console/program/recorded.h"
#include "console/program/record_lines.h"
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

// The command line as one line of several sees it: its LINE and SETTINGS
// in place of the LABEL=LINE words, attach:TARGET as --attach TARGET.
CommandLine LineCommand(const CommandLine& given, const LineWord& word) {
    CommandLine line = given;
    line.positionalCount = 0;
    if (std::strncmp(word.line, "attach:", 7) == 0) {
        if (line.assignmentCount < CommandLine::MaxAssignments)
            line.assignments[line.assignmentCount++] = {"attach", word.line + 7};
    } else {
        line.positional[line.positionalCount++] = word.line;
    }
    if (word.settings[0] != '\0') line.positional[line.positionalCount++] = word.settings;
    return line;
}

// What the command line gives once (a log, a script, a recording, a share)
// belongs to the first line; a later line keeps only what its own profile names.
void KeepOwnFiles(const ConsoleOptions& first, ConsoleOptions& o) {
    char* fields[] = {o.logPath, o.rawLogPath, o.scriptPath, o.junitPath,
                      o.share,   o.web,        o.marksJson,  o.recordPath};
    const char* firsts[] = {first.logPath, first.rawLogPath, first.scriptPath, first.junitPath,
                            first.share,   first.web,        first.marksJson,  first.recordPath};
    for (unsigned i = 0; i < sizeof fields / sizeof fields[0]; ++i) {
        if (std::strcmp(fields[i], firsts[i]) == 0) fields[i][0] = '\0';
    }
    if (o.portShareCount == first.portShareCount) o.portShareCount = 0;
}

// Two lines on one device would steal each other's bytes: refused before
// anything opens.
bool SeveralLinesApart(const Console& c, char* message, unsigned capacity) {
    char real[LinesMax][PathCapacity];
    for (unsigned i = 0; i < c.lineCount; ++i) {
        const ConsoleOptions& o = c.lines[i]->options;
        const char* name = o.device[0] != '\0' ? o.device : o.attach;
        if (o.device[0] == '\0' || realpath(o.device, real[i]) == nullptr)
            std::snprintf(real[i], sizeof real[i], "%s", name);
        for (unsigned k = 0; k < i; ++k) {
            if (real[i][0] != '\0' && std::strcmp(real[i], real[k]) == 0) {
                std::snprintf(message, capacity, "lines %s and %s both name %.200s: give each line its own",
                              c.lines[k]->label, c.lines[i]->label, real[i]);
                return false;
            }
        }
    }
    return true;
}

// Everything one line needs before its line opens: history, logs, stamps,
// results, maps, and the line itself. `usage`: the fault is the
// command line's or the profile's.
bool StartLine(Session& s, bool several, const char* profile, char* message, unsigned capacity, bool* usage) {
    *usage = true;
    // A served line outlives its device: one absent at boot is waited for,
    // not a restart loop; of several lines a missing one waits while the others run.
    if ((s.options.serve || several) && s.options.reconnect) s.options.waitForDevice = true;
    if (!ResolveMdnsDevice(&s.options, message, capacity)) return false;
    if (!s.ui.history.Allocate(s.options.historyRows)) {
        std::snprintf(message, capacity, "cannot keep %u rows of history (%llu MB): give --history fewer",
                      s.options.historyRows,
                      (unsigned long long)(History::Cost(s.options.historyRows) >> 20));
        *usage = false;
        return false;
    }
    s.features.log.SetFileMode(ServedLogMode(s.options));
    s.features.log.SetRotation({s.options.logMaxBytes, s.options.logKeep});
    PlainFile logs =
        s.features.log.Open(s.options.logPath, s.options.rawLogPath, s.options.timestamps, message, capacity);
    if (logs != PlainFile::Opened) {
        *usage = logs != PlainFile::Failed;
        return false;
    }
    if (!StartStamps(s, message, capacity)) return false;
    if (s.options.junitPath[0] != '\0') {
        if (!s.options.batch) {
            std::snprintf(message, capacity, "--junit writes a batch run's results: give --batch too");
            return false;
        }
        const char* line = several                       ? s.label
                           : profile != nullptr          ? profile
                           : s.options.device[0] != '\0' ? s.options.device
                                                         : s.options.attach;
        if (!OpenJunitFile(s.features.junit, s.options.junitPath, line, message, capacity)) return false;
    }
    s.ansi.hide = !s.options.ansiShown;
    s.style.maps = s.options.maps;
    s.style.echo = s.options.echo;
    s.style.hex = s.options.hex;
    s.pump.SetLineDelay(s.options.lineDelay);
    s.link.controls = {s.options.line, s.options.hardwareFlow, int8_t(s.options.dtr), int8_t(s.options.rts)};
    *usage = true;
    if (s.link.replay != nullptr) {
        // made with the program's lines
    } else if (s.options.attach[0] != '\0') {
        if (!MakeAttachLine(s, message, capacity)) return false;
    } else {
        s.link.line = MakeLine(s.options.device, message, capacity);
    }
    return s.link.line != nullptr;  // false: a network address that cannot be one
}

// --input LABEL: the line batch input goes to (the first by default).
bool ChooseInputLine(Console& c, char* message, unsigned capacity) {
    if (c.options.inputLabel[0] == '\0') return true;
    for (unsigned i = 0; i < c.lineCount; ++i) {
        if (std::strcmp(c.lines[i]->label, c.options.inputLabel) == 0) {
            c.shown = i;
            return true;
        }
    }
    std::snprintf(message, capacity, "--input %s: no line has that label", c.options.inputLabel);
    return false;
}

// A line's share, served accepters, pages and advertisement.
bool ShareLine(Session& s, const char* profile, char* message, unsigned capacity, bool* usage) {
    *usage = false;
    if (s.options.portShareCount > 0 && !s.options.serve) {
        std::snprintf(message, capacity, "--share %s: a port accepter serves a line: give --serve too",
                      s.options.portShares[0]);
        *usage = true;
        return false;
    }
    if (s.options.serve && (s.options.share[0] != '\0' || s.options.portShareCount > 0)) {
        if (!OpenServed(s, message, capacity)) return false;
        if (!OpenPortShares(s, message, capacity, usage)) {
            CloseServer(s.features.server);
            return false;
        }
    } else if (s.options.share[0] != '\0' &&
               !OpenShare(s.features.share, s.options.share, message, capacity)) {
        return false;
    }
    if (!StartWebPages(s, message, capacity)) {
        CloseShare(s.features.share);
        *usage = true;  // as a wrong command line: nobody could use the pages
        return false;
    }
    if (s.options.serve) AdvertiseServed(s, profile);
    return true;
}

// Leaving before the loop: the shares of the first `count` lines close.
void StopLines(Console& c, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        Session& s = *c.lines[i];
        CloseShare(s.features.share);
        StopWebPages(s);
        CloseServer(s.features.server);
    }
}

void FailAtExit(Console& c, Session& s, const char* message) {
    if (s.label[0] != '\0') {
        std::fprintf(stderr, "brisvane: line %s: %s\n", s.label, message);
    } else {
        std::fprintf(stderr, "brisvane: %s\n", message);
    }
    if (c.exitCode == 0) c.exitCode = 1;
}

// A line's end: its files closed, its shares gone, and what failed said.
void CloseLine(Console& c, Session& s) {
    char closing[NoticeCapacity + PathCapacity];
    if (s.failedAtExit[0] != '\0') FailAtExit(c, s, s.failedAtExit);
    if (!CloseTransfers(s.features.transfers, closing, sizeof closing)) FailAtExit(c, s, closing);
    if (!s.features.log.Close(closing, sizeof closing)) FailAtExit(c, s, closing);
    if (!s.features.recorder.Close(closing, sizeof closing)) FailAtExit(c, s, closing);
    StopAdvertising(s.features.mdns);
    CloseShare(s.features.share);
    StopWebPages(s);
    ClosePortServer(s.features.ports);
    CloseServer(s.features.server);
    s.link.line->Close();
    if (s.features.batch.timedOut)
        std::fprintf(stderr, "brisvane: timed out after %u s\n", s.options.timeoutSeconds);
    if (s.link.startFailure[0] != '\0') {
        FailAtExit(c, s, s.link.startFailure);
    } else if (c.exitCode == 1 && !s.options.reconnect && s.link.state != LinkState::Open) {
        std::snprintf(closing, sizeof closing, "%s: the line went away (disconnected)",
                      s.options.device[0] != '\0' ? s.options.device : s.link.line->Name());
        FailAtExit(c, s, closing);
    }
    if (!FinishStamps(s, closing, sizeof closing)) FailAtExit(c, s, closing);
    if (!FinishTests(s, closing, sizeof closing)) FailAtExit(c, s, closing);
    if (s.options.stats) {
        char counters[256];
        FormatCounters(s.counters, MonotonicMilliseconds(), counters, sizeof counters);
        LineErrorCounts errors;
        AddLineErrors(s.link.line->ReadErrorCounts(&errors) == ControlResult::Done ? &errors : nullptr,
                      counters, sizeof counters);
        if (s.label[0] != '\0') {
            std::fprintf(stderr, "brisvane: line %s: %s\n", s.label, counters);
        } else {
            std::fprintf(stderr, "brisvane: %s\n", counters);
        }
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

    char message[PathCapacity + 256];
    std::unique_ptr<Console> console(new Console());
    Console& c = *console;
    LineWord named[LineWordsMax];
    unsigned namedCount = 0;
    bool several = commandLine.positionalCount > 0 && IsLineWord(commandLine.positional[0]);
    if (several && !ParseLineWords(commandLine.positional, commandLine.positionalCount, named, &namedCount,
                                   problem, sizeof problem))
        return UsageError(problem);
    if (!BuildOptions(several ? LineCommand(commandLine, named[0]) : commandLine, profiles, &c.options,
                      problem, sizeof problem))
        return UsageError(problem);
    if (!several && c.options.lines[0] != '\0') {
        if (!ParseLinesKey(c.options.lines, named, &namedCount, problem, sizeof problem))
            return UsageError(problem);
        several = namedCount > 1;
        if (several &&
            !BuildOptions(LineCommand(commandLine, named[0]), profiles, &c.options, problem, sizeof problem))
            return UsageError(problem);
    }
    if (!several) {
        namedCount = 1;
        named[0] = LineWord();
    } else if (c.options.serve || c.options.replayPath[0] != '\0' || c.options.castPath[0] != '\0') {
        return UsageError("several lines are for a session or a batch run: serve or replay one at a time");
    }
    // An interactive replay is the recording's lines, each under its label.
    std::shared_ptr<ReplayTape> tape;
    if (c.options.replayPath[0] != '\0' && !c.options.batch && c.options.castPath[0] == '\0') {
        tape = std::make_shared<ReplayTape>();
        if (!LoadReplayTape(*tape, c.options.replayPath, c.options.replaySpeed, message, sizeof message))
            return Fail(message);
        if (RecordingLineIndex(tape->header, c.options.inputLabel) < 0) {
            std::snprintf(message, sizeof message, "--input %s: the recording %s has no line of that label",
                          c.options.inputLabel, c.options.replayPath);
            return Fail(message);
        }
        several = tape->header.lines > 1;
        namedCount = several ? tape->header.lines : 1;
        for (unsigned i = 0; several && i < namedCount; ++i)
            std::snprintf(named[i].label, sizeof named[i].label, "%.*s", int(sizeof named[i].label - 1),
                          tape->header.line[i].label);
    }
    c.lineCount = namedCount;
    for (unsigned i = 0; i < namedCount; ++i) {
        c.lines[i].reset(new Session());
        Session& s = *c.lines[i];
        s.front = c.front.get();
        std::snprintf(s.label, sizeof s.label, "%s", named[i].label);
        if (!several || tape) {
            s.options = c.options;
        } else if (!BuildOptions(LineCommand(commandLine, named[i]), profiles, &s.options, problem,
                                 sizeof problem)) {
            std::snprintf(message, sizeof message, "line %s: %s", s.label, problem);
            return UsageError(message);
        }
        if (i > 0) KeepOwnFiles(c.lines[0]->options, s.options);
        if (tape) MakeReplayLine(s, tape, i);
        if (!MakeCoreRecords(&s.core)) return Fail("no memory for another line");
        c.table.lines[c.table.count++] = &s;
        s.all = &c.table;
    }
    c.current = c.lines[0].get();
    c.table.current = &c.current;
    Session& first = *c.lines[0];
    if (several) {
        if (!tape && !SeveralLinesApart(c, message, sizeof message)) return UsageError(message);
        if (!StartTimeline(c, message, sizeof message)) return UsageError(message);
    }
    if (c.options.castPath[0] != '\0') return ExportCast(first);
    if (c.options.replayPath[0] != '\0' && c.options.batch) return ReplayRecording(first);
    const char* word = commandLine.positionalCount > 0 ? commandLine.positional[0] : nullptr;
    const char* profile =
        !several && word != nullptr && !LooksLikeDevice(word) && HasProfile(profiles, word) ? word : nullptr;
    if (c.options.web[0] != '\0' && c.options.shareTokenPath[0] == '\0' && !c.options.webOpenWatch) {
        return UsageError("--web needs --share-token FILE or --web-open-watch: nobody could connect");
    }
    if (!CheckHome(c.options.homeDirectory, message, sizeof message)) return Fail(message);
    for (unsigned i = 0; i < c.lineCount; ++i) {
        Session& s = *c.lines[i];
        bool usage = false;
        if (!StartLine(s, several, profile, message, sizeof message, &usage)) {
            if (several) {
                char said[sizeof message + 32];
                std::snprintf(said, sizeof said, "line %s: %s", s.label, message);
                return usage ? UsageError(said) : Fail(said);
            }
            return usage ? UsageError(message) : Fail(message);
        }
    }
    bool usage = false;
    if (!StartRecordings(c.lines, c.lineCount, BRISVANE_VERSION, message, sizeof message, &usage))
        return usage ? UsageError(message) : Fail(message);
    for (unsigned i = 0; i < c.lineCount; ++i) {
        Session& s = *c.lines[i];
        OpenResult opened = OpenAtStart(s, message, sizeof message);
        ReplayOpened(s);
        bool goOn = opened == OpenResult::Open || opened == OpenResult::InProgress ||
                    (opened == OpenResult::Missing &&
                     (s.options.waitForDevice || s.options.autoConnect != AutoConnect::Off));
        if (goOn) continue;
        if (several) {
            char said[sizeof message + 32];
            std::snprintf(said, sizeof said, "line %s: %s", s.label, message);
            return Fail(said);
        }
        const char* firstWord = commandLine.positional[0];
        bool nameless = firstWord != nullptr && !LooksLikeDevice(firstWord) &&
                        !HasProfile(profiles, firstWord) &&
                        ClassifyDeviceName(firstWord) == DeviceNameForm::Name;
        if (opened == OpenResult::Missing && nameless) {
            NoSuchName(firstWord, profiles, message, sizeof message);
            return UsageError(message);
        }
        return Fail(message);
    }
    bool batch = c.options.batch || c.options.serve;  // --serve: no terminal at all
    if (!batch && (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO))) {
        if (c.options.replayPath[0] != '\0' && c.options.web[0] != '\0') {
            std::fprintf(stderr,
                         "brisvane: no terminal: the replay plays for the pages (--web %s) until stopped\n",
                         c.options.web);
        } else {
            std::fprintf(stderr,
                         "brisvane: standard input or output is not a terminal: batch mode, no screen\n");
        }
        batch = true;
    }
    if (!batch && !TerminalCanBeDriven(message, sizeof message)) return Fail(message);
    if (several && (batch || tape) && !ChooseInputLine(c, message, sizeof message))
        return UsageError(message);
    int signalPipe = InstallSignalPipe();
    if (signalPipe < 0) return Fail("cannot set up signal handling");

    for (unsigned i = 0; i < c.lineCount; ++i) {
        Session& s = *c.lines[i];
        bool usage = false;
        if (!ShareLine(s, profile, message, sizeof message, &usage)) {
            StopLines(c, i);
            return usage ? UsageError(message) : Fail(message);
        }
    }

    ResetTransferModes();
    ResetScreen();
    int64_t now = MonotonicMilliseconds();
    if (c.options.serve) {
        c.front = ServeFrontEnd();
    } else if (batch) {
        c.front = BatchFrontEnd();
    }
    for (unsigned i = 0; i < c.lineCount; ++i) {
        Session& s = *c.lines[i];
        s.front = c.front.get();
        // Several lines in batch mode: standard output is the timeline's, not a line's.
        if (!StartBatch(s, batch && !c.options.serve, several, now)) {
            StopLines(c, c.lineCount);
            return Fail("no memory for what waits for standard output");
        }
    }
    if (c.options.serve) SayServing(first);
    for (unsigned i = 0; i < c.lineCount; ++i) {
        Session& s = *c.lines[i];
        Enter(c, s);
        if (s.options.scriptPath[0] != '\0' && !StartScript(s, s.options.scriptPath, now)) {
            if (!batch) std::fprintf(stderr, "brisvane: %s\n", s.notice.text);
            StopLines(c, c.lineCount);
            return 1;
        }
    }
    Enter(c, first);
    if (!batch) {
        if (!StartDisplay(c.display)) {
            StopLines(c, c.lineCount);
            return Fail("this terminal cannot be driven (is TERM set?)");
        }
        KeyCodes codes = {};
        LearnTerminalKeys(&codes);
        for (unsigned i = 0; i < c.lineCount; ++i) c.lines[i]->input.keyCodes = codes;
    }

    RunLoop(c, signalPipe);
    for (unsigned i = 0; i < c.lineCount; ++i) {
        Enter(c, *c.lines[i]);
        StopScript(*c.lines[i]);  // left mid-wait: its Lua state goes now, not with the process
    }

    if (!batch) {
        StopDisplay(c.display);
        Enter(c, Shown(c));
        PrintScreen(c.display, screen.cells, stdout);  // left in the terminal's own scrollback
    }
    FinishTimeline(c);
    std::fflush(stdout);
    for (unsigned i = 0; i < c.lineCount; ++i) {
        Session& s = *c.lines[i];
        Enter(c, s);
        CloseLine(c, s);
    }
    return c.exitCode;
}

#include "console/rules/options.h"
#include "console/rules/line_words.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "console/line/serial_devices.h"
#include "console/rules/line_maps.h"
#include "console/rules/share_address.h"
#include "console/rules/web_auth.h"
#include "console/rules/log_rotation.h"

namespace {

bool Fail(char* problem, unsigned capacity, const char* what, const char* text) {
    std::snprintf(problem, capacity, "%s: '%.60s'", what, text);
    return false;
}

// A flag's value in a profile; a flag on the command line (null) is on.
bool ReadBoolean(const char* value, bool* result) {
    if (value == nullptr) {
        *result = true;
        return true;
    }
    static const char* const Yes[] = {"yes", "true", "on", "1"};
    static const char* const No[] = {"no", "false", "off", "0"};
    for (const char* word : Yes) {
        if (strcasecmp(value, word) == 0) {
            *result = true;
            return true;
        }
    }
    for (const char* word : No) {
        if (strcasecmp(value, word) == 0) {
            *result = false;
            return true;
        }
    }
    return false;
}

bool ReadNumber(const char* text, uint32_t maximum, uint32_t* result) {
    if (text[0] < '0' || text[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || value > maximum) return false;
    *result = uint32_t(value);
    return true;
}

bool SetSettings(ConsoleOptions* options, const char* text, char* problem, unsigned capacity) {
    const char* fault = nullptr;
    if (!ParseLineSettings(text, &options->line, &fault)) {
        std::snprintf(problem, capacity, "line settings '%.60s': %s", text, fault);
        return false;
    }
    FormatLineSettings(options->line, options->settingsText, sizeof options->settingsText);
    return true;
}

bool SetSwitch(Switch* target, const char* value) {
    bool on;
    if (!ReadBoolean(value, &on)) return false;
    *target = on ? Switch::On : Switch::Off;
    return true;
}

// Each setter takes the option's value (null for a flag on the command
// line) and returns null, or what is wrong with the value.
typedef const char* (*Setter)(ConsoleOptions& o, const char* value);

const char* SetBoolean(bool& target, const char* value, bool inverted) {
    bool on;
    if (!ReadBoolean(value, &on)) return "expected yes or no";
    target = on != inverted;
    return nullptr;
}
const char* SetNoReconnect(ConsoleOptions& o, const char* value) {
    return SetBoolean(o.reconnect, value, true);
}
const char* SetSevenBit(ConsoleOptions& o, const char* value) { return SetBoolean(o.sevenBit, value, false); }
const char* SetEightBit(ConsoleOptions& o, const char* value) { return SetBoolean(o.sevenBit, value, true); }
const char* SetWait(ConsoleOptions& o, const char* value) {
    return SetBoolean(o.waitForDevice, value, false);
}
const char* SetTimestamps(ConsoleOptions& o, const char* value) {
    return SetBoolean(o.timestamps, value, false);
}
const char* SetStampFormat(ConsoleOptions& o, const char* value) {
    if (!ParseStampFormat(value, &o.stampStyle))
        return "the format is 24h, 24h-start, 24h-delta, iso8601, epoch, epoch-usec or a strftime pattern";
    o.timestamps = true;
    return nullptr;
}
const char* SetStampSent(ConsoleOptions& o, const char* value) {
    return SetBoolean(o.stampSent, value, false);
}
const char* SetHexGap(ConsoleOptions& o, const char* value) {
    return ReadNumber(value, 3600000, &o.hexGap) ? nullptr : "the gap is a number of milliseconds";
}
// TEXT, or TEXT@SECONDS (12, 12s, 1.5s): a deadline. A text that ends in
// '@' and a number itself takes a deadline after it ("user@10@60s").
const char* SetMark(ConsoleOptions& o, const char* value) {
    size_t length = std::strlen(value);
    double deadline = 0;
    const char* at = std::strrchr(value, '@');
    if (at != nullptr && at[1] >= '0' && at[1] <= '9') {
        char* end = nullptr;
        double seconds = std::strtod(at + 1, &end);
        if (*end == 's') ++end;
        if (*end == '\0') {
            if (!(seconds > 0) || seconds > 1e6) return "a mark's deadline is 0 to 1000000 seconds: TEXT@12s";
            deadline = seconds;
            length = size_t(at - value);
        }
    }
    if (length == 0 || length >= MarkOptionCapacity) return "a mark is 1 to 127 characters of text";
    if (o.markCount == MaxMarkOptions) return "at most 16 marks";
    std::memcpy(o.marks[o.markCount], value, length);
    o.marks[o.markCount][length] = '\0';
    o.markDeadlines[o.markCount++] = deadline;
    return nullptr;
}
const char* SetMarksJson(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.marksJson, PathCapacity) ? nullptr : "file name too long";
}
const char* SetJunit(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.junitPath, PathCapacity) ? nullptr : "file name too long";
}
const char* SetRecord(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.recordPath, PathCapacity) ? nullptr : "file name too long";
}
const char* SetReplay(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.replayPath, PathCapacity) ? nullptr : "file name too long";
}
const char* SetReplaySpeed(ConsoleOptions& o, const char* value) {
    char* end = nullptr;
    double speed = std::strtod(value, &end);
    if (end == value || *end != '\0' || !(speed >= 0.01 && speed <= 10000))
        return "give a pace from 0.01 to 10000";
    o.replaySpeed = speed;
    return nullptr;
}
const char* SetExportCast(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.castPath, PathCapacity) ? nullptr : "file name too long";
}
const char* SetReplayAt(ConsoleOptions& o, const char* value) {
    const char* problem = "give seconds from the start, such as 12.5, or a clock time, such as 14:03:20";
    unsigned hours = 0, minutes = 0;
    int used = 0;
    if (std::sscanf(value, "%2u:%2u%n", &hours, &minutes, &used) == 2) {  // a clock time, the local one
        double seconds = 0;
        if (value[used] == ':') {
            char* end = nullptr;
            seconds = std::strtod(value + used + 1, &end);
            if (end == value + used + 1 || *end != '\0' || !(seconds >= 0 && seconds < 61)) return problem;
        } else if (value[used] != '\0') {
            return problem;
        }
        if (hours > 23 || minutes > 59) return problem;
        o.replayClock = hours * 3600.0 + minutes * 60.0 + seconds;
        o.replayAt = 0;
        return nullptr;
    }
    char* end = nullptr;
    double seconds = std::strtod(value, &end);
    if (end == value || *end != '\0' || !(seconds >= 0) || seconds > 1e9) return problem;
    o.replayAt = seconds;
    o.replayClock = -1;
    return nullptr;
}
const char* SetPulse(ConsoleOptions& o, const char* value) {
    const char* fault = nullptr;
    return ParsePulses(value, o.pulses, &o.pulseCount, &fault) ? nullptr : fault;
}
const char* SetBatch(ConsoleOptions& o, const char* value) { return SetBoolean(o.batch, value, false); }
const char* SetRaw(ConsoleOptions& o, const char* value) { return SetBoolean(o.raw, value, false); }
const char* SetScript(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.scriptPath, PathCapacity) ? nullptr : "file name too long";
}
const char* SetLinger(ConsoleOptions& o, const char* value) {
    return ReadNumber(value, 3600000, &o.lingerMilliseconds)
               ? nullptr
               : "linger is a number of milliseconds (0..3600000)";
}
const char* SetTimeout(ConsoleOptions& o, const char* value) {
    return ReadNumber(value, 31536000, &o.timeoutSeconds)
               ? nullptr
               : "the timeout is a number of seconds (0..31536000)";
}
const char* SetHex(ConsoleOptions& o, const char* value) { return SetBoolean(o.hex, value, false); }
const char* SetEcho(ConsoleOptions& o, const char* value) { return SetBoolean(o.echo, value, false); }
const char* SetStats(ConsoleOptions& o, const char* value) { return SetBoolean(o.stats, value, false); }
const char* SetMaps(ConsoleOptions& o, const char* value) {
    const char* fault = nullptr;
    if (value[0] == '\0') return "no map named: give maps such as lf-crlf, or none";
    return ParseLineMaps(value, &o.maps, &fault) ? nullptr : fault;
}
const char* SetLineDelay(ConsoleOptions& o, const char* value) {
    return ReadNumber(value, 60000, &o.lineDelay) ? nullptr
                                                  : "the line delay is a number of milliseconds (0..60000)";
}
const char* SetAutoConnect(ConsoleOptions& o, const char* value) {
    if (std::strcmp(value, "new") == 0) {
        o.autoConnect = AutoConnect::New;
    } else if (std::strcmp(value, "latest") == 0) {
        o.autoConnect = AutoConnect::Latest;
    } else if (std::strcmp(value, "off") == 0) {
        o.autoConnect = AutoConnect::Off;
    } else {
        return "auto-connect is new, latest or off";
    }
    return nullptr;
}
const char* SetExclude(ConsoleOptions& o, const char* value) {
    if (value[0] == '\0') return "an empty pattern";
    if (o.excludeCount == MaxExcludes) return "too many --exclude patterns (at most 16)";
    int n = std::snprintf(o.excludes[o.excludeCount], ExcludeCapacity, "%s", value);
    if (n < 0 || unsigned(n) >= ExcludeCapacity) return "pattern too long";
    ++o.excludeCount;
    return nullptr;
}
const char* SetRoot(char* target, const char* value) {
    if (value[0] == '\0') return "an empty folder name";
    return ExpandHome(value, target, PathCapacity) ? nullptr : "folder name too long";
}
const char* SetSysfsRoot(ConsoleOptions& o, const char* value) { return SetRoot(o.sysfsRoot, value); }
const char* SetDevRoot(ConsoleOptions& o, const char* value) { return SetRoot(o.devRoot, value); }

const char* SetHome(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.homeDirectory, PathCapacity) ? nullptr : "folder name too long";
}
const char* SetLog(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.logPath, PathCapacity) ? nullptr : "file name too long";
}
const char* SetRawLog(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.rawLogPath, PathCapacity) ? nullptr : "file name too long";
}
// "rfc2217:..." and "tcp-raw:...": port accepters, several beside one share.
bool IsPortShare(const char* value) {
    return std::strncmp(value, "rfc2217:", 8) == 0 || std::strncmp(value, "tcp-raw:", 8) == 0;
}

const char* SetPortShare(ConsoleOptions& o, const char* value) {
    if (o.portShareCount == MaxPortShares) return "too many port accepters (4 at most)";
    char tcp[PathCapacity];
    int n = std::snprintf(tcp, sizeof tcp, "tcp:%s", value + 8);
    if (n < 0 || unsigned(n) >= sizeof tcp) return "address too long";
    ShareAddress address;
    const char* problem;
    if (!ParseShareAddress(tcp, &address, &problem)) return problem;
    std::snprintf(o.portShares[o.portShareCount++], PathCapacity, "%s", value);
    return nullptr;
}

const char* SetShare(ConsoleOptions& o, const char* value) {
    if (IsPortShare(value)) return SetPortShare(o, value);
    // unix:~/PATH as well: the shell leaves a ~ after a colon alone.
    char path[PathCapacity], share[PathCapacity];
    bool home = std::strncmp(value, "unix:~", 6) == 0;
    if (home && !ExpandHome(value + 5, path, sizeof path)) return "socket name too long";
    int n = std::snprintf(share, PathCapacity, "%s%s", home ? "unix:" : "", home ? path : value);
    if (n < 0 || unsigned(n) >= PathCapacity) return "socket name too long";
    ShareAddress address, first;
    const char* problem;
    if (!ParseShareAddress(share, &address, &problem)) return problem;
    // One of each kind: a share of the other kind goes beside the first (the
    // command line's shares replace a profile's: see ApplyCommandLine).
    bool beside = o.share[0] != '\0' && ParseShareAddress(o.share, &first, &problem) &&
                  first.unixSocket != address.unixSocket;
    std::snprintf(beside ? o.shareOther : o.share, PathCapacity, "%s", share);
    return nullptr;
}
const char* SetPortPolicy(ConsoleOptions& o, const char* value) {
    if (std::strcmp(value, "watch") != 0 && std::strcmp(value, "write") != 0) return "must be watch or write";
    o.portWrite = std::strcmp(value, "write") == 0;
    return nullptr;
}
const char* SetPortOpen(ConsoleOptions& o, const char* value) {
    if (std::strcmp(value, "yes") != 0 && std::strcmp(value, "no") != 0) return "must be yes or no";
    o.portOpen = std::strcmp(value, "yes") == 0;
    return nullptr;
}
const char* SetPortReplay(ConsoleOptions& o, const char* value) {
    uint64_t bytes;
    const char* problem;
    if (!ParseLogSize(value, &bytes, &problem) && std::strcmp(value, "0") != 0) return problem;
    if (std::strcmp(value, "0") == 0) bytes = 0;
    if (bytes > (16u << 20)) return "at most 16M";
    o.portReplay = uint32_t(bytes);
    return nullptr;
}
const char* SetLines(ConsoleOptions& o, const char* value) {
    if (std::strlen(value) >= sizeof o.lines) return "too long";
    std::snprintf(o.lines, sizeof o.lines, "%s", value);
    return nullptr;
}

const char* SetTimeline(ConsoleOptions& o, const char* value) {
    if (value[0] == '\0' || std::strlen(value) >= sizeof o.timelinePath) return "give a file name";
    std::snprintf(o.timelinePath, sizeof o.timelinePath, "%s", value);
    return nullptr;
}

const char* SetInput(ConsoleOptions& o, const char* value) {
    if (value[0] == '\0' || std::strlen(value) >= sizeof o.inputLabel) return "give a line's label";
    std::snprintf(o.inputLabel, sizeof o.inputLabel, "%s", value);
    return nullptr;
}

const char* SetLayout(ConsoleOptions& o, const char* value) {
    if (std::strcmp(value, "one") == 0) {
        o.layout = LayoutChoice::One;
    } else if (std::strcmp(value, "side") == 0) {
        o.layout = LayoutChoice::Side;
    } else if (std::strcmp(value, "stack") == 0) {
        o.layout = LayoutChoice::Stack;
    } else {
        return "must be one, side or stack";
    }
    return nullptr;
}

const char* SetMdnsName(ConsoleOptions& o, const char* value) {
    if (value[0] == '\0') return "an empty name";
    if (std::strlen(value) >= sizeof o.mdnsName) return "at most 63 bytes (a DNS label)";
    std::snprintf(o.mdnsName, sizeof o.mdnsName, "%s", value);
    return nullptr;
}
const char* SetWeb(ConsoleOptions& o, const char* value) {
    char host[256];
    int port;
    const char* problem = nullptr;
    if (!ParseWebAddress(value, host, sizeof host, &port, &problem)) return problem;
    int n = std::snprintf(o.web, PathCapacity, "%s", value);
    return n < 0 || unsigned(n) >= PathCapacity ? "address too long" : nullptr;
}
const char* SetWebOpenWatch(ConsoleOptions& o, const char* value) {
    return SetBoolean(o.webOpenWatch, value, false);
}
const char* SetWebHost(ConsoleOptions& o, const char* value) {
    if (const char* problem = WebHostNameProblem(value)) return problem;
    if (o.webHostCount == WebMaxHostNames) return "at most 8 --web-host names";
    std::snprintf(o.webHosts[o.webHostCount++], WebHostNameCapacity, "%s", value);
    return nullptr;
}
const char* SetWebCert(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.webCert, PathCapacity) ? nullptr : "file name too long";
}
const char* SetWebKey(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.webKey, PathCapacity) ? nullptr : "file name too long";
}
const char* SetDevice(ConsoleOptions& o, const char* value) {
    if (value[0] == '\0') return "empty device name";
    if (ClassifyDeviceName(value) == DeviceNameForm::Usb && !ValidUsbName(value))
        return "a USB device is named usb:VID:PID or usb:VID:PID:SERIAL (hex)";
    return ExpandHome(value, o.device, PathCapacity) ? nullptr : "device name too long";
}
const char* SetInterval(ConsoleOptions& o, const char* value) {
    return ReadNumber(value, MaxCharacterInterval, &o.characterInterval)
               ? nullptr
               : "the interval is a number of milliseconds (0..10000)";
}
const char* SetPrefix(ConsoleOptions& o, const char* value) {
    return ParsePrefixKey(value, &o.prefixKey) ? nullptr : "the prefix must be a key such as C-a or ^B";
}
const char* SetFlow(ConsoleOptions& o, const char* value) {
    if (std::strcmp(value, "rtscts") == 0 || std::strcmp(value, "none") == 0) {
        o.hardwareFlow = value[0] == 'r';
        return nullptr;
    }
    return "flow control is rtscts or none";
}
const char* SetDtr(ConsoleOptions& o, const char* value) {
    return SetSwitch(&o.dtr, value) ? nullptr : "a modem line is on or off";
}
const char* SetRts(ConsoleOptions& o, const char* value) {
    return SetSwitch(&o.rts, value) ? nullptr : "a modem line is on or off";
}
const char* SetAnsi(ConsoleOptions& o, const char* value) {
    if (std::strcmp(value, "hide") != 0 && std::strcmp(value, "show") != 0)
        return "ANSI sequences are hide or show";
    o.ansiShown = value[0] == 's';
    return nullptr;
}
const char* SetHistory(ConsoleOptions& o, const char* value) {
    o.historyGiven = true;
    return ReadNumber(value, MaxHistoryRows, &o.historyRows)
               ? nullptr
               : "history is a number of rows from 0 to 1000000";
}

const char* SetServe(ConsoleOptions& o, const char* value) { return SetBoolean(o.serve, value, false); }
const char* SetAttach(ConsoleOptions& o, const char* value) {
    ShareAddress address;
    const char* problem;
    if (!ParseAttachAddress(value, &address, &problem)) return problem;
    return ExpandHome(value, o.attach, PathCapacity) ? nullptr : "address too long";
}
const char* SetWatch(ConsoleOptions& o, const char* value) { return SetBoolean(o.attachWatch, value, false); }
const char* SetTake(ConsoleOptions& o, const char* value) { return SetBoolean(o.attachTake, value, false); }
const char* SetToken(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.tokenPath, PathCapacity) ? nullptr : "file name too long";
}
const char* SetShareToken(ConsoleOptions& o, const char* value) {
    return ExpandHome(value, o.shareTokenPath, PathCapacity) ? nullptr : "file name too long";
}
// The names are looked up when the line is served, not here: reading stays pure.
const char* SetShareWrite(ConsoleOptions& o, const char* value) {
    return std::snprintf(o.shareWrite, PathCapacity, "%s", value) < int(PathCapacity) ? nullptr
                                                                                      : "list too long";
}
const char* SetShareWatch(ConsoleOptions& o, const char* value) {
    return std::snprintf(o.shareWatch, PathCapacity, "%s", value) < int(PathCapacity) ? nullptr
                                                                                      : "list too long";
}
const char* SetShareRawWatch(ConsoleOptions& o, const char* value) {
    return SetBoolean(o.shareRawWatch, value, false);
}
const char* SetLogMax(ConsoleOptions& o, const char* value) {
    const char* problem;
    return ParseLogSize(value, &o.logMaxBytes, &problem) ? nullptr : problem;
}
const char* SetLogKeep(ConsoleOptions& o, const char* value) {
    unsigned keep;
    const char* problem;
    if (!ParseLogKeep(value, &keep, &problem)) return problem;
    o.logKeep = keep;
    return nullptr;
}

const char* SetProtocolCommand(char* target, const char* value) {
    const char* comma = std::strchr(value, ',');
    if (comma == nullptr || comma == value || comma[1] == '\0') return "expected SEND,RECEIVE commands";
    int n = std::snprintf(target, ProtocolCommandCapacity, "%s", value);
    return n >= 0 && unsigned(n) < ProtocolCommandCapacity ? nullptr : "command too long";
}
const char* SetXmodem(ConsoleOptions& o, const char* value) {
    return SetProtocolCommand(o.protocolCommands[0], value);
}
const char* SetYmodem(ConsoleOptions& o, const char* value) {
    return SetProtocolCommand(o.protocolCommands[1], value);
}
const char* SetZmodem(ConsoleOptions& o, const char* value) {
    return SetProtocolCommand(o.protocolCommands[2], value);
}

enum class Kind : uint8_t {
    Flag,         // no value on the command line; yes/no in a profile
    Value,        // a value after it
    ProfileOnly,  // given positionally on the command line
    Special,      // the command line's own (--config, --list...), not a profile key
};

struct OptionSpec {
    const char* name;
    Kind kind;
    const char* argument;  // for --help
    const char* help;
    Setter set;
};

// Every long option, in --help's order.
const OptionSpec Specs[] = {
    {"flow", Kind::Value, "none|rtscts", "flow control: none (the default) or RTS/CTS", SetFlow},
    {"eight-bit", Kind::Flag, "", "send keys and text with bit 7 set, as the terminal makes them",
     SetEightBit},
    {"seven-bit", Kind::Flag, "", "send keys and text with bit 7 clear (the default)", SetSevenBit},
    {"home", Kind::Value, "DIR", "folder that file names for sending and capturing start from", SetHome},
    {"interval", Kind::Value, "MS", "pause after each byte of a text send or paste (0..10000)", SetInterval},
    {"line-delay", Kind::Value, "MS", "pause after each line of a text send or paste (0..60000)",
     SetLineDelay},
    {"map", Kind::Value, "MAPS", "line-end maps, a comma list: lf-crlf, cr-crlf, ignore-cr, del-bs, bs-del",
     SetMaps},
    {"echo", Kind::Flag, "", "show what is sent, as if the host echoed it", SetEcho},
    {"hex", Kind::Flag, "", "start with the hex view of what arrives", SetHex},
    {"prefix", Kind::Value, "KEY", "the menu key, such as C-a (the default) or ^B", SetPrefix},
    {"ansi", Kind::Value, "hide|show", "colour and other ANSI sequences hidden (the default) or shown",
     SetAnsi},
    {"history", Kind::Value, "ROWS", "rows kept after they scroll off (default 10000; 0: none)", SetHistory},
    {"log", Kind::Value, "FILE", "append what arrives to FILE as text", SetLog},
    {"log-raw", Kind::Value, "FILE", "append what arrives to FILE byte for byte", SetRawLog},
    {"log-max", Kind::Value, "SIZE", "start a new log at SIZE (64K, 10M), keeping --log-keep old ones",
     SetLogMax},
    {"log-keep", Kind::Value, "N", "old logs kept by --log-max: FILE.1 the newest (default 5)", SetLogKeep},
    {"timestamps", Kind::Flag, "", "start each line of the text log with the time", SetTimestamps},
    {"timestamp-format", Kind::Value, "FMT", "24h[-start|-delta], iso8601, epoch[-usec] or a strftime %-form",
     SetStampFormat},
    {"timestamps-sent", Kind::Flag, "", "log the lines sent too, stamped and marked apart", SetStampSent},
    {"timestamp-gap", Kind::Value, "MS", "hex view: a pause longer than MS starts a new, stamped row",
     SetHexGap},
    {"mark", Kind::Value, "TEXT[@S]", "note the time TEXT first arrives (repeatable): boot stages; due by S",
     SetMark},
    {"marks-json", Kind::Value, "FILE", "write the marks' times to FILE as JSON at exit", SetMarksJson},
    {"record", Kind::Value, "FILE", "record the session to FILE: bytes both ways and controls, timed",
     SetRecord},
    {"replay", Kind::Value, "FILE", "show a recording instead of a line (with --at and --batch: one screen)",
     SetReplay},
    {"at", Kind::Value, "TIME", "with --replay: the screen at TIME, seconds from the start or a clock time",
     SetReplayAt},
    {"speed", Kind::Value, "X", "with --replay: X times as fast as it happened (default 1)", SetReplaySpeed},
    {"export-cast", Kind::Value, "FILE", "write a recording as an asciicast (v2) on standard output",
     SetExportCast},
    {"pulse", Kind::Value, "DTR=MS", "pulse DTR or RTS for MS when the line opens (repeatable): a reset",
     SetPulse},
    {"stats", Kind::Flag, "", "print the line's counters on stderr at exit", SetStats},
    {"dtr", Kind::Value, "on|off", "set DTR when the line opens (and on every reconnect)", SetDtr},
    {"rts", Kind::Value, "on|off", "set RTS likewise (without RTS/CTS flow control)", SetRts},
    {"share", Kind::Value, "WHERE",
     "share the line: unix:PATH, tcp:[HOST:]PORT; with --serve also rfc2217: or tcp-raw:[HOST:]PORT",
     SetShare},
    {"serve", Kind::Flag, "", "no terminal: hold the line, log and share it until SIGTERM", SetServe},
    {"attach", Kind::Value, "WHERE", "use a served line: unix:PATH, tcp:HOST:PORT or its NAME", SetAttach},
    {"watch", Kind::Flag, "", "attach only to watch: never ask for the line", SetWatch},
    {"take", Kind::Flag, "", "attach and take the line from whoever writes", SetTake},
    {"token", Kind::Value, "FILE", "attach over TCP with the token in FILE", SetToken},
    {"share-token", Kind::Value, "FILE", "a served TCP share admits clients with the token in FILE",
     SetShareToken},
    {"share-write", Kind::Value, "WHO", "users and @groups who may write on a served line", SetShareWrite},
    {"share-watch", Kind::Value, "WHO", "users and @groups who may watch a served line", SetShareWatch},
    {"share-raw-watch", Kind::Flag, "", "clients that say no hello may watch a served line",
     SetShareRawWatch},
    {"lines", Kind::Value, "A,B,...", "several lines at once: the profiles named, each its own line",
     SetLines},
    {"timeline", Kind::Value, "FILE", "several lines: append every line's text to FILE, labelled, in order",
     SetTimeline},
    {"input", Kind::Value, "LABEL", "several lines: batch input goes to line LABEL; a replay shows it",
     SetInput},
    {"layout", Kind::Value, "one|side|stack",
     "several lines: two at once, side by side or stacked, given room", SetLayout},
    {"mdns-name", Kind::Value, "NAME", "a served line's name on the network (mDNS); its profile's by default",
     SetMdnsName},
    {"web", Kind::Value, "[HOST:]PORT", "show the line to browsers (127.0.0.1 unless HOST is named)", SetWeb},
    {"web-open-watch", Kind::Flag, "", "browsers may watch without the token (writing needs it)",
     SetWebOpenWatch},
    {"web-host", Kind::Value, "NAME", "a name browsers reach --web by, besides its address (repeatable)",
     SetWebHost},
    {"web-cert", Kind::Value, "FILE", "TLS certificate for --web (with --web-key)", SetWebCert},
    {"web-key", Kind::Value, "FILE", "TLS private key for --web", SetWebKey},
    {"wait", Kind::Flag, "", "start even when the device is missing, and wait for it", SetWait},
    {"no-reconnect", Kind::Flag, "", "exit when the line goes away instead of waiting for it",
     SetNoReconnect},
    {"xmodem-cmd", Kind::Value, "S,R", "XMODEM send and receive commands (default 'sx -vv -k,rx -vv -c')",
     SetXmodem},
    {"ymodem-cmd", Kind::Value, "S,R", "YMODEM commands (default 'sb -vv -k,rb -vvv')", SetYmodem},
    {"zmodem-cmd", Kind::Value, "S,R", "ZMODEM commands (default 'sz -vv,rz -vvv')", SetZmodem},
    {"script", Kind::Value, "FILE", "run the Lua script FILE beside the session", SetScript},
    {"junit", Kind::Value, "FILE", "batch: write the script's tests and the marks' deadlines to FILE (JUnit)",
     SetJunit},
    {"batch", Kind::Flag, "", "no screen: standard input to the line, what arrives to standard output",
     SetBatch},
    {"raw", Kind::Flag, "", "batch output as received, bit 7 and all", SetRaw},
    {"linger", Kind::Value, "MS", "batch: wait this long after the end of input (default 500)", SetLinger},
    {"timeout", Kind::Value, "S", "leave after S seconds with exit code 124", SetTimeout},
    {"auto-connect", Kind::Value, "new|latest",
     "no device named: take one that appears after the start, or the newest present", SetAutoConnect},
    {"exclude", Kind::Value, "GLOB", "leave out devices whose path, by-id name or driver match (repeatable)",
     SetExclude},
    {"sysfs-root", Kind::Value, "DIR", "where devices are described (default /sys)", SetSysfsRoot},
    {"dev-root", Kind::Value, "DIR", "where device nodes are (default /dev)", SetDevRoot},
    {"config", Kind::Special, "FILE", "read profiles from FILE", nullptr},
    {"list", Kind::Special, "", "show the serial devices present and the profiles", nullptr},
    {"list-profiles", Kind::Special, "", "only the profile names, one a line (for shell completion)",
     nullptr},
    {"list-options", Kind::Special, "", "each option and the kind of value it takes (for shell completion)",
     nullptr},
    {"help", Kind::Special, "", "this list", nullptr},
    {"version", Kind::Special, "", "the version", nullptr},
    {"device", Kind::ProfileOnly, "", "", SetDevice},
    {"settings", Kind::ProfileOnly, "", "", nullptr},  // SetSettings, which says more
    {"share-rfc2217", Kind::ProfileOnly, "", "", SetPortPolicy},
    {"share-rfc2217-open", Kind::ProfileOnly, "", "", SetPortOpen},
    {"rfc2217-replay", Kind::ProfileOnly, "", "", SetPortReplay},
};

// The kind of value an option takes, for completion, from its --help
// argument: a word list where that says "a|b", else by the placeholder.
struct ValueKind {
    const char* argument;
    const char* kind;
};
const ValueKind ValueKinds[] = {
    {"FILE", "file"},
    {"DIR", "folder"},
    {"MS", "number"},
    {"S", "number"},
    {"ROWS", "number"},
    {"MAPS", "list lf-crlf cr-crlf ignore-cr del-bs bs-del in-cr-crlf out-cr-crlf none"},
    {"KEY", "words C-a C-b C-t C-x"},
    {"FMT", "words 24h 24h-start 24h-delta iso8601 epoch epoch-usec"},
    {"DTR=MS", "words DTR=100 RTS=100"},
};

const OptionSpec* FindSpec(const char* name) {
    for (const OptionSpec& spec : Specs) {
        if (std::strcmp(spec.name, name) == 0) return &spec;
    }
    return nullptr;
}

}  // namespace

void DefaultOptions(ConsoleOptions* options) {
    std::memset(options, 0, sizeof *options);
    options->action = ProgramAction::Run;
    options->line = DefaultLineSettings;
    options->replayAt = -1;  // the end
    options->replayClock = -1;
    options->replaySpeed = 1;
    FormatLineSettings(options->line, options->settingsText, sizeof options->settingsText);
    options->prefixKey = DefaultPrefixKey;
    // Three wires and a Unix host are the usual first run: no flow
    // control, and keys without the bit 7 the terminal would set.
    options->hardwareFlow = false;
    options->sevenBit = true;
    options->reconnect = true;
    options->dtr = options->rts = Switch::Leave;
    options->historyRows = DefaultHistoryRows;
    options->historyGiven = false;
    // Verbose enough for progress on stderr; rx is asked for CRC, sx sends 1K blocks.
    std::snprintf(options->protocolCommands[0], ProtocolCommandCapacity, "sx -vv -k,rx -vv -c");
    std::snprintf(options->protocolCommands[1], ProtocolCommandCapacity, "sb -vv -k,rb -vvv");
    std::snprintf(options->protocolCommands[2], ProtocolCommandCapacity, "sz -vv,rz -vvv");
    options->lingerMilliseconds = DefaultLingerMilliseconds;
    options->logKeep = LogKeepDefault;
    std::snprintf(options->sysfsRoot, PathCapacity, "/sys");
    std::snprintf(options->devRoot, PathCapacity, "/dev");
}

bool SetOption(ConsoleOptions* o, const char* name, const char* value, char* problem, unsigned capacity) {
    const OptionSpec* spec = FindSpec(name);
    if (spec == nullptr || spec->kind == Kind::Special)
        return Fail(problem, capacity, "unknown option", name);
    if (spec->kind != Kind::Flag && value == nullptr)
        return Fail(problem, capacity, "missing value for", name);
    if (spec->set == nullptr) return SetSettings(o, value, problem, capacity);
    const char* fault = spec->set(*o, value);
    return fault == nullptr || Fail(problem, capacity, fault, value != nullptr ? value : "");
}

bool OptionHelp(unsigned index, char* text, unsigned capacity) {
    unsigned shown = 0;
    for (const OptionSpec& spec : Specs) {
        if (spec.kind == Kind::ProfileOnly) continue;
        if (shown++ != index) continue;
        char left[32];
        std::snprintf(left, sizeof left, "--%s%s%s", spec.name, spec.argument[0] ? " " : "", spec.argument);
        std::snprintf(text, capacity, "  %-18s %s", left, spec.help);
        return true;
    }
    return false;
}

bool OptionListing(unsigned index, char* text, unsigned capacity) {
    unsigned shown = 0;
    for (const OptionSpec& spec : Specs) {
        if (spec.kind == Kind::ProfileOnly || shown++ != index) continue;
        const char* kind = spec.argument[0] == '\0' ? "flag" : "text";
        for (const ValueKind& known : ValueKinds) {
            if (std::strcmp(spec.argument, known.argument) == 0) kind = known.kind;
        }
        int n = std::strchr(spec.argument, '|') != nullptr
                    ? std::snprintf(text, capacity, "--%s words %s", spec.name, spec.argument)
                    : std::snprintf(text, capacity, "--%s %s", spec.name, kind);
        for (int i = 0; i < n && unsigned(i) < capacity; ++i) {
            if (text[i] == '|') text[i] = ' ';
        }
        return true;
    }
    return false;
}

bool ReadCommandLine(int argc, const char* const* argv, CommandLine* line, char* problem, unsigned capacity) {
    std::memset(line, 0, sizeof *line);
    line->action = ProgramAction::Run;
    problem[0] = '\0';
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            line->action = ProgramAction::Help;
            return true;
        }
        if (std::strcmp(argument, "--version") == 0) {
            line->action = ProgramAction::Version;
            return true;
        }
        if (std::strcmp(argument, "--list") == 0) {
            line->action = ProgramAction::List;
            continue;
        }
        if (std::strcmp(argument, "--list-profiles") == 0) {
            line->action = ProgramAction::ListProfiles;
            continue;
        }
        if (std::strcmp(argument, "--list-options") == 0) {
            line->action = ProgramAction::ListOptions;
            continue;
        }
        if (argument[0] != '-' || argument[1] == '\0') {
            // Several lines are LABEL=LINE words, as many as a program shows and one more to refuse.
            unsigned most =
                line->positionalCount > 0 && IsLineWord(line->positional[0]) ? CommandLinePositionals : 2;
            if (line->positionalCount == most) {
                if (most == 2) return Fail(problem, capacity, "unexpected argument", argument);
                std::snprintf(problem, capacity, "more than %u lines: one program shows at most %u",
                              CommandLinePositionals - 1, CommandLinePositionals - 1);
                return false;
            }
            line->positional[line->positionalCount++] = argument;
            continue;
        }
        const char* name = argument + (argument[1] == '-' ? 2 : 1);
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(name, "config") == 0) {
            if (value == nullptr) return Fail(problem, capacity, "missing value after", argument);
            line->configPath = value;
            ++i;
            continue;
        }
        const OptionSpec* spec = argument[1] == '-' ? FindSpec(name) : nullptr;
        if (spec == nullptr || spec->kind == Kind::ProfileOnly || spec->kind == Kind::Special) {
            return Fail(problem, capacity, "unknown option", argument);
        }
        if (spec->kind == Kind::Flag) {
            value = nullptr;
        } else if (value == nullptr) {
            return Fail(problem, capacity, "missing value after", argument);
        } else {
            ++i;
        }
        // One share of each kind a run: a second of the same would silently win.
        for (unsigned j = 0; spec->set == SetShare && !IsPortShare(value) && j < line->assignmentCount; ++j) {
            if (line->assignments[j].name == spec->name && !IsPortShare(line->assignments[j].value) &&
                (std::strncmp(line->assignments[j].value, "unix:", 5) == 0) ==
                    (std::strncmp(value, "unix:", 5) == 0))
                return Fail(problem, capacity, "--share given twice (one unix: and one tcp: at most)", value);
        }
        if (line->assignmentCount == CommandLine::MaxAssignments) {
            return Fail(problem, capacity, "too many options", argument);
        }
        line->assignments[line->assignmentCount++] = {spec->name, value};
    }
    return true;
}

bool ExpandHome(const char* text, char* path, unsigned capacity) {
    const char* home = std::getenv("HOME");
    int n;
    if (text[0] == '~' && (text[1] == '/' || text[1] == '\0') && home != nullptr && home[0] != '\0') {
        n = std::snprintf(path, capacity, "%s%s", home, text + 1);
    } else {
        n = std::snprintf(path, capacity, "%s", text);
    }
    return n >= 0 && unsigned(n) < capacity;
}

bool ResolvePath(const char* base, const char* text, char* path, unsigned capacity) {
    bool fromHome = text[0] == '~' && (text[1] == '/' || text[1] == '\0');
    if (fromHome || text[0] == '/' || base[0] == '\0') return ExpandHome(text, path, capacity);
    int n =
        std::snprintf(path, capacity, "%s%s%s", base, base[std::strlen(base) - 1] == '/' ? "" : "/", text);
    return n >= 0 && unsigned(n) < capacity;
}

bool LooksLikeDevice(const char* text) {
    return std::strchr(text, '/') != nullptr;  // also rfc2217:// and tcp://
}

bool ApplyCommandLine(const CommandLine& line, bool firstIsProfile, ConsoleOptions* options, char* problem,
                      unsigned capacity) {
    options->action = line.action;
    // The command line's shares replace a profile's, both of them.
    for (unsigned i = 0; i < line.assignmentCount; ++i) {
        if (std::strcmp(line.assignments[i].name, "share") == 0 && !IsPortShare(line.assignments[i].value)) {
            options->share[0] = options->shareOther[0] = '\0';
            break;
        }
    }
    for (unsigned i = 0; i < line.assignmentCount; ++i) {
        const CommandLine::Assignment& a = line.assignments[i];
        if (!SetOption(options, a.name, a.value, problem, capacity)) return false;
    }
    unsigned next = firstIsProfile ? 1 : 0;
    // With --auto-connect a lone first word may be the settings.
    LineSettings settings;
    const char* fault;
    bool settingsFirst = options->autoConnect != AutoConnect::Off && line.positionalCount == 1 &&
                         !firstIsProfile && ParseLineSettings(line.positional[0], &settings, &fault);
    if (line.positionalCount > 0 && !firstIsProfile && !settingsFirst) {
        if (!SetOption(options, "device", line.positional[0], problem, capacity)) return false;
        next = 1;
    }
    if (line.positionalCount > next &&
        !SetOption(options, "settings", line.positional[next], problem, capacity)) {
        return false;
    }
    if (options->action != ProgramAction::Run) return true;
    if (options->autoConnect != AutoConnect::Off && options->device[0] != '\0') {
        std::snprintf(problem, capacity, "--auto-connect takes no device ('%.60s' given)", options->device);
        return false;
    }
    if (options->shareOther[0] != '\0' && !options->serve) {
        std::snprintf(problem, capacity,
                      "--share %.60s beside --share %.60s: two shares serve a line: give --serve",
                      options->shareOther, options->share);
        return false;
    }
    if (options->attachWatch && options->attachTake) {
        std::snprintf(problem, capacity, "--watch and --take ask for opposite things: give one");
        return false;
    }
    if (options->attach[0] != '\0' && (options->serve || options->batch)) {
        std::snprintf(problem, capacity, "--attach is the interactive program: not with --%s",
                      options->serve ? "serve" : "batch");
        return false;
    }
    bool recording = options->replayPath[0] != '\0' || options->castPath[0] != '\0';
    if (recording && (options->device[0] != '\0' || options->attach[0] != '\0')) {
        std::snprintf(problem, capacity, "--replay shows a recording: give no device");
        return false;
    }
    if (options->autoConnect == AutoConnect::Off && options->device[0] == '\0' &&
        options->attach[0] == '\0' && !recording) {
        std::snprintf(problem, capacity, "no device given (try --list or --auto-connect)");
        return false;
    }
    return true;
}

bool ParsePrefixKey(const char* text, uint8_t* key) {
    static const char* const ControlPrefixes[] = {"^", "C-", "ctrl-", "ctrl+"};
    for (const char* prefix : ControlPrefixes) {
        size_t length = std::strlen(prefix);
        if (strncasecmp(text, prefix, length) != 0 || std::strlen(text) != length + 1) continue;
        char c = text[length];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c < '@' || c > '_') return false;
        *key = uint8_t(c - '@');
        return true;
    }
    if (std::strlen(text) != 1 || (unsigned char)text[0] >= 0x80) return false;
    *key = uint8_t(text[0]);
    return true;
}

void FormatPrefixKey(uint8_t key, char* text, unsigned capacity) {
    if (key < 32) {
        std::snprintf(text, capacity, "Ctrl-%c", char(key + '@'));
    } else {
        std::snprintf(text, capacity, "%c", char(key));
    }
}

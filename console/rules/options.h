// What the user chose for a run of the Unix program, from the command line
//   brisvane [DEVICE|PROFILE] [SETTINGS] [--option value | --flag]...
//   brisvane --list | --list-profiles | --list-options | --help | --version
// and from the profiles file. Each long option is also a profile key, so
// one table (name, argument, help, setter) reads both and makes --help. Reading is pure: no file is touched and
// nothing is printed; problems come back as one line of text.
#ifndef BRISVANE_CONSOLE_OPTIONS_H
#define BRISVANE_CONSOLE_OPTIONS_H

#include <cstdint>

#include "console/rules/layout.h"
#include "console/rules/pulse_steps.h"
#include "console/rules/timestamp.h"
#include "console/rules/web_auth.h"
#include "link/settings_notation.h"

// ListProfiles: the profile names alone, one a line, for shell completion;
// ListOptions: the options and their kinds of value, likewise.
enum class ProgramAction : uint8_t { Run, Help, Version, List, ListProfiles, ListOptions };

const unsigned PathCapacity = 1024;
const unsigned SettingsTextCapacity = 64;
const unsigned ProblemCapacity = 256;
const unsigned ProtocolCommandCapacity = 256;
const uint32_t DefaultHistoryRows = 10000;
const uint32_t MaxHistoryRows = 1000000;
const uint8_t DefaultPrefixKey = 1;  // Ctrl-A
const uint32_t DefaultLingerMilliseconds = 500;
const unsigned MaxMarkOptions = 16;
const unsigned MaxPortShares = 4;
const unsigned MarkOptionCapacity = 128;

const unsigned MaxExcludes = 16;
const unsigned ExcludeCapacity = 256;

// --auto-connect: off (a device is named), a device that appears after the
// start, or the newest one present.
enum class AutoConnect : uint8_t { Off, New, Latest };

// A modem output's state at open: as the driver leaves it, or set.
enum class Switch : int8_t { Leave = -1, Off = 0, On = 1 };

struct ConsoleOptions {
    ProgramAction action;
    char device[PathCapacity];                // a path, rfc2217://HOST:PORT or tcp://HOST:PORT
    char settingsText[SettingsTextCapacity];  // as shown on the status line
    LineSettings line;
    char homeDirectory[PathCapacity];  // empty: the current folder
    uint32_t characterInterval;
    uint8_t prefixKey;  // the byte that opens the menu
    bool hardwareFlow;  // RTS/CTS
    bool reconnect;
    bool sevenBit;   // originated bytes go out with bit 7 clear
    bool ansiShown;  // --ansi show: ANSI sequences reach the interpreter
    bool waitForDevice;
    Switch dtr, rts;
    uint32_t historyRows;
    bool historyGiven;              // --history (or the profile's history) was set: an attach keeps that many
    char logPath[PathCapacity];     // text log; empty: none
    char rawLogPath[PathCapacity];  // raw log; empty: none
    bool timestamps;
    char share[PathCapacity];  // unix:PATH, tcp:PORT or tcp:HOST:PORT; empty: not shared
    // With --serve, a share of the other kind beside it (one unix: and one
    // tcp:, each with its own access rule, one roster); empty: none.
    char shareOther[PathCapacity];
    char web[PathCapacity];                               // --web [HOST:]PORT; empty: no pages
    bool webOpenWatch;                                    // pages may watch without the token
    char webCert[PathCapacity], webKey[PathCapacity];     // TLS for the pages
    char webHosts[WebMaxHostNames][WebHostNameCapacity];  // --web-host: names the pages answer to
    unsigned webHostCount;
    // "SEND,RECEIVE" command lines for XMODEM, YMODEM, ZMODEM (Protocol's order).
    char protocolCommands[3][ProtocolCommandCapacity];
    char scriptPath[PathCapacity];  // empty: none
    bool batch;                     // no screen: standard input and output instead
    bool raw;                       // batch output as received, bit 7 and all
    uint32_t lingerMilliseconds;    // batch: after the end of input
    uint32_t timeoutSeconds;        // 0: none
    bool hex;                       // the hex view from the start
    bool echo;                      // local echo
    bool stats;                     // the counters on stderr at exit
    uint8_t maps;                   // LineMap bits
    uint32_t lineDelay;             // ms after each line of a paste or text send
    // A served line (--serve) and attaching to one (--attach).
    bool serve;                         // no terminal: hold the line until SIGTERM
    char attach[PathCapacity];          // unix:PATH, tcp:HOST:PORT or NAME; empty: not attached
    bool attachWatch, attachTake;       // --watch, --take
    char tokenPath[PathCapacity];       // --token: the client's
    char shareTokenPath[PathCapacity];  // --share-token: the server's
    char shareWrite[PathCapacity];      // users and groups who may write, as given
    char shareWatch[PathCapacity];      // ... who may watch
    bool shareRawWatch;                 // clients without a hello may watch
    // Port accepters (--share rfc2217:... or tcp-raw:...), in order.
    char portShares[MaxPortShares][PathCapacity];
    unsigned portShareCount;
    bool portWrite;                   // share-rfc2217 = write: port clients may take a free line
    bool portOpen;                    // share-rfc2217-open: beyond the loopback addresses
    uint32_t portReplay;              // rfc2217-replay: bytes a port client gets first
    char lines[256];                  // several lines: the profiles named, comma-separated
    char timelinePath[PathCapacity];  // --timeline: every line's text, labelled
    char inputLabel[16];              // --input: batch input's line
    LayoutChoice layout;              // --layout: two lines at once, where the terminal has room
    char mdnsName[64];                // --mdns-name: a served line's name on the network; empty: its own
    uint64_t logMaxBytes;             // 0: the log never rotates
    uint32_t logKeep;                 // old logs kept
    AutoConnect autoConnect;
    char excludes[MaxExcludes][ExcludeCapacity];  // globs on path, by-id name or driver
    unsigned excludeCount;
    char sysfsRoot[PathCapacity];  // where devices are found: /sys and /dev
    char devRoot[PathCapacity];
    StampStyle stampStyle;                           // --timestamp-format
    bool stampSent;                                  // sent lines in the text log too
    uint32_t hexGap;                                 // ms: a longer pause starts a stamped hex row; 0 never
    char marks[MaxMarkOptions][MarkOptionCapacity];  // --mark patterns, in order
    double markDeadlines[MaxMarkOptions];            // seconds from the open (TEXT@SECONDS); 0: none
    unsigned markCount;
    char marksJson[PathCapacity];   // empty: none
    char recordPath[PathCapacity];  // --record: the session's recording; empty: none
    char replayPath[PathCapacity];  // --replay: a recording instead of a line
    double replayAt;                // --at: seconds from the recording's start; < 0: the end
    double replayClock;             // --at as a local clock time: seconds after midnight; < 0: none
    char castPath[PathCapacity];    // --export-cast: a recording to write as an asciicast
    double replaySpeed;             // --speed: the replay's pace (1: as it happened)
    char junitPath[PathCapacity];   // --junit: the tests' and deadlines' results; empty: none
    PulseStep pulses[MaxPulses];    // at the first open, in order
    unsigned pulseCount;
};

void DefaultOptions(ConsoleOptions* options);

// Sets the long option `name` ("flow", "seven-bit", ... and "device",
// "settings") from `value`. A flag given on the command line has a null
// value; in a profile it takes yes/no, true/false, on/off or 1/0. Returns
// false with a one-line problem for an unknown name or a bad value.
bool SetOption(ConsoleOptions* options, const char* name, const char* value, char* problem,
               unsigned capacity);

// The `index`th line of --help's option list ("  --flow F   rtscts..."), or
// false past the last.
bool OptionHelp(unsigned index, char* text, unsigned capacity);

// The `index`th line of --list-options, or false past the last: the option
// and the kind of value it takes, "--NAME KIND [WORDS...]", KIND one of
// flag (none), words (one of the WORDS), list (a comma list of them), file,
// folder, number, text. Made from the same table, so completion cannot go
// stale.
bool OptionListing(unsigned index, char* text, unsigned capacity);

// The command line taken apart, before any profile is read.
const unsigned CommandLinePositionals = 10;  // several lines: up to 9 LABEL=LINE words (and one too many)

struct CommandLine {
    static const unsigned MaxAssignments = 64;
    ProgramAction action;
    const char* positional[CommandLinePositionals];  // DEVICE or PROFILE, then SETTINGS; or LABEL=LINE words
    unsigned positionalCount;
    const char* configPath;  // --config, or null
    struct Assignment {
        const char* name;   // without the dashes
        const char* value;  // null for a flag
    } assignments[MaxAssignments];
    unsigned assignmentCount;
};

// Splits argv; checks that each option exists and has its value, and that
// --share names at most one unix: and one tcp: (port accepters aside).
// Values themselves are checked when applied.
bool ReadCommandLine(int argc, const char* const* argv, CommandLine* line, char* problem, unsigned capacity);

// Applies the command line's options and positional arguments over what
// `options` already holds (defaults, then profiles). `firstIsProfile` says
// the first positional argument named a profile, so it is not a device.
bool ApplyCommandLine(const CommandLine& line, bool firstIsProfile, ConsoleOptions* options, char* problem,
                      unsigned capacity);

// `text` with "~" or a leading "~/" standing for the home folder, as a
// shell would have it; false when it does not fit.
bool ExpandHome(const char* text, char* path, unsigned capacity);

// `text` relative to `base` (the current folder when `base` is empty)
// unless absolute; a leading "~/" (or "~" alone) is the user's home folder.
// Returns false when the result does not fit.
bool ResolvePath(const char* base, const char* text, char* path, unsigned capacity);

// True when `text` must be a device, never a profile name: a path or a
// network form.
bool LooksLikeDevice(const char* text);

// Reads a key name: "^A", "C-a", "ctrl-a" or "Ctrl+A" for a control key, or
// a single character. Returns false when it names no single byte.
bool ParsePrefixKey(const char* text, uint8_t* key);

// "Ctrl-A" for 1, and the character itself otherwise.
void FormatPrefixKey(uint8_t key, char* text, unsigned capacity);

#endif

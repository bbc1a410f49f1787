// One line's whole state: its link, its screen side (history, view,
// prompt, menu), its features (transfers, logs, share, script, ...) and what
// they share (the output pump, the notice, the counters, the receive chain).
// The program (console.h) holds one per line and gives the user's keys to
// the one shown; nearly everything below the loop takes a Session, or only
// the part of it it works on.
//
// Floors, top down; a file includes its own floor or those below, and
// screen and features do not include each other (cmake/CheckConsoleLayers.cmake):
//   program/   the program and its sessions, the front ends, the loop,
//              commands, input, send, line controls, connection, script,
//              batch, status, main
//   screen/    display, the receive chain      features/  transfers, protocol
//                                                          runs, logs, share, sinks
//   rules/     pure rules and small records: filters, maps, the output pump,
//              history, keys, menu, prompt, options, notices, the timeline
//   line/      the line: a local device or a network line
#ifndef BRISVANE_CONSOLE_SESSION_H
#define BRISVANE_CONSOLE_SESSION_H

#include <cstdint>
#include <cwchar>
#include <memory>
#include <vector>

#include "console/rules/ansi_filter.h"
#include "console/features/batch_output.h"
#include "console/rules/bit7_watch.h"
#include "console/rules/counters.h"
#include "console/screen/core_records.h"
#include "console/program/front_end.h"
#include "console/program/line_table.h"
#include "console/rules/history.h"
#include "console/rules/history_view.h"
#include "console/screen/terminal_keys.h"
#include "console/line/device_watch.h"
#include "console/line/line.h"
#include "console/features/junit_file.h"
#include "console/features/log.h"
#include "console/features/marks.h"
#include "console/features/mdns/advertise.h"
#include "console/rules/menu.h"
#include "console/rules/notice.h"
#include "console/rules/options.h"
#include "console/rules/output_pump.h"
#include "console/program/prompt.h"
#include "console/features/protocol_run.h"
#include "console/rules/pulse_steps.h"
#include "console/rules/reaction.h"
#include "console/screen/receive.h"
#include "console/features/receive_sinks.h"
#include "console/features/recorder.h"
#include "console/features/replay_line.h"
#include "console/rules/schedule.h"
#include "console/rules/script_state.h"
#include "console/features/share.h"
#include "console/features/web/web_server.h"
#include "console/features/serve/attach_line.h"
#include "console/features/serve/port_server.h"
#include "console/features/serve/server.h"
#include "console/rules/text_rules.h"
#include "console/features/transfers.h"

enum class LinkState : uint8_t {
    Open,        // reads and writes flow
    Connecting,  // a network line is being made
    Down,        // gone or not there yet: retried at retryAt
};

// What the prompt on the status line is asking for.
enum class PromptPurpose : uint8_t {
    None,
    SendName,
    CaptureName,
    Search,
    Settings,
    ProtocolName,
    ScriptName,
    HexBytes,
    Maps,
    ReplayTime
};

const unsigned ReadBlockSize = 16384;
const unsigned LabelCapacity = 16;
// Output that waited this long without the line taking a byte is stuck.
const int64_t OutputStalledMilliseconds = 1000;

// The line and its controls: making it, what it takes and gives, its
// timed ends. connection.cpp, line_controls.cpp and the loop's reads and
// writes work on it.
struct LinkPart {
    LineControls controls;  // in force now, live changes included; DTR and RTS's one record
    std::unique_ptr<Line> line;
    AttachLine* attached = nullptr;  // --attach: the line, as a served line's client
    ReplayLine* replay = nullptr;    // --replay: the line, a recording played back
    LinkState state = LinkState::Down;
    bool everOpened = false;  // "waiting for" before, "disconnected" after
    int64_t retryAt = NoDeadline;
    int64_t connectStarted = 0;
    int64_t openedAt = 0;
    unsigned retryDelay = 0;                 // ms, grows for network lines
    char startFailure[NoticeCapacity] = "";  // why the first open failed: stderr at exit
    DeviceWatch devices;                     // --auto-connect: devices coming and going
    std::vector<std::string> passedOver;     // identities --auto-connect leaves alone
    int64_t rescanAt = NoDeadline;           // devices changed: look again then
    int64_t breakEndsAt = NoDeadline;
    int64_t dtrBackAt = NoDeadline;  // the end of a DTR pulse
    int64_t outputWaitingSince = NoDeadline;
    bool heldReported = false;  // "output held" said for this wait
    int64_t lastWrite = 0;      // when the line last took bytes
    bool readMore = false;      // the last read stopped with input left
    // The line hung up while a full sink held its reading: left out of the
    // wait until there is room, then read to its end.
    bool heldHangUp = false;
    uint8_t readBlock[ReadBlockSize];
};

// What the user's keys and pastes are in the middle of, for this line.
struct InputPart {
    KeyCodes keyCodes = {};        // the user's terminal's, learnt once for every line
    bool inPaste = false;          // between a paste's brackets
    unsigned pasteEndMatched = 0;  // bytes of the end bracket seen so far
    mbstate_t pasteDecode = {};    // a character split across reads
    bool pasteMidCharacter = false;
    uint64_t pasteTotal = 0;  // bytes of the paste being sent
    TextLineEnds pasteLineEnds;
    char hexInput[PathCapacity] = "";  // the last hex bytes sent, offered again
};

// The screen side: what is drawn and asked on it while the line is shown.
struct ScreenPart {
    Prompt prompt = {};
    PromptPurpose promptFor = PromptPurpose::None;
    bool tabListed = false;  // the last key was a Tab that listed nothing new
    MenuLevel menu = MenuLevel::Closed;
    bool helpOpen = false;  // the help page is shown; any key leaves it
    Cell helpCells[ScreenCells];
    History history;
    HistoryView view;
    bool redraw = false;  // something shown changed: the next frame draws it
};

// What runs beside the session and holds resources of its own.
struct FeaturesPart {
    Transfers transfers;
    ProtocolRun protocol;                       // an XMODEM, YMODEM or ZMODEM transfer through its command
    Protocol protocolAsked = Protocol::Ymodem;  // while its file name is asked for
    ProtocolDirection directionAsked = ProtocolDirection::Send;
    ReceiveLog log;
    Marks marks;                      // --mark and a script's mark(): boot timers
    PulseRun pulses;                  // --pulse at the first open
    Share share;                      // --share: other programs on the line
    Server server;                    // --serve's --share: attached clients, with roles
    PortServer ports;                 // --serve's rfc2217: and tcp-raw: accepters
    Recorder recorder;                // --record: this line's file; the first line's holds them all
    Recorder* recording = &recorder;  // where this line's events go
    uint8_t recordedLine = 0;         // this line's index in that recording
    uint32_t recordedMarks = 0;       // marks already in the recording
    uint64_t recordedSnapshotAt = 0;  // bytes received at the recording's last snapshot
    int64_t recordedPollAt = 0;       // ms: the modem inputs and error counts looked at next
    int recordedModem = -1;           // the modem inputs last recorded; -1: none since the line opened
    LineErrorCounts recordedErrors = {};
    std::unique_ptr<Web> web;  // --web: browser pages, when serving
    Advertiser mdns;           // a served line's services on the network
    Script script;
    JunitFile junit;  // --junit: written at exit
    Batch batch;
    // A replay's marks, as the pages list them.
    std::vector<WebReplayMark> webReplayMarks;
};

struct Session {
    ConsoleOptions options;
    LinkPart link;
    InputPart input;
    ScreenPart ui;
    FeaturesPart features;
    FrontEnd* front = nullptr;       // the program's: says what this line has to say
    char label[LabelCapacity] = "";  // with several lines, the name it was given
    const LineTable* all = nullptr;  // the program's lines (a script may name one); set at start-up
    CoreRecords core = {};           // the core's records while another line is worked on

    // Shared by the parts: what waits for the line, what is said, what is counted.
    OutputPump pump;
    Notice notice = {};
    Counters counters;
    ReceiveStyle style;  // line-end maps, the hex view, local echo
    AnsiFilter ansi;     // between the line and the interpreter
    Bit7Watch bit7;      // does the host take the keys' bit 7 for data?

    int exitCode = 0;                        // when a reaction of this line's says Quit
    char failedAtExit[NoticeCapacity] = "";  // said on stderr once the terminal is restored

    // The receive chain, in its order (receive.h); the front end adds its
    // own sink at start-up.
    RawLogSink rawLogSink{features.log};
    RawCaptureSink rawCaptureSink;
    ShareSink shareSink{features.share, notice};
    ServeSink serveSink{features.server};
    PortSink portSink{features.ports};
    RecorderSink recorderSink{features.recording, features.recordedLine};
    TextLogSink textLogSink{features.log};
    TextCaptureSink textCaptureSink{features.transfers.captureLineEnds};
    MarksSink marksSink{features.marks};
    ReceiveChain chain{style, ansi, {ui.history, pump, options.sevenBit, counters, features.script.text}};

    Session() {
        AddSink(chain, SinkStage::Raw, rawLogSink);
        AddSink(chain, SinkStage::Raw, rawCaptureSink);
        AddSink(chain, SinkStage::Raw, shareSink);
        AddSink(chain, SinkStage::Raw, serveSink);
        AddSink(chain, SinkStage::Raw, portSink);
        AddSink(chain, SinkStage::Raw, recorderSink);
        AddSink(chain, SinkStage::Text, textLogSink);
        AddSink(chain, SinkStage::Text, textCaptureSink);
        AddSink(chain, SinkStage::Text, marksSink);
    }
    ~Session() { FreeCoreRecords(&core); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

// The one way out: records the exit code and asks the loop to leave the
// program.
inline Reaction Leave(Session& console, int exitCode) {
    console.exitCode = exitCode;
    return Quit;
}

#endif

// The Unix program's running state: one object, made by main and passed
// down by reference to what needs it. Modules below it take only the parts
// they need; commands, keys and the loop take the whole.
//
// Layering, top down (nothing calls upwards):
//   main -> loop -> input, commands, connection, status, script, batch
//        -> transfers, prompt, menu, keys, history view, receive, log
//        -> line (local or network), share, output pump, history, display, files
#ifndef BRISVANE_CONSOLE_CONSOLE_H
#define BRISVANE_CONSOLE_CONSOLE_H

#include <cstdint>
#include <cwchar>
#include <memory>

#include "console/ansi_filter.h"
#include "console/batch.h"
#include "console/bit7_watch.h"
#include "console/counters.h"
#include "console/display.h"
#include "console/history.h"
#include "console/history_view.h"
#include "console/keys.h"
#include "console/line/line.h"
#include "console/log.h"
#include "console/menu.h"
#include "console/notice.h"
#include "console/options.h"
#include "console/output_pump.h"
#include "console/prompt.h"
#include "console/protocol_run.h"
#include "console/receive.h"
#include "console/schedule.h"
#include "console/script.h"
#include "console/share.h"
#include "console/text_rules.h"
#include "console/transfers.h"
#include "console/web/web_server.h"

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
    Maps
};

const unsigned ReadBlockSize = 16384;
// Output that waited this long without the line taking a byte is stuck.
const int64_t OutputStalledMilliseconds = 1000;

struct Console {
    ConsoleOptions options;
    LineControls controls;  // in force now, live changes included
    std::unique_ptr<Line> line;
    LinkState link = LinkState::Down;
    bool everOpened = false;  // "waiting for" before, "disconnected" after
    int64_t retryAt = NoDeadline;
    int64_t connectStarted = 0;
    int64_t openedAt = 0;
    unsigned retryDelay = 0;                 // ms, grows for network lines
    char startFailure[NoticeCapacity] = "";  // why the first open failed: stderr at exit

    OutputPump pump;
    Transfers transfers;
    ProtocolRun protocol;                       // an XMODEM, YMODEM or ZMODEM transfer through its command
    Protocol protocolAsked = Protocol::Ymodem;  // while its file name is asked for
    ProtocolDirection directionAsked = ProtocolDirection::Send;
    Prompt prompt = {};
    PromptPurpose promptFor = PromptPurpose::None;
    bool tabListed = false;  // the last key was a Tab that listed nothing new
    MenuLevel menu = MenuLevel::Closed;
    Notice notice = {};
    bool helpOpen = false;  // the help page is shown; any key leaves it
    Cell helpCells[ScreenCells];
    KeyCodes keyCodes = {};

    bool inPaste = false;          // between a paste's brackets
    unsigned pasteEndMatched = 0;  // bytes of the end bracket seen so far
    mbstate_t pasteDecode = {};    // a character split across reads
    bool pasteMidCharacter = false;
    // Keys read past a paste's end bracket, handed back to curses a few at
    // a time; cursesHolds: some were and curses has not run dry since.
    uint8_t keyBacklog[4096];
    unsigned backlogStart = 0, backlogEnd = 0;
    bool cursesHolds = false;
    uint64_t pasteTotal = 0;  // bytes of the paste being sent
    TextLineEnds pasteLineEnds;

    ReceiveStyle style;  // line-end maps, the hex view, local echo
    Counters counters;
    char hexInput[PathCapacity] = "";  // the last hex bytes sent, offered again

    History history;
    HistoryView view;
    ReceiveLog log;
    Share share;               // --share: other programs on the line
    std::unique_ptr<Web> web;  // --web: browser pages, when serving
    Display display;
    AnsiFilter ansi;  // between the line and the interpreter
    Bit7Watch bit7;   // does the host take the keys' bit 7 for data?

    bool dtr = true, rts = true;  // modem outputs as last set
    int64_t breakEndsAt = NoDeadline;
    int64_t dtrBackAt = NoDeadline;  // the end of a DTR pulse
    int64_t outputWaitingSince = NoDeadline;
    bool heldReported = false;  // "output held" said for this wait

    bool redraw = false;    // flush at the next frame
    bool readMore = false;  // the last read stopped with input left
    bool keysMore = false;  // the last key read stopped with keys left
    int64_t lastWrite = 0;  // when the line last took bytes
    int64_t lastFlush = 0;
    Script script;
    Batch batch;

    bool quit = false;
    int exitCode = 0;
    char failedAtExit[NoticeCapacity] = "";  // said on stderr once the terminal is restored
    uint8_t readBlock[ReadBlockSize];
};

// Where received (and echoed) bytes go.
inline ReceiveTargets ReceiveTargetsOf(Console& c) {
    return {c.history,
            c.log,
            c.pump,
            c.transfers.captureLineEnds,
            c.options.sevenBit,
            c.style,
            c.counters,
            ScriptRunning(c.script) ? &c.script.text : nullptr,
            c.ansi};
}

#endif

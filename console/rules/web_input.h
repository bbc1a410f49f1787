// What a browser page sends, taken apart: pure, no descriptors, so tests
// push a message and expect bytes or a command.
//
// A page sends short text messages, one letter then its argument:
//   k<mods> <key>   a key: <mods> any of "C" (Ctrl), "S" (Shift), "A" (Alt)
//                   or "-" for none; <key> is the browser's key name, with
//                   "Numpad" keys named by their place ("Numpad5", "NumpadAdd")
//   p<text>         a paste: its text (UTF-8)
//   b               a BREAK
//   d0 d1 r0 r1     DTR or RTS off or on
//   t               take the line
//   h<row>          show history from row <row>; "h-" back to the live screen
//   j<ms>           a replay: go to <ms> milliseconds from the recording's start
//   z1 z0           a replay: pause, or play on
// The key becomes the bytes the terminal sends for it (link/key_sequences.h,
// F1-F3 as PF1-PF3, Enter as CR, Backspace as 0x08, Ctrl with a letter as
// its control byte). Anything else is Ignored, never guessed at.
#ifndef BRISVANE_CONSOLE_WEB_INPUT_H
#define BRISVANE_CONSOLE_WEB_INPUT_H

#include <cstdint>

enum class WebCommand : uint8_t {
    Ignore,  // malformed, or a key the terminal has no counterpart for
    Bytes,   // bytes for the line: a key, or a paste when `paste`
    Break,
    Dtr,  // `on` says which way
    Rts,
    Take,     // take the line
    History,  // `row`: first row to show, or live when `live`
    Seek,     // a replay's time: `time`, in ms
    Pause,    // a replay paused when `on`, playing otherwise
};

const unsigned WebPasteCapacity = 16384;  // bytes of one paste, after conversion

struct WebInput {
    WebCommand command = WebCommand::Ignore;
    bool paste = false;
    bool on = false;
    bool live = false;
    uint64_t row = 0;
    uint64_t time = 0;
    unsigned count = 0;  // bytes in `bytes`
    uint8_t bytes[WebPasteCapacity];
};

// Parses one message of `length` bytes into `input`. A paste turns CR LF
// and LF into CR, as typed Enter, and keeps characters up to U+00FF as one
// byte each; other characters are left out (it says how many in `dropped`).
void ParseWebInput(const char* message, unsigned length, WebInput* input, unsigned* dropped);

#endif

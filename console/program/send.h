// The one way onto the line for bytes that users and programs give. Every
// producer calls Send with its source; the table behind it says, per
// source, whether it is refused while an XMODEM, YMODEM or ZMODEM transfer
// runs (or held until it ends) or while the history is shown, whether the sent line-end maps, the
// terminal's bit-7 rule and local echo apply, and what happens when the
// line is not open or there is no room: dropped with a notice and counted,
// or kept by the producer to be given again. Refusals and their notices
// come from here alone.
//
// A new producer (an attached client, a browser page) is one more source
// and one more row.
//
// Attached to a served line (--attach), the served line's byte rules are
// the ones that count: a row with maps or bit 7 queues its bytes as the
// user gave them, marked typed, and the server sends them by its Attached
// Typed row; a row with neither (hex input, send_raw), and the transfers'
// and raw and binary file sends' stage, go as exact bytes, by its Attached
// row. A text file's send goes as text (FeedSend): its lines end and its
// pace is kept here, its bit 7 is the served line's (no maps, as a text send
// on the line itself), by the Attached Text row.
#ifndef BRISVANE_CONSOLE_SEND_H
#define BRISVANE_CONSOLE_SEND_H

#include <cstdint>

struct Session;

enum class SendSource : uint8_t {
    Key,            // typed: one key's bytes
    Paste,          // a paste's text, its line ends done
    HexInput,       // bytes typed in hex: as they are
    ShareClient,    // what a --share client wrote
    Script,         // a script's send()
    ScriptRaw,      // a script's send_raw(): as they are
    BatchInput,     // standard input in batch mode
    WebKey,         // a key from the writer's browser page
    WebPaste,       // a paste from it, its line ends done
    Attached,       // an attached writer's exact bytes: as they are
    AttachedTyped,  // an attached writer's typed bytes: this line's maps and bit 7
    AttachedText,   // an attached writer's text file: this line's bit 7, as a text send here
    Count
};

enum class WhenRefused : uint8_t {
    Drop,      // all or nothing; what is not taken is counted and said
    DropRest,  // as much as fits; the rest is counted and said
    Keep,      // all or nothing; the producer keeps it and gives it again
    KeepRest,  // as much as fits; the producer keeps the rest
};

struct SendRule {
    const char* what;       // in notices: "the key"
    bool heldInTransfer;    // false: refused during a transfer, true: waits for its end
    bool refusedInHistory;  // refused while the history is shown (its keys are the view's)
    bool maps;              // the sent line-end maps
    bool bit7;              // set as the terminal's own (or cleared, --seven-bit)
    bool echo;              // shown under local echo
    bool paste;             // ends with the paste (the menu's s e)
    bool watched;           // looked at for a host that echoes bit 7
    WhenRefused refused;
};

const SendRule& SendRuleOf(SendSource source);

// Queues `count` bytes from `source` for the line, by its rule. Returns how
// many of them were taken (the rest was dropped or is the producer's to
// keep, by the rule); `queued`, when given, gets how many bytes that made
// on the wire (the maps may double one).
unsigned Send(Session& console, SendSource source, const uint8_t* bytes, unsigned count,
              unsigned* queued = nullptr);

// Send for a share client, as the share's callback: `console` is the Session.
unsigned SendFromShare(void* console, const uint8_t* bytes, unsigned count);

// Under local echo, shows bytes queued for the host (a text file's send
// comes here too); otherwise nothing.
void EchoQueued(Session& console, const uint8_t* bytes, unsigned count);

#endif

#include "console/program/send.h"

#include <cstring>

#include "console/line/clock.h"
#include "console/program/session.h"
#include "console/program/recorded.h"

namespace {

const unsigned SendPiece = 4096;

const SendRule Rules[] = {
    // what, held in a transfer, refused in the history, maps, bit 7, echo, paste, watched, when refused
    {"the key", false, false, true, true, true, false, true, WhenRefused::Drop},           // Key
    {"the paste", false, true, true, true, true, true, false, WhenRefused::DropRest},      // Paste
    {"the hex bytes", false, false, false, false, true, false, false, WhenRefused::Drop},  // HexInput
    {"a client's bytes", true, false, false, true, false, false, false,
     WhenRefused::KeepRest},                                                                    // ShareClient
    {"the script's text", true, false, false, true, false, false, false, WhenRefused::Keep},    // Script
    {"the script's bytes", true, false, false, false, false, false, false, WhenRefused::Keep},  // ScriptRaw
    {"standard input", true, false, false, true, false, false, false, WhenRefused::KeepRest},   // BatchInput
    // A page is not read while what it sent waits, as a share client.
    {"the page's key", true, false, true, true, true, false, true, WhenRefused::KeepRest},    // WebKey
    {"the page's paste", true, false, true, true, true, true, false, WhenRefused::KeepRest},  // WebPaste
    {"an attached writer's bytes", true, false, false, false, false, false, false,
     WhenRefused::KeepRest},  // Attached
    {"an attached writer's keys", true, false, true, true, false, false, false,
     WhenRefused::KeepRest},  // AttachedTyped
    {"an attached writer's text", true, false, false, true, false, false, false,
     WhenRefused::KeepRest},  // AttachedText
};
static_assert(sizeof Rules / sizeof Rules[0] == unsigned(SendSource::Count), "a rule for every source");

bool Kept(const SendRule& rule) {
    return rule.refused == WhenRefused::Keep || rule.refused == WhenRefused::KeepRest;
}

const char* Was(const SendRule& rule) {
    return rule.what[std::strlen(rule.what) - 1] == 's' ? "were" : "was";
}

enum class Why : uint8_t { Transfer, History, NoLine, TooLong };

// Nothing of it goes: said and counted, or left to the producer.
unsigned Refuse(Session& c, const SendRule& rule, unsigned count, Why why) {
    if (Kept(rule)) return 0;
    c.counters.dropped += count;
    switch (why) {
        case Why::Transfer: Say(c.notice, "not sent: a transfer runs (the menu key then e ends it)"); break;
        case Why::History: Say(c.notice, "not sent: the history is shown (q leaves it)"); break;
        case Why::NoLine: Say(c.notice, "not connected: %s %s not sent", rule.what, Was(rule)); break;
        case Why::TooLong: Say(c.notice, "%s %s too long to send at once", rule.what, Was(rule)); break;
    }
    return 0;
}

// One piece: as many of `bytes` as the pump has room for, through the
// rule's maps and bit 7, queued at once.
unsigned SendPart(Session& c, const SendRule& rule, const uint8_t* bytes, unsigned count, unsigned* queued) {
    uint8_t wire[2 * SendPiece];
    unsigned room = TypedCapacity - c.pump.Waiting(), length = 0, taken = 0;
    // Attached: the served line applies its own rules to typed bytes.
    bool exact = !rule.maps && !rule.bit7, served = c.link.attached != nullptr;
    if (served || !rule.maps || (c.style.maps & SentMaps) == 0) {  // no map doubles a byte: a run at once
        taken = length = count < room ? count : room;
        if (served || exact) {
            std::memcpy(wire, bytes, length);
        } else if (!rule.bit7 || c.options.sevenBit) {  // the maps see 7 bits too
            for (unsigned i = 0; i < length; ++i) wire[i] = uint8_t(bytes[i] & SevenBits);
        } else {
            for (unsigned i = 0; i < length; ++i) wire[i] = uint8_t(bytes[i] | Bit7);
        }
    }
    for (; taken < count; ++taken) {
        uint8_t out[2] = {bytes[taken], 0};
        unsigned n = rule.maps ? MapSent(c.style.maps, uint8_t(bytes[taken] & SevenBits), out) : 1;
        if (length + n > room) break;
        for (unsigned j = 0; j < n; ++j)
            wire[length++] = rule.bit7 ? Originated(out[j], c.options.sevenBit) : out[j];
    }
    bool whole = rule.refused == WhenRefused::Drop || rule.refused == WhenRefused::Keep;
    if (taken < count && whole) return 0;
    if (length == 0 || !c.pump.Queue(wire, length, rule.paste, exact)) return 0;
    if (rule.watched) KeysSent(c.bit7, wire, length, MonotonicMilliseconds());
    if (rule.echo) EchoQueued(c, wire, length);
    *queued += length;
    return taken;
}

}  // namespace

const SendRule& SendRuleOf(SendSource source) { return Rules[unsigned(source)]; }

namespace {

// What a recording calls the sender.
RecordSource SourceOf(SendSource source) {
    switch (source) {
        case SendSource::Key:
        case SendSource::HexInput:
        case SendSource::BatchInput: return RecordSource::Key;
        case SendSource::Paste: return RecordSource::Paste;
        case SendSource::Script:
        case SendSource::ScriptRaw: return RecordSource::Script;
        case SendSource::WebKey:
        case SendSource::WebPaste: return RecordSource::Page;
        case SendSource::ShareClient:
        case SendSource::Attached:
        case SendSource::AttachedTyped:
        case SendSource::AttachedText: return RecordSource::Client;
        default: return RecordSource::Other;
    }
}

}  // namespace

unsigned Send(Session& c, SendSource source, const uint8_t* bytes, unsigned count, unsigned* queued) {
    const SendRule& rule = Rules[unsigned(source)];
    unsigned wire = 0;
    if (queued == nullptr) queued = &wire;
    *queued = 0;
    if (count == 0) return 0;
    if (c.features.protocol.active) {  // the line is the protocol's
        if (rule.heldInTransfer) return 0;
        return Refuse(c, rule, count, Why::Transfer);
    }
    if (rule.refusedInHistory && c.ui.view.open) return Refuse(c, rule, count, Why::History);
    if (c.link.state != LinkState::Open) return Refuse(c, rule, count, Why::NoLine);
    bool whole = rule.refused == WhenRefused::Drop || rule.refused == WhenRefused::Keep;
    // All or nothing must fit as one piece.
    if (whole && count > SendPiece) return Refuse(c, rule, count, Why::TooLong);
    unsigned taken = 0;
    while (taken < count) {
        unsigned piece = count - taken < SendPiece ? count - taken : SendPiece;
        unsigned part = SendPart(c, rule, bytes + taken, piece, queued);
        taken += part;
        if (part < piece) break;
    }
    RecordWritten(c, SourceOf(source), bytes, taken);
    if (taken == count || Kept(rule)) return taken;
    c.counters.dropped += count - taken;
    if (taken == 0) {
        Say(c.notice, "%u bytes wait for the line: %s %s not sent", c.pump.Waiting(), rule.what, Was(rule));
    } else {
        Say(c.notice, "%s did not fit in what waits for the line: the rest was not sent", rule.what);
    }
    return taken;
}

void EchoQueued(Session& c, const uint8_t* bytes, unsigned count) {
    if (c.style.echo) EchoSent(c.chain, bytes, count);
}

unsigned SendFromShare(void* console, const uint8_t* bytes, unsigned count) {
    return Send(*static_cast<Session*>(console), SendSource::ShareClient, bytes, count);
}

#include "console/rules/wire.h"

#include <cstring>

namespace {

// Writes a message's payload with bounds: once out of room it writes no
// more and Done gives 0.
class Writer {
public:
    Writer(uint8_t* out, unsigned capacity, WireType type)
        : out_(out), capacity_(capacity), at_(WireHeaderSize) {
        type_ = type;
        fits_ = capacity >= WireHeaderSize;
    }
    void U8(unsigned value) {
        if (!Room(1)) return;
        out_[at_++] = uint8_t(value);
    }
    void U16(unsigned value) {
        U8(value >> 8);
        U8(value);
    }
    void U64(uint64_t value) {
        for (int shift = 56; shift >= 0; shift -= 8) U8(unsigned(value >> shift));
    }
    void Bytes(const void* bytes, unsigned count) {
        if (!Room(count)) return;
        if (count > 0) std::memcpy(out_ + at_, bytes, count);
        at_ += count;
    }
    void Text(const char* text, size_t most = 255) {
        size_t length = std::strlen(text);
        if (length > most) length = most;
        U8(unsigned(length));
        Bytes(text, unsigned(length));
    }
    unsigned Done() {
        unsigned length = at_ - WireHeaderSize;
        if (!fits_ || length > WirePayloadLimit(uint8_t(type_))) return 0;
        PutHeader(out_, type_, length);
        return at_;
    }

private:
    bool Room(unsigned count) {
        if (fits_ && capacity_ - at_ >= count) return true;
        fits_ = false;
        return false;
    }
    uint8_t* out_;
    unsigned capacity_, at_;
    WireType type_;
    bool fits_;
};

// Reads a payload with bounds: a read past its end sets the fault, and
// Exact says whether every byte was read and no more.
class Reader {
public:
    explicit Reader(const WireMessage& message) : in_(message.payload), length_(message.length) {}
    unsigned U8() {
        if (at_ >= length_) {
            short_ = true;
            return 0;
        }
        return in_[at_++];
    }
    unsigned U16() {
        unsigned high = U8();
        return high << 8 | U8();
    }
    uint64_t U64() {
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value = value << 8 | U8();
        return value;
    }
    bool Bytes(void* out, unsigned count) {
        if (length_ - at_ < count) {
            short_ = true;
            return false;
        }
        std::memcpy(out, in_ + at_, count);
        at_ += count;
        return true;
    }
    void Text(WireText* text) {
        text->length = uint8_t(U8());
        if (!Bytes(text->text, text->length)) text->length = 0;
        text->text[text->length] = '\0';
    }
    bool Exact() const { return !short_ && at_ == length_; }

private:
    const uint8_t* in_;
    unsigned length_;
    unsigned at_ = 0;
    bool short_ = false;
};

void CopyText(WireText* to, const WireText& from) {
    to->length = from.length;
    std::memcpy(to->text, from.text, from.length);
    to->text[from.length] = '\0';
}

}  // namespace

unsigned WirePayloadLimit(uint8_t type) {
    switch (WireType(type)) {
        case WireType::Hello: return 2 + 1 + 1 + 256 + 1 + WireTokenCapacity + 1;
        case WireType::Welcome: return 13;
        case WireType::Refusal:
        case WireType::Notice: return 256;
        case WireType::Screen: return WireScreenPayload;
        case WireType::History: return 2 + WireHistoryRowsMax * WireHistoryRowMax;
        case WireType::HistoryEnd: return 8;
        case WireType::Data:
        case WireType::Typed:
        case WireType::TypedText: return WireMaxPayload;
        case WireType::Control: return 2 + 256;
        case WireType::Roster: return 1 + WireRosterMax * (2 + 1 + 1 + 8 + 4 + 2 * (1 + WireRosterTextMax));
        case WireType::Role: return 1 + 2 + 256;
        case WireType::Take:
        case WireType::Give:
        case WireType::Who: return 0;
        case WireType::ControlDone: return 2;
        case WireType::Chain: return WireChainPayloadMax;
        case WireType::LineState: return 1 + 2 + 3 * 256;
    }
    return 0;
}

void PutHeader(uint8_t* out, WireType type, unsigned length) {
    out[0] = uint8_t(type);
    out[1] = uint8_t(length >> 16);
    out[2] = uint8_t(length >> 8);
    out[3] = uint8_t(length);
}

unsigned PutHello(uint8_t* out, unsigned capacity, const WireHello& hello) {
    Writer w(out, capacity, WireType::Hello);
    w.U16(hello.version);
    w.U8(unsigned(hello.ask));
    w.U8(unsigned(hello.kind));
    w.Text(hello.name.text);
    unsigned tokenLength = hello.tokenLength > WireTokenCapacity ? WireTokenCapacity : hello.tokenLength;
    w.U8(tokenLength);
    w.Bytes(hello.token, tokenLength);
    w.U8(unsigned(hello.past));
    return w.Done();
}

unsigned PutWelcome(uint8_t* out, unsigned capacity, const WireWelcome& welcome) {
    Writer w(out, capacity, WireType::Welcome);
    w.U16(welcome.version);
    w.U8(unsigned(welcome.role));
    w.U16(welcome.id);
    w.U64(welcome.historyRows);
    return w.Done();
}

unsigned PutText(uint8_t* out, unsigned capacity, WireType type, const char* text) {
    Writer w(out, capacity, type);
    w.Text(text);
    return w.Done();
}

unsigned PutData(uint8_t* out, unsigned capacity, const uint8_t* bytes, unsigned count, WireType type) {
    Writer w(out, capacity, type);
    w.Bytes(bytes, count);
    return w.Done();
}

unsigned PutControl(uint8_t* out, unsigned capacity, const WireControlMessage& control) {
    Writer w(out, capacity, WireType::Control);
    w.U8(unsigned(control.control));
    w.U8(control.value);
    if (control.control == WireControl::Settings) w.Text(control.settings.text);
    return w.Done();
}

unsigned PutControlDone(uint8_t* out, unsigned capacity, WireControl control, uint8_t result) {
    Writer w(out, capacity, WireType::ControlDone);
    w.U8(unsigned(control));
    w.U8(result);
    return w.Done();
}

unsigned PutRoster(uint8_t* out, unsigned capacity, const WireRoster& roster) {
    Writer w(out, capacity, WireType::Roster);
    unsigned count = roster.count > WireRosterMax ? WireRosterMax : roster.count;
    w.U8(count);
    for (unsigned i = 0; i < count; ++i) {
        const WireRosterEntry& e = roster.entry[i];
        w.U16(e.id);
        w.U8(unsigned(e.role));
        w.U8(unsigned(e.kind));
        w.U64(uint64_t(e.since));
        w.U16(e.idle >> 16);
        w.U16(e.idle & 0xffff);
        w.Text(e.name.text, WireRosterTextMax);
        w.Text(e.from.text, WireRosterTextMax);
    }
    return w.Done();
}

unsigned PutRoleChange(uint8_t* out, unsigned capacity, const WireRoleChange& change) {
    Writer w(out, capacity, WireType::Role);
    w.U8(unsigned(change.role));
    w.U16(change.by);
    w.Text(change.byName.text);
    return w.Done();
}

const uint8_t LineOpenFlag = 1, HardwareFlowFlag = 2;

unsigned PutLineState(uint8_t* out, unsigned capacity, const WireLineState& state) {
    Writer w(out, capacity, WireType::LineState);
    w.U8((state.open ? LineOpenFlag : 0) | (state.hardwareFlow ? HardwareFlowFlag : 0));
    w.U16(state.by);
    w.Text(state.settings.text);
    w.Text(state.awaiting.text);
    w.Text(state.byName.text);
    return w.Done();
}

unsigned PutEmpty(uint8_t* out, unsigned capacity, WireType type) {
    Writer w(out, capacity, type);
    return w.Done();
}

bool ReadHello(const WireMessage& message, WireHello* hello) {
    if (message.type != WireType::Hello) return false;
    Reader r(message);
    hello->version = uint16_t(r.U16());
    unsigned ask = r.U8(), kind = r.U8();
    r.Text(&hello->name);
    hello->tokenLength = uint8_t(r.U8());
    if (hello->tokenLength > WireTokenCapacity || !r.Bytes(hello->token, hello->tokenLength)) return false;
    unsigned past = r.U8();
    hello->past = WirePast(past);
    hello->ask = WireAsk(ask);
    hello->kind = WireClientKind(kind);
    // Another version's hello may not parse as ours: its version alone is
    // enough to refuse it with a reason.
    if (hello->version != WireVersion) return message.length >= 2;
    return r.Exact() && ask <= unsigned(WireAsk::Take) && kind <= unsigned(WireClientKind::Browser) &&
           past <= unsigned(WirePast::Wrote);
}

bool ReadWelcome(const WireMessage& message, WireWelcome* welcome) {
    if (message.type != WireType::Welcome) return false;
    Reader r(message);
    welcome->version = uint16_t(r.U16());
    unsigned role = r.U8();
    welcome->id = uint16_t(r.U16());
    welcome->historyRows = r.U64();
    welcome->role = WireRole(role);
    return r.Exact() && role <= unsigned(WireRole::Writing);
}

bool ReadText(const WireMessage& message, WireText* text) {
    Reader r(message);
    r.Text(text);
    return r.Exact();
}

bool ReadControl(const WireMessage& message, WireControlMessage* control) {
    if (message.type != WireType::Control) return false;
    Reader r(message);
    unsigned kind = r.U8();
    control->value = uint8_t(r.U8());
    control->settings.length = 0;
    control->settings.text[0] = '\0';
    if (kind == unsigned(WireControl::Settings)) r.Text(&control->settings);
    control->control = WireControl(kind);
    bool known = kind >= unsigned(WireControl::Break) && kind <= unsigned(WireControl::Settings);
    bool valueFits =
        (kind != unsigned(WireControl::Dtr) && kind != unsigned(WireControl::Rts)) || control->value <= 1;
    return r.Exact() && known && valueFits;
}

bool ReadControlDone(const WireMessage& message, WireControl* control, uint8_t* result) {
    if (message.type != WireType::ControlDone) return false;
    Reader r(message);
    *control = WireControl(r.U8());
    *result = uint8_t(r.U8());
    return r.Exact();
}

bool ReadRoster(const WireMessage& message, WireRoster* roster) {
    if (message.type != WireType::Roster) return false;
    Reader r(message);
    roster->count = r.U8();
    if (roster->count > WireRosterMax) return false;
    for (unsigned i = 0; i < roster->count; ++i) {
        WireRosterEntry& e = roster->entry[i];
        e.id = uint16_t(r.U16());
        unsigned role = r.U8(), kind = r.U8();
        e.since = int64_t(r.U64());
        unsigned high = r.U16();
        e.idle = uint32_t(high) << 16 | r.U16();
        r.Text(&e.name);
        r.Text(&e.from);
        if (role > unsigned(WireRole::Writing) || kind > unsigned(WireClientKind::Browser) ||
            e.name.length > WireRosterTextMax || e.from.length > WireRosterTextMax)
            return false;
        e.role = WireRole(role);
        e.kind = WireClientKind(kind);
    }
    return r.Exact();
}

bool ReadRoleChange(const WireMessage& message, WireRoleChange* change) {
    if (message.type != WireType::Role) return false;
    Reader r(message);
    unsigned role = r.U8();
    change->by = uint16_t(r.U16());
    WireText name;
    r.Text(&name);
    CopyText(&change->byName, name);
    change->role = WireRole(role);
    return r.Exact() && role <= unsigned(WireRole::Writing);
}

bool ReadLineState(const WireMessage& message, WireLineState* state) {
    if (message.type != WireType::LineState) return false;
    Reader r(message);
    unsigned flags = r.U8();
    state->by = uint16_t(r.U16());
    r.Text(&state->settings);
    r.Text(&state->awaiting);
    r.Text(&state->byName);
    state->open = (flags & LineOpenFlag) != 0;
    state->hardwareFlow = (flags & HardwareFlowFlag) != 0;
    return r.Exact() && (flags & ~unsigned(LineOpenFlag | HardwareFlowFlag)) == 0;
}

unsigned WireDecoder::Feed(const uint8_t* bytes, unsigned count) {
    if (failed_ != nullptr) return count;  // a broken stream swallows the rest
    if (start_ > 0) {
        std::memmove(buffer_, buffer_ + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    unsigned taken = sizeof buffer_ - end_;
    if (taken > count) taken = count;
    std::memcpy(buffer_ + end_, bytes, taken);
    end_ += taken;
    return taken;
}

WireStatus WireDecoder::Next(WireMessage* message, const char** problem) {
    if (failed_ == nullptr && end_ - start_ >= WireHeaderSize) {
        const uint8_t* header = buffer_ + start_;
        unsigned length = unsigned(header[1]) << 16 | unsigned(header[2]) << 8 | header[3];
        if (header[0] < uint8_t(WireType::Hello) || header[0] > uint8_t(WireType::Who)) {
            failed_ = "a message of a type not known";
        } else if (length > WirePayloadLimit(header[0])) {
            failed_ = "a message longer than its type allows";
        } else if (end_ - start_ - WireHeaderSize >= length) {
            message->type = WireType(header[0]);
            message->payload = header + WireHeaderSize;
            message->length = length;
            start_ += WireHeaderSize + length;
            return WireStatus::Message;
        }
    }
    if (failed_ == nullptr) return WireStatus::NeedMore;
    *problem = failed_;
    return WireStatus::Error;
}

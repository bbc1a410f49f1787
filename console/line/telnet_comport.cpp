#include "console/line/telnet_comport.h"

#include <cstddef>  // libtelnet.h uses size_t without including it
#include <cstring>
#include <libtelnet.h>

namespace {

const uint8_t ComPortOption = 44;
// Every subnegotiation but ours reaches libtelnet under this option, which it
// has no parser for: its compression, environment and terminal-type parsers
// never see what a server sends unasked.
const uint8_t NeutralOption = TELNET_TELOPT_BINARY;

// What we take part in; libtelnet refuses all the rest.
const telnet_telopt_t Options[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {ComPortOption, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

// Client command codes; the server answers with code + 100.
enum : uint8_t {
    SetBaudrate = 1,
    SetDatasize = 2,
    SetParity = 3,
    SetStopsize = 4,
    SetControl = 5,
    SetModemstateMask = 11,
    NotifyModemstate = 107,  // from the server
};

// SET-CONTROL values.
enum : uint8_t {
    NoFlow = 1,
    HardwareFlow = 3,
    BreakOn = 5,
    BreakOff = 6,
    DtrOn = 8,
    DtrOff = 9,
    RtsOn = 11,
    RtsOff = 12,
};

// Pending command bits, in the order they go out.
enum : unsigned {
    PendingBaud = 1u << 0,
    PendingDataSize = 1u << 1,
    PendingParity = 1u << 2,
    PendingStopSize = 1u << 3,
    PendingFlow = 1u << 4,
    PendingDtr = 1u << 5,
    PendingRts = 1u << 6,
    PendingModemMask = 1u << 7,
    PendingBreak = 1u << 8,
    PendingSettings = PendingBaud | PendingDataSize | PendingParity | PendingStopSize,
};

// A negotiation answer is 3 bytes and may complete a command whose first two
// bytes came in an earlier block: taken input plus this always fits.
const unsigned AnswerSlack = 2;

uint8_t ParityCode(Parity parity) {
    switch (parity) {
        case Parity::None: return 1;
        case Parity::Odd: return 2;
        case Parity::Even: return 3;
        case Parity::Mark: return 4;
        case Parity::Space: return 5;
    }
    return 1;
}

uint8_t StopCode(StopBits stop) {
    switch (stop) {
        case StopBits::One: return 1;
        case StopBits::Two: return 2;
        case StopBits::OneAndHalf: return 3;
    }
    return 1;
}

}  // namespace

TelnetComPort::TelnetComPort()
    : telnet_(telnet_init(Options, &TelnetComPort::OnEvent, 0, this)),
      state_(ComPortState::Negotiating),
      broken_(false),
      scan_(Scan::Data),
      negotiation_(0),
      subLength_(0),
      ignoreSub_(false),
      discarded_(false),
      modemKnown_(false),
      modemBits_(0),
      pending_(0),
      settings_(DefaultLineSettings),
      hardwareFlow_(false),
      breakOn_(false),
      dtrOn_(false),
      rtsOn_(false),
      data_(nullptr),
      dataLength_(0),
      dataCapacity_(0),
      outputLength_(0) {}

TelnetComPort::~TelnetComPort() {
    if (telnet_ != nullptr) telnet_free(telnet_);
}

void TelnetComPort::Reset() {
    if (telnet_ != nullptr) telnet_free(telnet_);
    telnet_ = telnet_init(Options, &TelnetComPort::OnEvent, 0, this);
    state_ = telnet_ != nullptr ? ComPortState::Negotiating : ComPortState::Refused;
    broken_ = false;
    scan_ = Scan::Data;
    subLength_ = 0;
    ignoreSub_ = false;
    discarded_ = false;
    modemKnown_ = false;
    pending_ = PendingModemMask;
    outputLength_ = 0;
    if (telnet_ == nullptr) return;
    telnet_negotiate(telnet_, TELNET_WILL, ComPortOption);
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet_, TELNET_DO, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_SGA);
    telnet_negotiate(telnet_, TELNET_DO, TELNET_TELOPT_SGA);
}

unsigned TelnetComPort::InputRoom() const {
    unsigned room = OutputCapacity - outputLength_;
    return room > AnswerSlack ? room - AnswerSlack : 0;
}

void TelnetComPort::OnEvent(telnet_t*, telnet_event_t* event, void* self) {
    static_cast<TelnetComPort*>(self)->Event(*event);
}

void TelnetComPort::Event(const telnet_event_t& event) {
    switch (event.type) {
        case TELNET_EV_DATA: {  // server data: to the caller's buffer
            unsigned length = static_cast<unsigned>(event.data.size);
            if (length > dataCapacity_ - dataLength_) length = dataCapacity_ - dataLength_;
            if (length > 0) std::memmove(data_ + dataLength_, event.data.buffer, length);
            dataLength_ += length;
            break;
        }
        case TELNET_EV_SEND:  // ours for the server
            Append(reinterpret_cast<const uint8_t*>(event.data.buffer),
                   static_cast<unsigned>(event.data.size));
            break;
        case TELNET_EV_DO:  // accepted (libtelnet answered WILL if we had not offered yet)
            if (event.neg.telopt == ComPortOption) state_ = ComPortState::Accepted;
            break;
        case TELNET_EV_DONT:  // withdrawn after acceptance
            if (event.neg.telopt == ComPortOption) state_ = ComPortState::Refused;
            break;
        case TELNET_EV_SUBNEGOTIATION: {  // answers (code + 100) ignored
            const uint8_t* sub = reinterpret_cast<const uint8_t*>(event.sub.buffer);
            if (!ignoreSub_ && event.sub.telopt == ComPortOption && event.sub.size >= 2 &&
                sub[0] == NotifyModemstate) {
                modemKnown_ = true;
                modemBits_ = sub[1] & (ModemCts | ModemDsr | ModemRi | ModemDcd);
            }
            break;
        }
        case TELNET_EV_COMPRESS:
            if (event.compress.state != 0) broken_ = true;
            break;
        default:  // other commands, warnings: nothing to do
            break;
    }
}

void TelnetComPort::Append(const uint8_t* bytes, unsigned length) {
    // Room is checked before anything can produce output; a shortfall here
    // would be a fault of ours, and the bytes are dropped, never written past.
    if (length > OutputCapacity - outputLength_) length = OutputCapacity - outputLength_;
    std::memcpy(output_ + outputLength_, bytes, length);
    outputLength_ += length;
}

void TelnetComPort::Pass(const uint8_t* bytes, unsigned length) {
    if (length > 0 && !broken_) telnet_recv(telnet_, reinterpret_cast<const char*>(bytes), length);
}

unsigned TelnetComPort::Receive(const uint8_t* input, unsigned length, uint8_t* data, unsigned* dataCount) {
    unsigned take = length < InputRoom() ? length : InputRoom();
    *dataCount = 0;
    if (telnet_ == nullptr || broken_) return take;
    data_ = data;
    dataLength_ = 0;
    dataCapacity_ = take;
    // The scan follows libtelnet's framing for three things it does not
    // offer: it answers a DONT to our own offer silently (the scan spots the
    // refusal); it parses some subnegotiations whatever was negotiated (the
    // scan hands those over under NeutralOption); and past its buffer it
    // reads the rest of a subnegotiation as data (the scan ends it for
    // libtelnet at the limit and drops the rest up to IAC SE). Inside a
    // subnegotiation IAC IAC is a 0xFF, IAC SE ends it, and IAC + any other
    // command ends it too before the command counts as one.
    static const uint8_t EndSub[2] = {TELNET_IAC, TELNET_SE};
    unsigned start = 0;  // first byte not yet passed to libtelnet
    for (unsigned i = 0; i < take; ++i) {
        uint8_t byte = input[i];
        switch (scan_) {
            case Scan::Data:
                if (byte == TELNET_IAC) scan_ = Scan::Command;
                break;
            case Scan::Command: ScanCommand(byte); break;
            case Scan::Option:
                scan_ = Scan::Data;
                if (negotiation_ == TELNET_DONT && byte == ComPortOption) {
                    Pass(input + start, i + 1 - start);
                    start = i + 1;
                    state_ = ComPortState::Refused;
                }
                break;
            case Scan::SubOption:
                scan_ = Scan::SubData;
                subLength_ = 0;
                if (byte != ComPortOption) {
                    Pass(input + start, i - start);
                    Pass(&NeutralOption, 1);
                    start = i + 1;
                }
                break;
            case Scan::SubData:
            case Scan::SubIac:
                if (scan_ == Scan::SubData && byte == TELNET_IAC) {
                    scan_ = Scan::SubIac;
                    break;
                }
                if (scan_ == Scan::SubIac && byte != TELNET_IAC) {
                    ScanCommand(byte);  // IAC SE, or a command that ends it
                    break;
                }
                scan_ = Scan::SubData;
                if (++subLength_ <= SubnegotiationLimit) break;
                // Too long to keep: libtelnet sees it end here, unheeded.
                Pass(input + start, i + 1 - start);
                ignoreSub_ = true;
                Pass(EndSub, 2);
                ignoreSub_ = false;
                discarded_ = true;
                scan_ = Scan::Discard;
                start = i + 1;
                break;
            case Scan::Discard:
                if (byte == TELNET_IAC) scan_ = Scan::DiscardIac;
                start = i + 1;
                break;
            case Scan::DiscardIac:
                if (byte == TELNET_IAC) {  // a 0xFF of the body
                    scan_ = Scan::Discard;
                    start = i + 1;
                } else if (byte == TELNET_SE) {
                    scan_ = Scan::Data;
                    start = i + 1;
                } else {  // a command ends it: libtelnet gets it whole
                    Pass(EndSub, 1);
                    start = i;
                    ScanCommand(byte);
                }
                break;
        }
    }
    Pass(input + start, take - start);
    data_ = nullptr;
    dataCapacity_ = 0;
    *dataCount = dataLength_;
    FlushCommands();
    return take;
}

// The byte after an IAC in data (or ending a subnegotiation).
void TelnetComPort::ScanCommand(uint8_t byte) {
    if (byte == TELNET_SB) {
        scan_ = Scan::SubOption;
    } else if (byte >= TELNET_WILL && byte <= TELNET_DONT) {
        negotiation_ = byte;
        scan_ = Scan::Option;
    } else {
        scan_ = Scan::Data;  // escaped 0xFF, SE, or a one-byte command
    }
}

bool TelnetComPort::TakeDiscarded() {
    bool discarded = discarded_;
    discarded_ = false;
    return discarded;
}

unsigned TelnetComPort::Send(const uint8_t* data, unsigned length) {
    if (telnet_ == nullptr || broken_) return 0;
    FlushCommands();
    if (state_ == ComPortState::Accepted && pending_ != 0) return 0;
    unsigned room = OutputCapacity - outputLength_, used = 0, taken = 0;
    while (taken < length) {
        unsigned need = data[taken] == TELNET_IAC ? 2 : 1;
        if (used + need > room) break;
        used += need;
        ++taken;
    }
    if (taken > 0) telnet_send(telnet_, reinterpret_cast<const char*>(data), taken);
    return taken;
}

// Every port command keeps its latest value and is sent by FlushCommands.
void TelnetComPort::Queue(unsigned pending) {
    pending_ |= pending;
    FlushCommands();
}

void TelnetComPort::SetSettings(const LineSettings& settings) {
    settings_ = settings;
    Queue(PendingSettings);
}

void TelnetComPort::SetFlowControl(bool hardware) {
    hardwareFlow_ = hardware;
    Queue(PendingFlow);
}

void TelnetComPort::SetBreak(bool on) {
    breakOn_ = on;
    Queue(PendingBreak);
}

void TelnetComPort::SetDtr(bool on) {
    dtrOn_ = on;
    Queue(PendingDtr);
}

void TelnetComPort::SetRts(bool on) {
    rtsOn_ = on;
    Queue(PendingRts);
}

void TelnetComPort::Consumed(unsigned count) {
    if (count > outputLength_) count = outputLength_;
    std::memmove(output_, output_ + count, outputLength_ - count);
    outputLength_ -= count;
    FlushCommands();
}

bool TelnetComPort::ModemState(uint8_t* bits) const {
    *bits = modemBits_;
    return modemKnown_;
}

bool TelnetComPort::SendCommand(uint8_t command, const uint8_t* value, unsigned length) {
    // IAC SB option command value IAC SE, every value byte possibly doubled.
    if (OutputCapacity - outputLength_ < 6 + 2 * length) return false;
    uint8_t body[5];
    body[0] = command;
    std::memcpy(body + 1, value, length);
    telnet_subnegotiation(telnet_, ComPortOption, reinterpret_cast<const char*>(body), 1 + length);
    return true;
}

void TelnetComPort::FlushCommands() {
    if (telnet_ == nullptr || state_ != ComPortState::Accepted) return;
    while (pending_ != 0) {
        unsigned bit = pending_ & (~pending_ + 1);  // the lowest: the first to go
        uint8_t value[4];
        uint8_t command = SetControl;
        unsigned length = 1;
        switch (bit) {
            case PendingBaud:
                command = SetBaudrate;
                value[0] = static_cast<uint8_t>(settings_.baud >> 24);
                value[1] = static_cast<uint8_t>(settings_.baud >> 16);
                value[2] = static_cast<uint8_t>(settings_.baud >> 8);
                value[3] = static_cast<uint8_t>(settings_.baud);
                length = 4;
                break;
            case PendingDataSize:
                command = SetDatasize;
                value[0] = settings_.dataBits;
                break;
            case PendingParity:
                command = SetParity;
                value[0] = ParityCode(settings_.parity);
                break;
            case PendingStopSize:
                command = SetStopsize;
                value[0] = StopCode(settings_.stopBits);
                break;
            case PendingFlow: value[0] = hardwareFlow_ ? HardwareFlow : NoFlow; break;
            case PendingDtr: value[0] = dtrOn_ ? DtrOn : DtrOff; break;
            case PendingRts: value[0] = rtsOn_ ? RtsOn : RtsOff; break;
            case PendingModemMask:
                command = SetModemstateMask;
                value[0] = ModemCts | ModemDsr | ModemRi | ModemDcd;
                break;
            default: value[0] = breakOn_ ? BreakOn : BreakOff; break;  // PendingBreak
        }
        if (!SendCommand(command, value, length)) return;
        pending_ &= ~bit;
    }
}

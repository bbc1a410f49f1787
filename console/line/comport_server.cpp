#include "console/line/comport_server.h"

#include <cstring>

namespace {

enum : uint8_t {
    Se = 240,
    Sb = 250,
    Will = 251,
    Wont = 252,
    Do = 253,
    Dont = 254,
    Iac = 255,
};

const uint8_t Options[] = {0 /* BINARY */, 1 /* ECHO */, 3 /* SUPPRESS-GO-AHEAD */, 44 /* COM-PORT */};
const uint8_t ComPortOption = 44;
const uint8_t NotifyLinestate = 106, NotifyModemstate = 107;
// Room kept for one negotiation answer; each needs three client bytes, so
// input taken within the room never produces more than fits.
const unsigned AnswerRoom = 3;
const uint16_t NeverSent = 0x100;

// How many value bytes a command carries; -1: not a command a client sends.
int ValueBytes(uint8_t command) {
    switch (command) {
        case 1: return 4;
        case 2:
        case 3:
        case 4:
        case 5:
        case 10:
        case 11:
        case 12: return 1;
        case 0:
        case 6:
        case 7:
        case 8:
        case 9: return 0;
        default: return -1;
    }
}

// SET-CONTROL values, in groups of a query and its settings.
enum : uint32_t {
    FlowQuery = 0,
    FlowNone = 1,
    FlowSoftware = 2,
    FlowHardware = 3,
    BreakQuery = 4,
    BreakOn = 5,
    BreakOff = 6,
    DtrQuery = 7,
    DtrOn = 8,
    DtrOff = 9,
    RtsQuery = 10,
    RtsOn = 11,
    RtsOff = 12,
    InboundQuery = 13,
    InboundNone = 14,
    InboundHardware = 16,
};

const Parity ParityOfCode[] = {Parity::None, Parity::Odd, Parity::Even, Parity::Mark, Parity::Space};

uint32_t ParityCode(Parity parity) {
    for (uint32_t i = 0; i < 5; ++i) {
        if (ParityOfCode[i] == parity) return i + 1;
    }
    return 1;
}

uint32_t StopCode(StopBits stop) { return stop == StopBits::Two ? 2 : stop == StopBits::OneAndHalf ? 3 : 1; }

}  // namespace

bool ComPortApply(const ComPortRequest& request, LineControls* controls, int* breakAsked) {
    *breakAsked = -1;
    LineControls before = *controls;
    uint32_t v = request.value;
    switch (request.command) {
        case ComPortCommand::SetBaudrate:
            if (v != 0) controls->settings.baud = v;
            break;
        case ComPortCommand::SetDatasize:
            if (v >= 5 && v <= 8) controls->settings.dataBits = uint8_t(v);
            break;
        case ComPortCommand::SetParity:
            if (v >= 1 && v <= 5) controls->settings.parity = ParityOfCode[v - 1];
            break;
        case ComPortCommand::SetStopsize:
            if (v >= 1 && v <= 3)
                controls->settings.stopBits = v == 1   ? StopBits::One
                                              : v == 2 ? StopBits::Two
                                                       : StopBits::OneAndHalf;
            break;
        case ComPortCommand::SetControl:
            if (v == FlowNone || v == FlowHardware) controls->hardwareFlow = v == FlowHardware;
            if (v == BreakOn || v == BreakOff) *breakAsked = v == BreakOn;
            if (v == DtrOn || v == DtrOff) controls->dtr = v == DtrOn;
            if (v == RtsOn || v == RtsOff) controls->rts = v == RtsOn;
            break;
        default: break;
    }
    const LineSettings &a = before.settings, &b = controls->settings;
    return a.baud != b.baud || a.dataBits != b.dataBits || a.parity != b.parity || a.stopBits != b.stopBits ||
           before.hardwareFlow != controls->hardwareFlow || before.dtr != controls->dtr ||
           before.rts != controls->rts;
}

uint32_t ComPortInForce(const ComPortRequest& request, const LineControls& controls, bool breakOn) {
    uint32_t v = request.value;
    switch (request.command) {
        case ComPortCommand::SetBaudrate: return controls.settings.baud;
        case ComPortCommand::SetDatasize: return controls.settings.dataBits;
        case ComPortCommand::SetParity: return ParityCode(controls.settings.parity);
        case ComPortCommand::SetStopsize: return StopCode(controls.settings.stopBits);
        case ComPortCommand::SetControl:
            if (v >= BreakQuery && v <= BreakOff) return breakOn ? BreakOn : BreakOff;
            if (v >= DtrQuery && v <= DtrOff)
                return controls.dtr != 0 ? DtrOn : DtrOff;  // -1: the driver's, on
            if (v >= RtsQuery && v <= RtsOff) return controls.rts != 0 ? RtsOn : RtsOff;
            if (v >= InboundQuery && v <= InboundHardware)
                return controls.hardwareFlow ? InboundHardware : InboundNone;
            return controls.hardwareFlow ? FlowHardware : FlowNone;
        default: return v;  // masks and purges are answered with what was asked
    }
}

void ComPortServer::Reset() {
    scan_ = Scan::Data;
    verb_ = 0;
    subOption_ = 0;
    subLength_ = 0;
    discarded_ = false;
    modemMask_ = 255;
    lineMask_ = 0;
    lastModem_ = NeverSent;
    lastLine_ = NeverSent;
    data_ = nullptr;
    dataLength_ = 0;
    requestStart_ = 0;
    requestCount_ = 0;
    outputLength_ = 0;
    for (unsigned i = 0; i < OptCount; ++i) us_[i] = him_[i] = Off;
    static const uint8_t Offers[] = {Iac, Will, 0, Iac, Will, 3, Iac, Will, 1,
                                     Iac, Do,   0, Iac, Do,   3, Iac, Do,   ComPortOption};
    Put(Offers, sizeof Offers);
    us_[OptBinary] = us_[OptSga] = us_[OptEcho] = Asked;
    him_[OptBinary] = him_[OptSga] = him_[OptComPort] = Asked;
}

int ComPortServer::OptIndex(uint8_t option) {
    for (unsigned i = 0; i < OptCount; ++i) {
        if (Options[i] == option) return int(i);
    }
    return -1;
}

void ComPortServer::Put(const uint8_t* bytes, unsigned count) {
    // Callers check room first; a shortfall drops, never writes past.
    if (count > OutputCapacity - outputLength_) count = OutputCapacity - outputLength_;
    std::memcpy(output_ + outputLength_, bytes, count);
    outputLength_ += count;
}

void ComPortServer::Command(uint8_t verb, uint8_t option) {
    const uint8_t bytes[3] = {Iac, verb, option};
    Put(bytes, 3);
}

// RFC 854's rule against loops: answer a request only when it changes the
// option's state; an answer to our own offer needs none.
void ComPortServer::Negotiate(uint8_t verb, uint8_t option) {
    int index = OptIndex(option);
    bool wantsHim = index == OptBinary || index == OptSga || index == OptComPort;
    OptState* state = index < 0 ? nullptr : (verb == Will || verb == Wont ? &him_[index] : &us_[index]);
    switch (verb) {
        case Will:
            if (!wantsHim) {
                Command(Dont, option);
            } else if (*state != On) {
                if (*state == Off) Command(Do, option);
                *state = On;
            }
            break;
        case Do:
            if (state == nullptr) {
                Command(Wont, option);
            } else if (*state != On) {
                if (*state == Off) Command(Will, option);
                *state = On;
            }
            break;
        case Wont:
        case Dont:
            if (state == nullptr || *state == Off) break;
            if (*state == On) Command(verb == Wont ? Dont : Wont, option);
            *state = Off;
            break;
        default: break;
    }
}

void ComPortServer::Subnegotiation() {
    if (subOption_ != ComPortOption || subLength_ == 0) return;
    // A client that speaks the option agreed to it, though its WILL may
    // never come: one that took our DO as the answer to its own request
    // sends none.
    if (him_[OptComPort] == Asked) him_[OptComPort] = On;
    int need = ValueBytes(sub_[0]);
    if (need < 0 || (need > 0 && subLength_ < 1u + unsigned(need))) return;
    if (sub_[0] == NotifyModemstate - 100 || sub_[0] == NotifyLinestate - 100) {
        // A poll: the state goes again at the next notification.
        (sub_[0] == NotifyModemstate - 100 ? lastModem_ : lastLine_) = NeverSent;
        return;
    }
    if (requestCount_ == RequestCapacity) return;  // Receive stops before this
    ComPortRequest& request = requests_[(requestStart_ + requestCount_) % RequestCapacity];
    request.command = ComPortCommand(sub_[0]);
    request.value = 0;
    for (int i = 0; i < need && sub_[0] != 0; ++i) request.value = request.value << 8 | sub_[1 + i];
    ++requestCount_;
}

void ComPortServer::Data(uint8_t byte) { data_[dataLength_++] = byte; }

unsigned ComPortServer::Receive(const uint8_t* input, unsigned length, uint8_t* data, unsigned* dataCount) {
    data_ = data;
    dataLength_ = 0;
    unsigned taken = 0;
    while (taken < length && Room(AnswerRoom) && requestCount_ < RequestCapacity) {
        uint8_t byte = input[taken++];
        switch (scan_) {
            case Scan::Data:
            case Scan::Cr:
                if (byte == Iac) {
                    scan_ = Scan::Command;
                    break;
                }
                // A client not in binary mode sends CR as CR NUL.
                if (!(scan_ == Scan::Cr && byte == 0 && him_[OptBinary] != On)) Data(byte);
                scan_ = byte == '\r' ? Scan::Cr : Scan::Data;
                break;
            case Scan::Command:
                scan_ = Scan::Data;
                if (byte == Iac) {
                    Data(Iac);
                } else if (byte == Sb) {
                    scan_ = Scan::SubOption;
                } else if (byte >= Will && byte <= Dont) {
                    verb_ = byte;
                    scan_ = Scan::Option;
                }  // else a one-byte command (NOP, GA, a stray SE...): nothing to do
                break;
            case Scan::Option:
                Negotiate(verb_, byte);
                scan_ = Scan::Data;
                break;
            case Scan::SubOption:
                subOption_ = byte;
                subLength_ = 0;
                scan_ = Scan::SubData;
                break;
            case Scan::SubData:
                if (byte == Iac) {
                    scan_ = Scan::SubIac;
                } else if (subLength_ < SubnegotiationLimit) {
                    sub_[subLength_++] = byte;
                } else {
                    discarded_ = true;
                    scan_ = Scan::Discard;
                }
                break;
            case Scan::SubIac:
                if (byte == Iac) {  // a 0xFF of the body
                    scan_ = Scan::SubData;
                    if (subLength_ < SubnegotiationLimit) {
                        sub_[subLength_++] = Iac;
                    } else {
                        discarded_ = true;
                        scan_ = Scan::Discard;
                    }
                } else if (byte == Se) {
                    Subnegotiation();
                    scan_ = Scan::Data;
                } else {  // another command cuts it short: it is dropped, the command counts
                    scan_ = Scan::Command;
                    --taken;
                }
                break;
            case Scan::Discard:
                if (byte == Iac) scan_ = Scan::DiscardIac;
                break;
            case Scan::DiscardIac:
                if (byte == Se) {
                    scan_ = Scan::Data;
                } else if (byte == Iac) {
                    scan_ = Scan::Discard;
                } else {
                    scan_ = Scan::Command;
                    --taken;
                }
                break;
        }
    }
    *dataCount = dataLength_;
    data_ = nullptr;
    return taken;
}

bool ComPortServer::TakeRequest(ComPortRequest* request) {
    if (requestCount_ == 0) return false;
    *request = requests_[requestStart_];
    requestStart_ = (requestStart_ + 1) % RequestCapacity;
    --requestCount_;
    return true;
}

bool ComPortServer::PutSub(uint8_t code, const uint8_t* value, unsigned length) {
    // IAC SB option code value IAC SE, each value byte possibly doubled.
    if (!Room(6 + 2 * length)) return false;
    const uint8_t head[4] = {Iac, Sb, ComPortOption, code};
    Put(head, 4);
    for (unsigned i = 0; i < length; ++i) {
        Put(value + i, 1);
        if (value[i] == Iac) Put(value + i, 1);
    }
    const uint8_t tail[2] = {Iac, Se};
    Put(tail, 2);
    return true;
}

bool ComPortServer::Answer(ComPortCommand command, uint32_t value) {
    uint8_t code = uint8_t(command);
    int length = ValueBytes(code);
    if (length < 0 || command == ComPortCommand::Signature) return false;
    if (command == ComPortCommand::FlowSuspend || command == ComPortCommand::FlowResume) return true;
    uint8_t bytes[4];
    for (int i = 0; i < length; ++i) bytes[i] = uint8_t(value >> (8 * (length - 1 - i)));
    if (!PutSub(uint8_t(code + 100), bytes, unsigned(length))) return false;
    if (command == ComPortCommand::SetModemstateMask) {
        modemMask_ = uint8_t(value);
        lastModem_ = NeverSent;
    } else if (command == ComPortCommand::SetLinestateMask) {
        lineMask_ = uint8_t(value);
        lastLine_ = NeverSent;
    }
    return true;
}

bool ComPortServer::AnswerSignature(const char* text) {
    unsigned length = unsigned(std::strlen(text));
    if (length > 64) length = 64;
    return PutSub(100, reinterpret_cast<const uint8_t*>(text), length);
}

uint8_t ComPortModemBits(bool open, bool known, const ModemLines& lines, uint16_t previous) {
    uint8_t bits = 0;
    if (open && !known) bits = 0xb0;
    if (open && known)
        bits = uint8_t((lines.dcd ? 0x80 : 0) | (lines.ri ? 0x40 : 0) | (lines.dsr ? 0x20 : 0) |
                       (lines.cts ? 0x10 : 0));
    if (previous == ComPortNoState) return bits;
    uint8_t changed = uint8_t((bits ^ previous) & 0xf0);
    // Delta DCD, trailing edge of RI (it went off), delta DSR, delta CTS.
    bits |= uint8_t((changed & 0x80 ? 0x08 : 0) | ((previous & 0x40) && !(bits & 0x40) ? 0x04 : 0) |
                    (changed & 0x20 ? 0x02 : 0) | (changed & 0x10 ? 0x01 : 0));
    return bits;
}

uint8_t ComPortLineBits(bool open) { return open ? 0x60 : 0x70; }

bool ComPortServer::NotifyModem(uint8_t bits) {
    // The low four bits say which inputs changed; only the inputs are compared.
    if (lastModem_ != NeverSent && ((bits ^ lastModem_) & modemMask_ & 0xf0) == 0) return true;
    if ((modemMask_ & 0xf0) == 0) return true;
    uint8_t value = bits & modemMask_;
    if (!PutSub(NotifyModemstate, &value, 1)) return false;
    lastModem_ = bits;
    return true;
}

bool ComPortServer::NotifyLine(uint8_t bits) {
    if ((bits & lineMask_) == 0 || (lastLine_ != NeverSent && bits == lastLine_)) return true;
    uint8_t value = bits & lineMask_;
    if (!PutSub(NotifyLinestate, &value, 1)) return false;
    lastLine_ = bits;
    return true;
}

unsigned ComPortServer::EscapeData(const uint8_t* input, unsigned length, uint8_t* out, unsigned capacity,
                                   unsigned* taken) {
    unsigned used = 0, i = 0;
    for (; i < length; ++i) {
        unsigned need = input[i] == Iac ? 2 : 1;
        if (used + need > capacity) break;
        out[used++] = input[i];
        if (need == 2) out[used++] = Iac;
    }
    *taken = i;
    return used;
}

unsigned ComPortServer::Send(const uint8_t* data, unsigned length) {
    unsigned taken = 0;
    outputLength_ +=
        EscapeData(data, length, output_ + outputLength_, OutputCapacity - outputLength_, &taken);
    return taken;
}

void ComPortServer::Consumed(unsigned count) {
    if (count > outputLength_) count = outputLength_;
    std::memmove(output_, output_ + count, outputLength_ - count);
    outputLength_ -= count;
}

bool ComPortServer::TakeDiscarded() {
    bool discarded = discarded_;
    discarded_ = false;
    return discarded;
}

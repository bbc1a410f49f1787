// Coverage-guided search for server bytes that break the Telnet layer of
// network lines: a crash, a write outside a buffer, more data out than came
// in, a stall, or libtelnet switched into compression. A second mode frames
// the bytes itself: data before the server answers, then a subnegotiation
// longer than the layer keeps, then the answer and the data again; all the
// data must come out whole and in order, and nothing of the subnegotiation.
// A third mode hands the bytes to the port server's side, as a client's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/line/comport_server.h"
#include "console/line/telnet_comport.h"

namespace {

const char IAC = '\xff';

std::string Escaped(const uint8_t* bytes, size_t size) {
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += static_cast<char>(bytes[i]);
        if (bytes[i] == 0xFF) out += IAC;
    }
    return out;
}

// Feeds `stream` in blocks cut by `cut`, sending the answers as they come.
std::string Feed(TelnetComPort& port, const std::string& stream, unsigned cut) {
    std::string data;
    uint8_t block[512];
    for (size_t offset = 0; offset < stream.size();) {
        unsigned length = 1 + cut % 509;
        cut = cut * 31 + 7;
        if (length > stream.size() - offset) length = static_cast<unsigned>(stream.size() - offset);
        std::memcpy(block, stream.data() + offset, length);
        unsigned count = 0;
        unsigned taken = port.Receive(block, length, block, &count);
        data.append(reinterpret_cast<const char*>(block), count);
        offset += taken;
        if (taken == 0 && port.OutputLength() == 0) std::abort();
        port.Consumed(port.OutputLength());
    }
    return data;
}

void Framed(const uint8_t* bytes, size_t size) {
    TelnetComPort port;
    port.Reset();
    port.Consumed(port.OutputLength());
    size_t half = size / 2;
    std::string data = Escaped(bytes, half);
    std::string body;
    for (size_t kept = 0; kept <= TelnetComPort::SubnegotiationLimit; kept += size - half + 1) {
        body += Escaped(bytes + half, size - half) + "x";
    }
    std::string stream = data + IAC + "\xfa" + static_cast<char>(bytes[0] % 2 ? 44 : bytes[0]) + body + IAC +
                         "\xf0" + IAC + "\xfd" + static_cast<char>(44) + data;
    std::string expected(reinterpret_cast<const char*>(bytes), half);
    if (Feed(port, stream, bytes[0]) != expected + expected) std::abort();
    if (!port.TakeDiscarded() || port.State() != ComPortState::Accepted || port.Broken()) std::abort();
}

// A client's bytes to the port server: every request answered, the output
// sent in part or whole; nothing may stall or run past a buffer.
void Client(const uint8_t* bytes, size_t size) {
    ComPortServer server;
    unsigned cut = size > 0 ? bytes[0] : 0;
    uint8_t block[512];
    for (size_t offset = 0; offset < size;) {
        unsigned length = 1 + cut % 97;
        cut = cut * 31 + 7;
        if (length > size - offset) length = static_cast<unsigned>(size - offset);
        std::memcpy(block, bytes + offset, length);
        unsigned count = 0;
        unsigned taken = server.Receive(block, length, block, &count);
        if (taken > length || count > taken) std::abort();
        offset += taken;
        ComPortRequest request;
        bool answered = false;
        while (server.TakeRequest(&request)) {
            answered = true;
            if (request.command == ComPortCommand::Signature) {
                server.AnswerSignature("fuzz");
            } else {
                server.Answer(request.command, request.value);
            }
        }
        if (cut & 4) server.Send(block, count);
        if (cut & 16) server.NotifyModem(uint8_t(cut));
        if (taken == 0 && server.OutputLength() == 0 && !answered) std::abort();
        if (server.OutputLength() > ComPortServer::OutputCapacity) std::abort();
        server.Consumed(cut & 8 ? server.OutputLength() / 2 + 1 : server.OutputLength());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
    if ((bytes[0] & 0xc0) == 0x40) {
        Client(bytes + 1, size - 1);
        return 0;
    }
    if (bytes[0] & 0x80) {
        if (size > 1) Framed(bytes + 1, size - 1);
        return 0;
    }
    TelnetComPort port;
    port.Reset();
    port.SetSettings({115200, Parity::Mark, 7, StopBits::OneAndHalf});
    port.SetDtr(true);
    // The first byte sets how the stream is cut into blocks, so IAC and
    // subnegotiations land on every kind of boundary.
    unsigned cut = bytes[0];
    size_t offset = 1;
    uint8_t block[512];
    while (offset < size) {
        unsigned length = 1 + cut % 97;
        cut = cut * 31 + 7;
        if (length > size - offset) length = static_cast<unsigned>(size - offset);
        std::memcpy(block, bytes + offset, length);
        unsigned count = 0;
        unsigned taken = port.Receive(block, length, block, &count);
        if (taken > length || count > taken) std::abort();
        if (port.OutputLength() > TelnetComPort::OutputCapacity) std::abort();
        if (port.Broken()) std::abort();
        offset += taken;
        // The socket takes all, some or none of what waits; a stall is when
        // nothing moves although everything was sent.
        if (cut & 4) port.Send(block, count);
        if (taken == 0 && port.OutputLength() == 0) std::abort();
        port.Consumed(cut & 8 ? port.OutputLength() / 2 + 1 : port.OutputLength());
        if (cut & 16) port.SetBreak((cut & 32) != 0);
    }
    return 0;
}

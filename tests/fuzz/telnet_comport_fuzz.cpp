// Coverage-guided search for server bytes that break the Telnet layer of
// network lines: a crash, a write outside a buffer, more data out than came
// in, a stall, or libtelnet switched into compression.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "console/line/telnet_comport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0) return 0;
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

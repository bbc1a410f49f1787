// The Telnet layer of network lines as bytes in, bytes out, and the device
// forms that name those lines.
#include <gtest/gtest.h>

#include <string>

#include "console/net_address.h"
#include "console/telnet_comport.h"

namespace {

const std::string IAC = "\xff", WILL = "\xfb", WONT = "\xfc", DO = "\xfd", DONT = "\xfe";

std::string B(int byte) { return std::string(1, static_cast<char>(byte)); }

// IAC SB COM-PORT-OPTION body IAC SE (body already escaped).
std::string Sub(const std::string& body) { return IAC + "\xfa" + B(44) + body + IAC + "\xf0"; }

std::string Output(TelnetComPort& port) {
    std::string out(reinterpret_cast<const char*>(port.Output()), port.OutputLength());
    port.Consumed(port.OutputLength());
    return out;
}

// Feeds every byte (sending the answers whenever the layer asks for room);
// returns the data bytes.
std::string Feed(TelnetComPort& port, const std::string& bytes, std::string* answers = nullptr) {
    std::string data, input = bytes;
    unsigned offset = 0;
    while (offset < input.size()) {
        unsigned count = 0;
        uint8_t* at = reinterpret_cast<uint8_t*>(&input[offset]);
        unsigned taken = port.Receive(at, static_cast<unsigned>(input.size() - offset), at, &count);
        data.append(reinterpret_cast<const char*>(at), count);
        offset += taken;
        std::string out = Output(port);
        if (answers != nullptr) *answers += out;
        if (taken == 0 && out.empty()) ADD_FAILURE() << "stuck at " << offset;
        if (taken == 0 && out.empty()) break;
    }
    return data;
}

TelnetComPort* Accepted(TelnetComPort& port) {
    port.Reset();
    Output(port);
    Feed(port, IAC + DO + B(44));
    Output(port);
    return &port;
}

TEST(TelnetComPort, NegotiatesLikeAPortClient) {
    TelnetComPort port;
    port.Reset();
    EXPECT_EQ(Output(port), IAC + WILL + B(44) + IAC + WILL + B(0) + IAC + DO + B(0) + IAC + WILL +
                                B(3) + IAC + DO + B(3));
    EXPECT_EQ(port.State(), ComPortState::Negotiating);
    // A port server's greeting: SGA and BINARY both ways agreed, ECHO refused,
    // the COM-PORT-OPTION accepted; then the modem-state mask goes out.
    std::string answers;
    Feed(port, IAC + WILL + B(3) + IAC + DO + B(3) + IAC + WILL + B(1) + IAC + DONT + B(1) + IAC +
                   DO + B(0) + IAC + WILL + B(0) + IAC + DO + B(44),
         &answers);
    EXPECT_EQ(port.State(), ComPortState::Accepted);
    EXPECT_EQ(answers, IAC + DONT + B(1) + Sub(B(11) + B(0xF0)));
    // Options we have no use for are refused.
    answers.clear();
    Feed(port, IAC + DO + B(24) + IAC + WILL + B(31) + IAC + DO + B(86), &answers);
    EXPECT_EQ(answers, IAC + WONT + B(24) + IAC + DONT + B(31) + IAC + WONT + B(86));
}

TEST(TelnetComPort, CommandsWaitForAcceptanceThenGoOutEncoded) {
    TelnetComPort port;
    port.Reset();
    Output(port);
    port.SetSettings({115200, Parity::Even, 7, StopBits::OneAndHalf});
    port.SetFlowControl(true);
    port.SetDtr(false);
    port.SetRts(true);
    EXPECT_EQ(Output(port), "");
    std::string answers;
    Feed(port, IAC + DO + B(44), &answers);
    EXPECT_EQ(answers, Sub(B(1) + B(0) + B(1) + B(0xC2) + B(0)) + Sub(B(2) + B(7)) +
                           Sub(B(3) + B(3)) + Sub(B(4) + B(3)) + Sub(B(5) + B(3)) +
                           Sub(B(5) + B(9)) + Sub(B(5) + B(11)) + Sub(B(11) + B(0xF0)));

    port.SetBreak(true);
    port.SetBreak(false);
    port.SetFlowControl(false);
    EXPECT_EQ(Output(port), Sub(B(5) + B(5)) + Sub(B(5) + B(6)) + Sub(B(5) + B(1)));
    // A speed byte of 0xFF is doubled inside the subnegotiation.
    port.SetSettings({0xFF00, Parity::None, 8, StopBits::One});
    EXPECT_EQ(Output(port), Sub(B(1) + B(0) + B(0) + IAC + IAC + B(0)) + Sub(B(2) + B(8)) +
                                Sub(B(3) + B(1)) + Sub(B(4) + B(1)));
    const struct {
        Parity parity;
        StopBits stop;
        int parityCode, stopCode;
    } Codes[] = {{Parity::Odd, StopBits::Two, 2, 2}, {Parity::Mark, StopBits::One, 4, 1},
                 {Parity::Space, StopBits::One, 5, 1}};
    for (const auto& code : Codes) {
        port.SetSettings({300, code.parity, 5, code.stop});
        std::string out = Output(port);
        EXPECT_NE(out.find(Sub(B(3) + B(code.parityCode)) + Sub(B(4) + B(code.stopCode))),
                  std::string::npos);
        EXPECT_NE(out.find(Sub(B(2) + B(5))), std::string::npos);
    }
}

TEST(TelnetComPort, DataIsEightBitCleanBothWays) {
    TelnetComPort port;
    Accepted(port);
    const std::string data("a\xff" "b\r\0c", 6);
    EXPECT_EQ(port.Send(reinterpret_cast<const uint8_t*>(data.data()), 6), 6u);
    EXPECT_EQ(Output(port), std::string("a\xff\xff" "b\r\0c", 7));  // no CR NUL games
    EXPECT_EQ(Feed(port, std::string("x\xff\xffy\r\0z", 7)), std::string("x\xffy\r\0z", 6));
    // Split anywhere: an IAC at the end of a block, a subnegotiation over three.
    EXPECT_EQ(Feed(port, "a" + IAC), "a");
    EXPECT_EQ(Feed(port, IAC + "b"), "\xff" "b");
    EXPECT_EQ(Feed(port, IAC + "\xfa" + B(44) + B(107)), "");
    EXPECT_EQ(Feed(port, B(0xB3) + IAC), "");
    EXPECT_EQ(Feed(port, "\xf0q"), "q");
    uint8_t bits = 0;
    ASSERT_TRUE(port.ModemState(&bits));
    EXPECT_EQ(bits, ModemDcd | ModemDsr | ModemCts);  // the delta bits dropped
    // Sending stops where the buffer is full, never halfway through an IAC pair.
    std::string ffs(TelnetComPort::OutputCapacity, '\xff');
    unsigned taken = port.Send(reinterpret_cast<const uint8_t*>(ffs.data()), 4096);
    EXPECT_EQ(taken, TelnetComPort::OutputCapacity / 2);
    EXPECT_EQ(port.OutputLength(), TelnetComPort::OutputCapacity);
}

TEST(TelnetComPort, AnswersAndOddSubnegotiationsChangeNothing) {
    TelnetComPort port;
    Accepted(port);
    uint8_t bits = 0;
    EXPECT_FALSE(port.ModemState(&bits));
    std::string answers;
    EXPECT_EQ(Feed(port, Sub(B(101) + B(0) + B(0) + B(0x4B) + B(0)) + Sub(B(105) + B(3)) +
                             Sub(B(106) + B(0x60)) + Sub(B(107)) + Sub("") + "ok",
                   &answers),
              "ok");
    EXPECT_EQ(answers, "");
    EXPECT_FALSE(port.ModemState(&bits));  // a NOTIFY-MODEMSTATE without its byte
    EXPECT_EQ(port.State(), ComPortState::Accepted);
}

TEST(TelnetComPort, RefusalIsACommandNeverData) {
    TelnetComPort port;
    port.Reset();
    Output(port);
    port.SetSettings(DefaultLineSettings);
    // An escaped 0xFF followed by the bytes of DONT and the option: data.
    EXPECT_EQ(Feed(port, IAC + IAC + DONT + B(44)), "\xff\xfe,");
    EXPECT_EQ(port.State(), ComPortState::Negotiating);
    Feed(port, IAC + DONT + B(44));
    EXPECT_EQ(port.State(), ComPortState::Refused);
    EXPECT_EQ(Output(port), "");  // no settings for a server that refused
}

TEST(TelnetComPort, GarbageHasDefinedResults) {
    TelnetComPort port;
    Accepted(port);
    // Compression nobody asked for is not switched on: the bytes stay plain.
    EXPECT_EQ(Feed(port, IAC + "\xfa" + B(86) + IAC + "\xf0" + "plain"), "plain");
    // Environment and terminal-type requests are not answered.
    std::string answers;
    Feed(port, IAC + "\xfa" + B(39) + B(1) + B(0) + "USER" + IAC + "\xf0" + IAC + "\xfa" + B(24) +
                   B(1) + IAC + "\xf0",
         &answers);
    EXPECT_EQ(answers, "");
    // A subnegotiation too long to keep: libtelnet gives it up after 16384
    // bytes and the rest reads as data.
    std::string data = Feed(port, IAC + "\xfa" + B(44) + std::string(20000, 'x') + IAC + "\xf0" + "ok");
    EXPECT_EQ(data, std::string(20000 - 16385, 'x') + "ok");
    EXPECT_EQ(port.State(), ComPortState::Accepted);
    EXPECT_FALSE(port.Broken());
}

TEST(TelnetComPort, AFloodOfRequestsWaitsForTheAnswersToGoOut) {
    TelnetComPort port;
    Accepted(port);
    std::string flood;
    for (int i = 0; i < 3000; ++i) flood += IAC + WILL + B(31);
    unsigned count = 0;
    unsigned taken = port.Receive(reinterpret_cast<const uint8_t*>(flood.data()),
                                  static_cast<unsigned>(flood.size()),
                                  reinterpret_cast<uint8_t*>(&flood[0]), &count);
    EXPECT_LT(taken, flood.size());
    EXPECT_LE(port.OutputLength(), TelnetComPort::OutputCapacity);
    std::string answers = Output(port);
    flood.erase(0, taken);
    Feed(port, flood, &answers);
    EXPECT_EQ(answers.size(), 3000u * 3);
}

TEST(NetworkAddress, FormsAndTheirFaults) {
    NetworkAddress address;
    const char* problem = nullptr;
    char name[300];
    ASSERT_TRUE(ParseNetworkDevice("rfc2217://ports.example:2217", &address, &problem));
    EXPECT_EQ(address.protocol, NetworkProtocol::Rfc2217);
    EXPECT_STREQ(address.host, "ports.example");
    EXPECT_EQ(address.port, 2217);
    ASSERT_TRUE(ParseNetworkDevice("TCP://[fe80::1]:4001", &address, &problem));
    EXPECT_EQ(address.protocol, NetworkProtocol::RawTcp);
    EXPECT_STREQ(address.host, "fe80::1");
    FormatNetworkName(address, name, sizeof name);
    EXPECT_STREQ(name, "[fe80::1]:4001");
    ASSERT_TRUE(ParseNetworkDevice("tcp://192.0.2.7:65535", &address, &problem));
    FormatNetworkName(address, name, sizeof name);
    EXPECT_STREQ(name, "192.0.2.7:65535");

    EXPECT_TRUE(IsNetworkDevice("tcp://"));
    EXPECT_FALSE(IsNetworkDevice("/dev/ttyUSB0"));
    const struct {
        const char* text;
        const char* problem;
    } Faults[] = {
        {"tcp://host", "give the port"},      {"tcp://host:", "give the port"},
        {"tcp://[::1]", "give the port"},     {"tcp://:23", "host is empty"},
        {"tcp://[]:23", "host is empty"},     {"tcp://[::1:23", "closing ]"},
        {"tcp://::1:23", "in brackets"},      {"tcp://host:0", "1 to 65535"},
        {"tcp://host:65536", "1 to 65535"},   {"tcp://host:23/x", "1 to 65535"},
        {"tcp://host:99999999999", "1 to 65535"}, {"/dev/ttyS0", "starts with"},
    };
    for (const auto& fault : Faults) {
        EXPECT_FALSE(ParseNetworkDevice(fault.text, &address, &problem)) << fault.text;
        EXPECT_NE(std::string(problem).find(fault.problem), std::string::npos) << fault.text;
    }
}

}  // namespace

// The Telnet layer of network lines as bytes in, bytes out, and the device
// forms that name those lines.
#include <gtest/gtest.h>

#include <string>

#include "console/line/net_address.h"
#include "console/line/telnet_comport.h"

namespace {

const std::string IAC = "\xff", WILL = IAC + "\xfb", WONT = IAC + "\xfc", DO = IAC + "\xfd",
                  DONT = IAC + "\xfe";

std::string B(int byte) { return std::string(1, static_cast<char>(byte)); }
// IAC SB option body IAC SE, the body already escaped.
std::string Sub(const std::string& body, int option = 44) {
    return IAC + "\xfa" + B(option) + body + IAC + "\xf0";
}

std::string Output(TelnetComPort& port) {
    std::string out(reinterpret_cast<const char*>(port.Output()), port.OutputLength());
    port.Consumed(port.OutputLength());
    return out;
}

// Feeds every byte, sending the answers whenever the layer wants room;
// returns the data bytes, and the answers in *answers.
std::string Feed(TelnetComPort& port, std::string input, std::string* answers = nullptr) {
    std::string data;
    for (size_t offset = 0; offset < input.size();) {
        unsigned count = 0;
        uint8_t* at = reinterpret_cast<uint8_t*>(&input[offset]);
        unsigned taken = port.Receive(at, static_cast<unsigned>(input.size() - offset), at, &count);
        data.append(reinterpret_cast<const char*>(at), count);
        offset += taken;
        std::string out = Output(port);
        if (answers != nullptr) *answers += out;
        if (taken == 0 && out.empty()) return data + "(stuck)";
    }
    return data;
}

void Accept(TelnetComPort& port) {
    port.Reset();
    Feed(port, DO + B(44));
    Output(port);
}

TEST(TelnetComPort, NegotiatesLikeAPortClient) {
    TelnetComPort port;
    port.Reset();
    EXPECT_EQ(Output(port), WILL + B(44) + WILL + B(0) + DO + B(0) + WILL + B(3) + DO + B(3));
    // ser2net's greeting: SGA and BINARY agreed, its ECHO refused, the option
    // accepted; then the modem-state mask goes out.
    std::string answers;
    Feed(port, WILL + B(3) + DO + B(3) + WILL + B(1) + DONT + B(1) + DO + B(0) + WILL + B(0) + DO + B(44),
         &answers);
    EXPECT_EQ(port.State(), ComPortState::Accepted);
    EXPECT_EQ(answers, DONT + B(1) + Sub(B(11) + B(0xF0)));
    answers.clear();
    Feed(port, DO + B(24) + WILL + B(31) + DO + B(86), &answers);
    EXPECT_EQ(answers, WONT + B(24) + DONT + B(31) + WONT + B(86));
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
    Feed(port, DO + B(44), &answers);
    EXPECT_EQ(answers, Sub(B(1) + B(0) + B(1) + B(0xC2) + B(0)) + Sub(B(2) + B(7)) + Sub(B(3) + B(3)) +
                           Sub(B(4) + B(3)) + Sub(B(5) + B(3)) + Sub(B(5) + B(9)) + Sub(B(5) + B(11)) +
                           Sub(B(11) + B(0xF0)));
    port.SetBreak(true);
    port.SetBreak(false);
    port.SetFlowControl(false);
    port.SetRts(false);
    EXPECT_EQ(Output(port), Sub(B(5) + B(5)) + Sub(B(5) + B(6)) + Sub(B(5) + B(1)) + Sub(B(5) + B(12)));
    // A speed byte of 0xFF is doubled inside the subnegotiation.
    port.SetSettings({0xFF00, Parity::None, 8, StopBits::One});
    EXPECT_EQ(Output(port), Sub(B(1) + B(0) + B(0) + IAC + IAC + B(0)) + Sub(B(2) + B(8)) + Sub(B(3) + B(1)) +
                                Sub(B(4) + B(1)));
    port.SetSettings({300, Parity::Odd, 5, StopBits::Two});
    EXPECT_NE(Output(port).find(Sub(B(2) + B(5)) + Sub(B(3) + B(2)) + Sub(B(4) + B(2))), std::string::npos);
    port.SetSettings({300, Parity::Mark, 8, StopBits::One});
    EXPECT_NE(Output(port).find(Sub(B(3) + B(4))), std::string::npos);
    port.SetSettings({300, Parity::Space, 8, StopBits::One});
    EXPECT_NE(Output(port).find(Sub(B(3) + B(5))), std::string::npos);
}

TEST(TelnetComPort, DataIsEightBitCleanBothWays) {
    TelnetComPort port;
    Accept(port);
    const std::string data(
        "a\xff"
        "b\r\0c",
        6);
    EXPECT_EQ(port.Send(reinterpret_cast<const uint8_t*>(data.data()), 6), 6u);
    EXPECT_EQ(Output(port), std::string("a\xff\xff"
                                        "b\r\0c",
                                        7));  // no CR NUL games
    EXPECT_EQ(Feed(port, std::string("x\xff\xffy\r\0z", 7)), std::string("x\xffy\r\0z", 6));
    // Cut anywhere: an IAC ending a block, a notification over three blocks.
    std::string split = Feed(port, "a" + IAC);
    split += Feed(port, IAC + "b");
    for (const std::string& block : {IAC + "\xfa" + B(44) + B(107), B(0xB3) + IAC, std::string("\xf0q")})
        split += Feed(port, block);
    EXPECT_EQ(split,
              "a\xff"
              "bq");
    uint8_t bits = 0;
    ASSERT_TRUE(port.ModemState(&bits));
    EXPECT_EQ(bits, ModemDcd | ModemDsr | ModemCts);  // the delta bits dropped
    // Sending stops where the buffer is full, never inside an IAC pair.
    std::string ffs(TelnetComPort::OutputCapacity, '\xff');
    EXPECT_EQ(port.Send(reinterpret_cast<const uint8_t*>(ffs.data()), 4096), 2048u);
    EXPECT_EQ(port.OutputLength(), TelnetComPort::OutputCapacity);
}

TEST(TelnetComPort, RefusalIsACommandNeverData) {
    TelnetComPort port;
    port.Reset();
    Output(port);
    port.SetSettings(DefaultLineSettings);
    EXPECT_EQ(Feed(port, IAC + DONT + B(44)), "\xff\xfe,");  // an escaped 0xFF, then data
    EXPECT_EQ(port.State(), ComPortState::Negotiating);
    Feed(port, DONT + B(44));
    EXPECT_EQ(port.State(), ComPortState::Refused);
    EXPECT_EQ(Output(port), "");  // no settings for a server that refused
}

TEST(TelnetComPort, GarbageHasDefinedResults) {
    TelnetComPort port;
    Accept(port);
    uint8_t bits;
    std::string answers;
    // Answers, a notification without its byte, an empty one: nothing changes.
    EXPECT_EQ(
        Feed(port,
             Sub(B(101) + B(0) + B(0) + B(0x4B) + B(0)) + Sub(B(105) + B(3)) + Sub(B(107)) + Sub("") + "ok",
             &answers),
        "ok");
    EXPECT_FALSE(port.ModemState(&bits));
    // Compression nobody asked for stays off; environment and terminal-type
    // requests go unanswered.
    EXPECT_EQ(Feed(port, Sub("", 86) + "plain" + Sub(B(1) + B(0) + "USER", 39) + Sub(B(1), 24), &answers),
              "plain");
    EXPECT_EQ(answers, "");
    EXPECT_EQ(port.State(), ComPortState::Accepted);
    EXPECT_FALSE(port.Broken());
}

TEST(TelnetComPort, AnOverLongSubnegotiationIsDroppedNeverData) {
    TelnetComPort port;
    Accept(port);
    EXPECT_FALSE(port.TakeDiscarded());
    // Past libtelnet's own buffer, of ours and of any other option, with
    // escaped 0xFF bytes and an IAC SE split across blocks by Feed's room.
    std::string body(1 << 20, 'x');
    for (size_t i = 0; i < body.size(); i += 1000) body.replace(i, 1, IAC + IAC);
    EXPECT_EQ(Feed(port, "a" + Sub(body) + "b" + Sub(body, 24) + "c"), "abc");
    EXPECT_TRUE(port.TakeDiscarded());
    EXPECT_FALSE(port.TakeDiscarded());  // said once
    // One just within the limit is kept: a modem state still counts.
    uint8_t bits = 0;
    EXPECT_EQ(
        Feed(port, Sub(B(107) + B(0x10) + std::string(TelnetComPort::SubnegotiationLimit - 2, 'y')) + "d"),
        "d");
    EXPECT_FALSE(port.TakeDiscarded());
    EXPECT_TRUE(port.ModemState(&bits) && bits == 0x10);
    // A command inside a dropped one ends it and still counts.
    const std::string unended =
        IAC + "\xfa" + B(44) + std::string(TelnetComPort::SubnegotiationLimit + 10, 'z');
    EXPECT_EQ(Feed(port, unended + DONT + B(44) + "e"), "e");
    EXPECT_EQ(port.State(), ComPortState::Refused);
    EXPECT_EQ(Feed(port, "f"), "f");
    EXPECT_FALSE(port.Broken());
}

TEST(TelnetComPort, AFloodOfRequestsWaitsForTheAnswersToGoOut) {
    TelnetComPort port;
    Accept(port);
    std::string flood;
    for (int i = 0; i < 3000; ++i) flood += WILL + B(31);
    unsigned count = 0;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&flood[0]);
    unsigned taken = port.Receive(bytes, static_cast<unsigned>(flood.size()), bytes, &count);
    EXPECT_LT(taken, flood.size());
    std::string answers = Output(port);
    Feed(port, flood.substr(taken), &answers);
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
    ASSERT_TRUE(ParseNetworkDevice("TCP://[fe80::1]:65535", &address, &problem));
    EXPECT_EQ(address.protocol, NetworkProtocol::RawTcp);
    EXPECT_STREQ(address.host, "fe80::1");
    FormatNetworkName(address, name, sizeof name);
    EXPECT_STREQ(name, "[fe80::1]:65535");
    EXPECT_TRUE(IsNetworkDevice("tcp://"));
    EXPECT_FALSE(IsNetworkDevice("/dev/ttyUSB0"));
    const char* const Faults[][2] = {
        {"tcp://host", "give the port"},       {"tcp://host:", "give the port"},
        {"tcp://[::1]", "give the port"},      {"tcp://:23", "host is empty"},
        {"tcp://[]:23", "host is empty"},      {"tcp://[::1:23", "closing ]"},
        {"tcp://::1:23", "in brackets"},       {"tcp://host:0", "1 to 65535"},
        {"tcp://host:65536", "1 to 65535"},    {"tcp://host:23/x", "1 to 65535"},
        {"tcp://h:99999999999", "1 to 65535"}, {"/dev/ttyS0", "starts with"},
    };
    for (const auto& fault : Faults) {
        EXPECT_FALSE(ParseNetworkDevice(fault[0], &address, &problem)) << fault[0];
        EXPECT_NE(std::string(problem).find(fault[1]), std::string::npos) << fault[0];
    }
}

}  // namespace

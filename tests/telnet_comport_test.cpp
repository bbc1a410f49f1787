// The Telnet layer of network lines as bytes in, bytes out, and the device
// forms that name those lines.
#include <gtest/gtest.h>

#include <string>

#include "console/line/comport_server.h"
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

// The port server's side: client bytes in, data, requests and answers out.
std::string ServerOut(ComPortServer& server) {
    std::string out(reinterpret_cast<const char*>(server.Output()), server.OutputLength());
    server.Consumed(server.OutputLength());
    return out;
}

std::string ServerFeed(ComPortServer& server, std::string input) {
    std::string data;
    for (size_t offset = 0; offset < input.size();) {
        unsigned count = 0;
        uint8_t* at = reinterpret_cast<uint8_t*>(&input[offset]);
        unsigned taken = server.Receive(at, static_cast<unsigned>(input.size() - offset), at, &count);
        data.append(reinterpret_cast<const char*>(at), count);
        offset += taken;
        if (taken == 0) return data + "(stuck)";
    }
    return data;
}

TEST(ComPortServer, OffersOnceAndAnswersOnlyChangesOfState) {
    ComPortServer server;
    EXPECT_EQ(ServerOut(server),
              WILL + B(0) + WILL + B(3) + WILL + B(1) + DO + B(0) + DO + B(3) + DO + B(44));
    // Answers to our own offers need no reply; a client's own offer of an
    // option we want is accepted once; anything else is refused.
    ServerFeed(server, WILL + B(44) + DO + B(0) + DO + B(1) + WILL + B(0));
    EXPECT_EQ(ServerOut(server), "");
    EXPECT_TRUE(server.PortAgreed());
    ServerFeed(server, WILL + B(24) + DO + B(5) + WILL + B(1) + WONT + B(24) + DONT + B(5));
    EXPECT_EQ(ServerOut(server), DONT + B(24) + WONT + B(5) + DONT + B(1));
    // A withdrawal is answered once; the same again changes nothing.
    ServerFeed(server, DONT + B(1) + DONT + B(1) + WONT + B(44) + WONT + B(44));
    EXPECT_EQ(ServerOut(server), WONT + B(1) + DONT + B(44));
    EXPECT_FALSE(server.PortAgreed());
    ServerFeed(server, WILL + B(44));
    EXPECT_EQ(ServerOut(server), DO + B(44));
    // A client that took our DO as the answer to its own request never
    // says WILL: its first request says it speaks the option.
    ComPortServer quiet;
    ServerOut(quiet);
    EXPECT_FALSE(quiet.PortAgreed());
    ServerFeed(quiet, Sub("\x0c\x01"));
    EXPECT_TRUE(quiet.PortAgreed());
    EXPECT_TRUE(quiet.WantsState());
}

TEST(ComPortServer, RequestsAndAnswersAsFixedBytes) {
    ComPortServer server;
    ServerOut(server);
    // 115200 baud, 7 bits, even, two stops, DTR off, RTS on, a BREAK, a purge,
    // a query of the speed, the masks, a signature request.
    std::string requests = Sub("\x01" + B(0) + B(1) + B(0xc2) + B(0)) + Sub("\x02\x07") + Sub("\x03\x03") +
                           Sub("\x04\x02") + Sub("\x05\x09") + Sub("\x05\x0b") + Sub("\x05\x05") +
                           Sub("\x0c\x03") + Sub("\x01" + std::string(4, '\0')) + Sub("\x0b\xff\xff") +
                           Sub("\x0a" + B(0)) + Sub(std::string(1, '\0'));
    EXPECT_EQ(ServerFeed(server, requests), "");
    const uint32_t expected[][2] = {{1, 115200}, {2, 7},  {3, 3}, {4, 2},    {5, 9},  {5, 11},
                                    {5, 5},      {12, 3}, {1, 0}, {11, 255}, {10, 0}, {0, 0}};
    for (const auto& want : expected) {
        ComPortRequest request;
        ASSERT_TRUE(server.TakeRequest(&request));
        EXPECT_EQ(uint32_t(request.command), want[0]);
        EXPECT_EQ(request.value, want[1]);
    }
    ComPortRequest none;
    EXPECT_FALSE(server.TakeRequest(&none));
    // Answers are the command + 100 with the value in force, 0xFF doubled.
    ASSERT_TRUE(server.Answer(ComPortCommand::SetBaudrate, 115200));
    ASSERT_TRUE(server.Answer(ComPortCommand::SetBaudrate, 0xff));
    ASSERT_TRUE(server.Answer(ComPortCommand::SetParity, 1));
    ASSERT_TRUE(server.Answer(ComPortCommand::FlowSuspend, 0));
    ASSERT_TRUE(server.AnswerSignature("brisvane"));
    EXPECT_EQ(ServerOut(server), Sub("\x65" + B(0) + B(1) + B(0xc2) + B(0)) +
                                     Sub("\x65" + std::string(3, '\0') + IAC + IAC) + Sub("\x67\x01") +
                                     Sub("\x64"
                                         "brisvane"));
    // A command cut short or unknown, and one the server sends, are no requests.
    ServerFeed(server, Sub("\x01" + B(0) + B(1)) + Sub("\x05") + Sub("\x6b\x10") + Sub("\x30\x01") +
                           Sub("\x01\x00", 24));
    EXPECT_FALSE(server.TakeRequest(&none));
}

TEST(ComPortServer, DataBothWaysAndHostileSubnegotiations) {
    ComPortServer server;
    ServerOut(server);
    // Before binary mode a Telnet client's CR is CR NUL; after it, NUL is data.
    EXPECT_EQ(ServerFeed(server, "a\r" + B(0) + "b" + IAC + IAC + "c" + IAC + "\xf1" + "d"),
              "a\rb\xff"
              "cd");
    ServerFeed(server, WILL + B(0));
    EXPECT_EQ(ServerFeed(server, "\r" + B(0)), "\r" + B(0));
    const uint8_t bytes[] = {'x', 0xff, 'y', 0xff};
    EXPECT_EQ(server.Send(bytes, 4), 4u);
    EXPECT_EQ(ServerOut(server), "x" + IAC + IAC + "y" + IAC + IAC);
    // Past the limit a subnegotiation is dropped up to its end and said once;
    // IAC then another command cuts one short, and the command counts.
    std::string endless = IAC + "\xfa" + B(44) + "\x01" + std::string(10000, 'z') + IAC + "\xf0";
    EXPECT_EQ(ServerFeed(server, endless + "after"), "after");
    EXPECT_TRUE(server.TakeDiscarded());
    EXPECT_FALSE(server.TakeDiscarded());
    EXPECT_EQ(ServerFeed(server, IAC + "\xfa" + B(44) + "\x02\x07" + IAC + "\xfb" + B(24) + "ok"), "ok");
    EXPECT_EQ(ServerOut(server), DONT + B(24));
    ComPortRequest request;
    EXPECT_FALSE(server.TakeRequest(&request));
    // Requests beyond the queue wait in the client's bytes, none lost.
    std::string many;
    for (unsigned i = 0; i < ComPortServer::RequestCapacity + 5; ++i) many += Sub("\x02\x08");
    std::string input = many;
    unsigned count = 0, seen = 0;
    for (size_t offset = 0; offset < input.size();) {
        uint8_t* at = reinterpret_cast<uint8_t*>(&input[offset]);
        offset += server.Receive(at, static_cast<unsigned>(input.size() - offset), at, &count);
        while (server.TakeRequest(&request)) ++seen;
    }
    EXPECT_EQ(seen, ComPortServer::RequestCapacity + 5);
}

TEST(ComPortServer, ModemAndLineStateGoWhereTheClientAskedForThem) {
    ComPortServer server;
    ServerOut(server);
    EXPECT_TRUE(server.NotifyModem(0x30));  // the default mask: every input
    EXPECT_TRUE(server.NotifyModem(0x30));  // no change: nothing
    EXPECT_TRUE(server.NotifyLine(0x60));   // the line's mask is 0 until asked
    EXPECT_EQ(ServerOut(server), Sub("\x6b\x30"));
    server.Answer(ComPortCommand::SetModemstateMask, 0x80);
    server.Answer(ComPortCommand::SetLinestateMask, 0x60);
    ServerOut(server);
    EXPECT_TRUE(server.NotifyModem(0x90));  // first after the mask: DCD only
    EXPECT_TRUE(server.NotifyModem(0xa0));  // CTS left, DSR came: masked out
    EXPECT_TRUE(server.NotifyModem(0x20));  // DCD dropped
    EXPECT_TRUE(server.NotifyLine(0x60));
    EXPECT_EQ(ServerOut(server), Sub("\x6b\x80") + Sub("\x6b" + B(0)) + Sub("\x6a\x60"));
    // A client's poll has the state sent again though nothing changed.
    std::string poll = Sub("\x07") + Sub("\x06");
    uint8_t data[16];
    unsigned count = 0;
    EXPECT_EQ(
        server.Receive(reinterpret_cast<const uint8_t*>(poll.data()), unsigned(poll.size()), data, &count),
        unsigned(poll.size()));
    ComPortRequest request;
    EXPECT_FALSE(server.TakeRequest(&request));
    EXPECT_TRUE(server.NotifyModem(0x20));
    EXPECT_TRUE(server.NotifyLine(0x60));
    EXPECT_EQ(ServerOut(server), Sub("\x6b" + B(0)) + Sub("\x6a\x60"));
}

TEST(ComPortServer, TheServedLinesStateAsAPortServerReportsIt) {
    ModemLines lines = {};
    EXPECT_EQ(ComPortModemBits(true, false, lines, ComPortNoState), 0xb0);  // a pty: a connected cable
    lines.cts = lines.dsr = true;
    uint8_t up = ComPortModemBits(true, true, lines, ComPortNoState);
    EXPECT_EQ(up, 0x30);
    lines.dcd = lines.ri = true;
    EXPECT_EQ(ComPortModemBits(true, true, lines, up), 0xf8);  // DCD and RI came: delta DCD only
    lines.ri = false;
    EXPECT_EQ(ComPortModemBits(true, true, lines, 0xf0), 0xb4);   // RI's trailing edge
    EXPECT_EQ(ComPortModemBits(false, true, lines, 0xb0), 0x0b);  // the line went: every input down
    EXPECT_EQ(ComPortModemBits(false, false, lines, 0x00), 0x00);
    EXPECT_EQ(ComPortLineBits(true), 0x60);
    EXPECT_EQ(ComPortLineBits(false), 0x70);
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

// The shared line's own rules: a client's bounded buffer, the --share forms,
// and a client's keys when the output pump is full; for a served line, the
// wire, the snapshot an attaching client restores, who may attach, the
// roster's roles and log rotation. (A slow client's drop is seen whole in
// tests/console/test_share.py.) And the browser pages' rules: what a page's
// keys send, what a page is shown, who gets in (pages in a real browser in
// tests/console/test_web.py). And mDNS: the TXT keys a served line
// advertises, the table of lines found, and avahi's events on the loop
// (advertising and finding for real in tests/console/test_mdns.py).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "console/features/mdns/avahi_poll.h"
#include "console/program/session.h"
#include "console/rules/mdns_records.h"
#include "console/program/send.h"
#include "console/features/share.h"
#include "console/features/serve/clients.h"
#include "console/features/serve/access.h"
#include "console/features/serve/attach_line.h"
#include "console/features/log.h"
#include "console/rules/log_rotation.h"
#include "console/features/serve/door.h"
#include "console/line/clock.h"
#include "console/rules/roster.h"
#include "console/features/serve/server.h"
#include "console/rules/snapshot.h"
#include "console/rules/wire.h"
#include "core/interpreter.h"
#include "core/output_queue.h"
#include "console/rules/web_auth.h"
#include "console/rules/web_input.h"
#include "console/rules/web_view.h"
#include "tests/support/with_front.h"

namespace {

std::string Take(ShareBuffer& buffer) {
    std::string out;
    unsigned n;
    while (!buffer.Empty()) {
        const uint8_t* run = buffer.Front(&n);
        out.append(reinterpret_cast<const char*>(run), n);
        buffer.Consume(n);
    }
    return out;
}

const uint8_t* U(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

TEST(ShareBuffer, KeepsOrderAcrossTheWrapAndRefusesWhatDoesNotFitWhole) {
    ShareBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(8));
    EXPECT_TRUE(buffer.Append(U("abcdef"), 6));
    unsigned n;
    buffer.Front(&n);
    buffer.Consume(4);                           // "ef" left, at the end of the ring
    EXPECT_TRUE(buffer.Append(U("ghijkl"), 6));  // wraps
    EXPECT_FALSE(buffer.Append(U("m"), 1));      // full: refused, nothing cut
    EXPECT_EQ(buffer.Used(), 8u);
    EXPECT_EQ(Take(buffer), "efghijkl");
    EXPECT_TRUE(buffer.Append(U("12345678"), 8));
    EXPECT_FALSE(buffer.Append(U("9"), 1));
    EXPECT_EQ(Take(buffer), "12345678");
    // Masked on the way in, across the wrap too: bit 7 cleared, nothing else.
    EXPECT_TRUE(buffer.Append(U("abcde"), 5));
    buffer.Consume(5);
    EXPECT_TRUE(buffer.Append(U("\xc1\xe2\x7f\xff\x80z"), 6, 0x7F));
    EXPECT_EQ(Take(buffer), std::string("Ab\x7f\x7f\0z", 6));
    buffer.Release();
    EXPECT_FALSE(buffer.Append(U("x"), 1));  // no room at all once given back
    EXPECT_TRUE(buffer.Empty());
}

TEST(ShareAddress, ReadsTheThreeFormsAndRefusesTheRest) {
    ShareAddress a;
    const char* problem;
    ASSERT_TRUE(ParseShareAddress("unix:/tmp/s", &a, &problem));
    EXPECT_TRUE(a.unixSocket);
    EXPECT_STREQ(a.path, "/tmp/s");
    ASSERT_TRUE(ParseShareAddress("tcp:7000", &a, &problem));
    EXPECT_FALSE(a.unixSocket);
    EXPECT_STREQ(a.host, "127.0.0.1");  // loopback unless an address is named
    EXPECT_STREQ(a.port, "7000");
    ASSERT_TRUE(ParseShareAddress("tcp:0.0.0.0:65535", &a, &problem));
    EXPECT_STREQ(a.host, "0.0.0.0");
    ASSERT_TRUE(ParseShareAddress("tcp:[::1]:7000", &a, &problem));
    EXPECT_STREQ(a.host, "::1");
    std::string longPath = "unix:/" + std::string(SharePathCapacity, 'x');
    for (const char* bad : {"", "unix:", "tcp:", "tcp:0", "tcp:65536", "tcp:12x", "tcp::7000", "tcp:::1:7000",
                            "tcp:host:", "udp:7000", "/tmp/s", longPath.c_str()}) {
        EXPECT_FALSE(ParseShareAddress(bad, &a, &problem)) << bad;
    }
}

// A share whose one client is the near end of a socket pair; the test holds the far end.
struct Fixture {
    std::unique_ptr<Share> share{new Share()};
    std::unique_ptr<FrontEnd> front = ScreenFrontEnd();
    std::unique_ptr<Session> console{WithFront(new Session(), front.get())};
    OutputPump* pump = &console->pump;
    Notice notice = {};
    int far = -1;

    Fixture() {
        int ends[2];
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends);
        share->client[0].fd = ends[0];
        ClientSeat(share->client[0]);
        share->clients = 1;
        far = ends[1];
        DefaultOptions(&console->options);
        console->link.state = LinkState::Open;
        share->listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);  // never connected to
    }
    ~Fixture() {
        CloseShare(*share);
        close(far);
    }
};

TEST(Share, AClientsKeysWaitForRoomInThePumpInsteadOfBeingLost) {
    Fixture f;
    static uint8_t filler[TypedCapacity - 2];
    ASSERT_TRUE(f.pump->Queue(filler, sizeof filler, false));
    ASSERT_EQ(write(f.far, "abcd", 4), 4);
    ShareTargets targets = {f.notice, true, SendFromShare, f.console.get()};
    struct pollfd fds[ShareMaxDescriptors] = {};
    ShareDescriptors(*f.share, targets, fds);
    fds[1].revents = POLLIN;
    ServeShare(*f.share, targets, fds, ShareMaxDescriptors);
    EXPECT_EQ(f.pump->Waiting(), TypedCapacity);  // "ab" in, "cd" waits
    ShareDescriptors(*f.share, targets, fds);
    EXPECT_EQ(fds[1].events & POLLIN, 0);  // not read meanwhile
    f.pump->Clear();
    ShareDescriptors(*f.share, targets, fds);
    EXPECT_EQ(f.pump->Waiting(), 2u);
    EXPECT_NE(fds[1].events & POLLIN, 0);
    // Bit 7 as typed keys have it: clear by default.
    f.pump->StageQueued(0, 0);
    unsigned n;
    const uint8_t* staged = f.pump->Pending(&n);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(staged[0], 'c');
}

// The client layer's one drop rule: a client that never reads is marked
// once its backlog is full, whole messages only, and a reader beside it
// loses nothing.
TEST(Share, AClientThatNeverReadsIsMarkedAndTheReaderBesideItLosesNothing) {
    ClientSocket table[2];
    int far[2];
    for (unsigned i = 0; i < 2; ++i) {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends), 0);
        table[i].fd = ends[0];
        far[i] = ends[1];
        ASSERT_TRUE(ClientSeat(table[i]));
    }
    static uint8_t block[64 << 10];
    static uint8_t got[64 << 10];
    uint64_t sent = 0, read = 0;
    bool full[2] = {};
    for (unsigned round = 0; round < 64 && !full[1]; ++round) {
        ClientFanOut(
            table, [](const ClientSocket&) { return true; }, block, sizeof block, full);
        sent += sizeof block;
        ASSERT_TRUE(ClientFlush(table[0]));
        ASSERT_TRUE(ClientFlush(table[1]));
        for (ssize_t n; (n = recv(far[0], got, sizeof got, MSG_DONTWAIT)) > 0;) read += uint64_t(n);
    }
    EXPECT_TRUE(full[1]);   // its backlog filled: its owner drops it
    EXPECT_FALSE(full[0]);  // never behind for the other
    while (!table[0].backlog.Empty()) {
        ASSERT_TRUE(ClientFlush(table[0]));
        for (ssize_t n; (n = recv(far[0], got, sizeof got, MSG_DONTWAIT)) > 0;) read += uint64_t(n);
    }
    for (ssize_t n; (n = recv(far[0], got, sizeof got, MSG_DONTWAIT)) > 0;) read += uint64_t(n);
    EXPECT_EQ(read, sent);
    // A header and its payload go whole or not at all.
    ClientSocket lone;
    ASSERT_TRUE(ClientSeat(lone));
    while (lone.backlog.Room() > sizeof block) ASSERT_TRUE(ClientQueue(lone, block, sizeof block));
    unsigned used = lone.backlog.Used();
    EXPECT_FALSE(ClientQueue(lone, block, 4, block, sizeof block));
    EXPECT_EQ(lone.backlog.Used(), used);
    EXPECT_TRUE(ClientQueue(lone, block, 4, block, sizeof block - 4));
    EXPECT_EQ(lone.backlog.Room(), 0u);
    for (unsigned i = 0; i < 2; ++i) {
        ClientClose(table[i]);
        close(far[i]);
    }
}

// --- The wire.

// Every message `stream` holds, decoded from pieces of `piece` bytes.
std::vector<std::pair<WireType, std::string>> Decode(const std::vector<uint8_t>& stream, unsigned piece,
                                                     std::string* problem = nullptr) {
    static WireDecoder decoder;
    decoder.Reset();
    std::vector<std::pair<WireType, std::string>> out;
    for (unsigned at = 0; at < stream.size();) {
        unsigned n = std::min<unsigned>(piece, unsigned(stream.size()) - at);
        at += decoder.Feed(&stream[at], n);
        WireMessage m;
        const char* why = nullptr;
        WireStatus status;
        while ((status = decoder.Next(&m, &why)) == WireStatus::Message) {
            out.emplace_back(m.type, std::string(reinterpret_cast<const char*>(m.payload), m.length));
        }
        if (status == WireStatus::Error) {
            if (problem != nullptr) *problem = why;
            return out;
        }
    }
    EXPECT_EQ(decoder.Pending(), 0u);
    return out;
}

WireMessage AsMessage(const std::pair<WireType, std::string>& decoded) {
    return {decoded.first, reinterpret_cast<const uint8_t*>(decoded.second.data()),
            unsigned(decoded.second.size())};
}

void Append(std::vector<uint8_t>& stream, const uint8_t* bytes, unsigned n) {
    ASSERT_GT(n, 0u);
    stream.insert(stream.end(), bytes, bytes + n);
}

TEST(Wire, EveryMessageSurvivesAnySplitAndReadsBackAsWritten) {
    uint8_t out[WireMaxMessage];
    std::vector<uint8_t> stream;
    WireHello hello = {};
    hello.version = WireVersion;
    hello.ask = WireAsk::Take;
    hello.kind = WireClientKind::Person;
    std::strcpy(hello.name.text, "ana");
    hello.tokenLength = 5;
    std::memcpy(hello.token, "s\0\nc\xff", 5);
    Append(stream, out, PutHello(out, sizeof out, hello));
    std::vector<uint8_t> data(WireMaxPayload);
    for (unsigned i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    Append(stream, out, PutData(out, sizeof out, data.data(), unsigned(data.size())));
    WireRoster roster = {};
    roster.count = 2;
    roster.entry[0] = {3, WireRole::Writing, WireClientKind::Script, 1700000000, 0, {}, {}};
    roster.entry[1] = {9, WireRole::Watching, WireClientKind::Browser, -1, 70000, {}, {}};
    std::strcpy(roster.entry[1].name.text, "bo");
    roster.entry[1].name.length = 2;
    std::strcpy(roster.entry[1].from.text, "[::1]:40112");
    roster.entry[1].from.length = 11;
    Append(stream, out, PutRoster(out, sizeof out, roster));
    WireControlMessage settings = {WireControl::Settings, 0, {}};
    std::strcpy(settings.settings.text, "115200,e,7,2");
    Append(stream, out, PutControl(out, sizeof out, settings));
    Append(stream, out, PutEmpty(out, sizeof out, WireType::Take));
    Append(stream, out, PutRoleChange(out, sizeof out, {WireRole::Watching, 9, {2, "bo"}}));
    WireLineState line = {false, true, 9, {12, "115200,n,8,1"}, {10, "/dev/ttyS0"}, {2, "bo"}};
    Append(stream, out, PutLineState(out, sizeof out, line));

    for (unsigned piece : {1u, 3u, 4096u, 1u << 20}) {
        auto messages = Decode(stream, piece);
        ASSERT_EQ(messages.size(), 7u) << piece;
        WireHello h;
        ASSERT_TRUE(ReadHello(AsMessage(messages[0]), &h));
        EXPECT_EQ(h.ask, WireAsk::Take);
        EXPECT_STREQ(h.name.text, "ana");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(h.token), h.tokenLength), std::string("s\0\nc\xff", 5));
        EXPECT_EQ(messages[1].second, std::string(data.begin(), data.end()));
        WireRoster r;
        ASSERT_TRUE(ReadRoster(AsMessage(messages[2]), &r));
        EXPECT_EQ(r.count, 2u);
        EXPECT_EQ(r.entry[0].since, 1700000000);
        EXPECT_EQ(r.entry[1].since, -1);
        EXPECT_STREQ(r.entry[1].name.text, "bo");
        EXPECT_STREQ(r.entry[1].from.text, "[::1]:40112");
        EXPECT_EQ(r.entry[1].idle, 70000u);
        WireControlMessage c;
        ASSERT_TRUE(ReadControl(AsMessage(messages[3]), &c));
        EXPECT_STREQ(c.settings.text, "115200,e,7,2");
        EXPECT_EQ(messages[4].first, WireType::Take);
        WireRoleChange change;
        ASSERT_TRUE(ReadRoleChange(AsMessage(messages[5]), &change));
        EXPECT_STREQ(change.byName.text, "bo");
        WireLineState l;
        ASSERT_TRUE(ReadLineState(AsMessage(messages[6]), &l));
        EXPECT_FALSE(l.open);
        EXPECT_TRUE(l.hardwareFlow);
        EXPECT_EQ(l.by, 9);
        EXPECT_STREQ(l.settings.text, "115200,n,8,1");
        EXPECT_STREQ(l.awaiting.text, "/dev/ttyS0");
        EXPECT_STREQ(l.byName.text, "bo");
    }
    // Data over the limit is the caller's fault, and is not written.
    data.push_back(0);
    EXPECT_EQ(PutData(out, sizeof out, data.data(), unsigned(data.size())), 0u);
    EXPECT_EQ(PutData(out, 10, data.data(), 7), 0u);
}

TEST(Wire, ABrokenStreamIsAnErrorBeforeItsPayloadIsWaitedFor) {
    std::string problem;
    // A type not known.
    Decode({42, 0, 0, 0}, 1, &problem);
    EXPECT_NE(problem.find("type"), std::string::npos);
    // A length over its type's limit, said from the header alone.
    problem.clear();
    Decode({uint8_t(WireType::Data), 0xff, 0xff, 0xff}, 4, &problem);
    EXPECT_NE(problem.find("longer"), std::string::npos);
    problem.clear();
    Decode({uint8_t(WireType::Take), 0, 0, 1, 0}, 5, &problem);
    EXPECT_FALSE(problem.empty());

    // Payloads that do not parse exactly.
    auto read = [](WireType type, std::vector<uint8_t> payload) {
        return WireMessage{type, payload.data(), unsigned(payload.size())};
    };
    WireControlMessage c;
    std::vector<uint8_t> dtrTwo = {uint8_t(WireControl::Dtr), 2};
    EXPECT_FALSE(ReadControl(read(WireType::Control, dtrTwo), &c));
    std::vector<uint8_t> breakLong = {uint8_t(WireControl::Break), 0, 0};
    EXPECT_FALSE(ReadControl({WireType::Control, breakLong.data(), 3}, &c));
    WireRoster r;
    std::vector<uint8_t> tooMany = {uint8_t(WireRosterMax + 1)};
    EXPECT_FALSE(ReadRoster({WireType::Roster, tooMany.data(), 1}, &r));
    // A roster's texts are cut to WireRosterTextMax; a longer one is not ours.
    std::vector<uint8_t> longName = {1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64};
    longName.resize(longName.size() + 64, 'a');
    longName.push_back(0);
    EXPECT_FALSE(ReadRoster({WireType::Roster, longName.data(), unsigned(longName.size())}, &r));
    longName[17] = 63;
    longName.erase(longName.begin() + 18);
    EXPECT_TRUE(ReadRoster({WireType::Roster, longName.data(), unsigned(longName.size())}, &r));
    std::vector<uint8_t> shortText = {5, 'a'};
    WireText text;
    EXPECT_FALSE(ReadText({WireType::Notice, shortText.data(), 2}, &text));
    WireHello h;
    std::vector<uint8_t> helloBigToken = {0, 1, 0, 0, 0, 200};
    EXPECT_FALSE(ReadHello({WireType::Hello, helloBigToken.data(), 6}, &h));
    // Another version reads only as far as its version, to be refused by it.
    std::vector<uint8_t> future = {0, 9, 1, 2, 3};
    ASSERT_TRUE(ReadHello({WireType::Hello, future.data(), 5}, &h));
    EXPECT_EQ(h.version, 9);
}

// Every type's bytes, written out by hand: a change to the encoder and the
// decoder together still changes what an older peer reads, and fails here.
TEST(Wire, EachTypeEncodesToItsFixedBytes) {
    uint8_t out[WireMaxMessage];
    std::vector<uint8_t> stream;
    WireHello hello = {};
    hello.version = 3;
    hello.ask = WireAsk::Take;
    hello.kind = WireClientKind::Script;
    std::strcpy(hello.name.text, "ana");
    hello.tokenLength = 2;
    std::memcpy(hello.token, "k\0", 2);
    hello.past = WirePast::Wrote;
    Append(stream, out, PutHello(out, sizeof out, hello));
    Append(stream, out, PutWelcome(out, sizeof out, {3, WireRole::Writing, 0x0102, 0x0a0b}));
    Append(stream, out, PutText(out, sizeof out, WireType::Refusal, "no"));
    Append(stream, out, PutText(out, sizeof out, WireType::Notice, "hi"));
    Append(stream, out, PutData(out, sizeof out, U("\x00\xff\r"), 3));
    Append(stream, out, PutData(out, sizeof out, U("x"), 1, WireType::Typed));
    Append(stream, out, PutData(out, sizeof out, U("y"), 1, WireType::TypedText));
    Append(stream, out, PutControl(out, sizeof out, {WireControl::Dtr, 1, {}}));
    WireControlMessage settings = {WireControl::Settings, 0, {}};
    std::strcpy(settings.settings.text, "9600,n,8,1");
    Append(stream, out, PutControl(out, sizeof out, settings));
    Append(stream, out, PutControlDone(out, sizeof out, WireControl::Rts, 1));
    WireRoster roster = {};
    roster.count = 1;
    roster.entry[0] = {
        0x0203, WireRole::Watching, WireClientKind::Browser, 0x0102030405060708, 0x00010203, {}, {}};
    std::strcpy(roster.entry[0].name.text, "bo");
    std::strcpy(roster.entry[0].from.text, "u 1");
    Append(stream, out, PutRoster(out, sizeof out, roster));
    Append(stream, out, PutRoleChange(out, sizeof out, {WireRole::Watching, 9, {2, "bo"}}));
    Append(stream, out, PutEmpty(out, sizeof out, WireType::Take));
    Append(stream, out, PutEmpty(out, sizeof out, WireType::Give));
    Append(stream, out,
           PutLineState(out, sizeof out, {true, false, 9, {10, "9600,n,8,1"}, {1, "d"}, {2, "bo"}}));
    Append(stream, out, PutEmpty(out, sizeof out, WireType::Who));
    // clang-format off
    const std::vector<uint8_t> fixed = {
        0x01, 0, 0, 12, 0, 3, 2, 1, 3, 'a', 'n', 'a', 2, 'k', 0, 2,         // Hello
        0x02, 0, 0, 13, 0, 3, 1, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0x0a, 0x0b,  // Welcome
        0x03, 0, 0, 3, 2, 'n', 'o',                                         // Refusal
        0x0d, 0, 0, 3, 2, 'h', 'i',                                         // Notice
        0x07, 0, 0, 3, 0x00, 0xff, '\r',                                    // Data
        0x0f, 0, 0, 1, 'x',                                                 // Typed
        0x11, 0, 0, 1, 'y',                                                 // TypedText
        0x08, 0, 0, 2, 2, 1,                                                // Control: DTR on
        0x08, 0, 0, 13, 5, 0, 10, '9', '6', '0', '0', ',', 'n', ',', '8', ',', '1',
        0x0e, 0, 0, 2, 3, 1,                                                // ControlDone
        0x09, 0, 0, 24, 1, 0x02, 0x03, 0, 3, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2, 3,   // Roster
        2, 'b', 'o', 3, 'u', ' ', '1',
        0x0a, 0, 0, 6, 0, 0, 9, 2, 'b', 'o',                                // Role
        0x0b, 0, 0, 0,                                                      // Take
        0x0c, 0, 0, 0,                                                      // Give
        0x12, 0, 0, 19, 1, 0, 9, 10, '9', '6', '0', '0', ',', 'n', ',', '8', ',', '1',  // LineState
        1, 'd', 2, 'b', 'o',
        0x13, 0, 0, 0,                                                      // Who
    };
    // clang-format on
    EXPECT_EQ(stream, fixed);

    // The snapshot's four: a screen with three cells set, part-way through a
    // cursor address in graphics mode; a chain holding ESC [ after a CR; one
    // history row with a wide cell; the end, counting that row.
    ResetScreen();
    screen.cells[0] = 'h';
    screen.cells[1] = 'i';
    screen.cells[ScreenCells - 1] = 0x2192;
    terminal.row = 1;
    terminal.column = 2;
    terminal.graphicsMode = true;
    terminal.escapeState = EscapeState::ColumnByte;
    terminal.pendingRow = 5;
    History history;
    ASSERT_TRUE(history.Allocate(4));
    Cell row[ScreenColumns];
    for (Cell& cell : row) cell = BlankCell;
    row[0] = 'a';
    row[1] = 'b';
    row[2] = 0x2192;
    history.Push(row);
    AnsiFilter ansi;
    ansi.stage = AnsiFilter::Stage::Csi;
    ansi.heldCount = 2;
    std::memcpy(ansi.held, "\033[", 2);
    ReceivedMap map;
    map.afterReturn = true;
    uint8_t maps = MapInLfCrlf | MapOutDelBs;  // the sent one is the client's own
    SnapshotCursor cursor;
    BeginSnapshot(cursor, history, {&ansi, &map, &maps});
    std::vector<uint8_t> room(2 * WireMaxMessage);
    std::vector<uint8_t> snapshot(
        room.begin(), room.begin() + FillSnapshot(cursor, history, room.data(), unsigned(room.size())));
    ResetScreen();
    std::vector<uint8_t> expected = {0x04, 0, 0x0f, 0x05};  // Screen: 3845 bytes
    for (int i = 0; i < ScreenCells; ++i) expected.insert(expected.end(), {0x00, 0x20});
    expected[4 + 1] = 'h';
    expected[4 + 3] = 'i';
    expected[4 + 2 * ScreenCells - 2] = 0x21;
    expected[4 + 2 * ScreenCells - 1] = 0x92;
    expected.insert(expected.end(), {1, 2, 2, 3, 5});  // row, column, graphics, ColumnByte, row byte
    // clang-format off
    expected.insert(expected.end(), {
        0x10, 0, 0, 7, 5, 1, 2, 0, 2, 0x1b, '[',              // Chain
        0x05, 0, 0, 8, 0, 1, 3, 'a', 'b', 0x80, 0x21, 0x92,   // History
        0x06, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 1,                // HistoryEnd
    });
    // clang-format on
    EXPECT_EQ(snapshot, expected);

    // And the decoder reads the fixed bytes as those types, in that order.
    stream.insert(stream.end(), expected.begin(), expected.end());
    std::vector<WireType> types;
    for (auto& message : Decode(stream, 5)) types.push_back(message.first);
    using T = WireType;
    EXPECT_EQ(types, (std::vector<WireType>{T::Hello,  T::Welcome,   T::Refusal, T::Notice,  T::Data,
                                            T::Typed,  T::TypedText, T::Control, T::Control, T::ControlDone,
                                            T::Roster, T::Role,      T::Take,    T::Give,    T::LineState,
                                            T::Who,    T::Screen,    T::Chain,   T::History, T::HistoryEnd}));
}

// --- The snapshot: what a client restores gives the server's screen, and the
// same screen after the next bytes.

struct Saved {
    ScreenBuffer cells;
    TerminalState state;
};
Saved Now() { return {screen, terminal}; }
void ExpectSame(const Saved& a, const Saved& b) {
    for (int i = 0; i < ScreenCells; ++i) {
        ASSERT_EQ(a.cells.cells[i], b.cells.cells[i])
            << "row " << i / ScreenColumns << " column " << i % ScreenColumns;
    }
    EXPECT_EQ(a.state.row, b.state.row);
    EXPECT_EQ(a.state.column, b.state.column);
    EXPECT_EQ(a.state.cursorShown, b.state.cursorShown);
    EXPECT_EQ(a.state.escapeState, b.state.escapeState);
    EXPECT_EQ(a.state.graphicsMode, b.state.graphicsMode);
    EXPECT_EQ(a.state.pendingRow, b.state.pendingRow);
}
// All of `bytes`, whatever an identify reply queues (an earlier case's
// reply left in the queue would stop the interpreter short).
void Interpret(const std::string& bytes, History& history) {
    outputQueue.Discard();
    for (unsigned at = 0; at < bytes.size(); outputQueue.Discard()) {
        at += InterpretBytes(
            reinterpret_cast<const uint8_t*>(bytes.data()) + at, unsigned(bytes.size()) - at,
            [](const Cell* row, void* h) { static_cast<History*>(h)->Push(row); }, &history);
    }
}
std::vector<std::string> Rows(const History& history) {
    std::vector<std::string> rows;
    Cell cells[ScreenColumns];
    for (uint64_t n = history.Oldest(); n < history.End(); ++n) {
        history.Row(n, cells);
        rows.emplace_back(reinterpret_cast<const char*>(cells), sizeof cells);
    }
    return rows;
}

TEST(Snapshot, AClientRestoresTheScreenAndHistoryExactlyAndContinuesAlike) {
    History server, client;
    ASSERT_TRUE(server.Allocate(20000));
    ASSERT_TRUE(client.Allocate(20000));
    ResetScreen();
    std::string before;
    for (int i = 0; i < 10000; ++i)
        before += "line " + std::to_string(i) + (i % 7 ? "\tx\r\n" : "\033Fahik\033G\r\n");
    // A full-screen program: a framed screen in graphics mode, left part-way
    // through a cursor address (the row byte given, the column byte not).
    before += "\033H\033J";
    for (int row = 0; row < ScreenRows; ++row) {
        before += "\033Y" + std::string(1, char(32 + row)) + " " +
                  std::string(row % 3 ? "menu item" : "\033Faaaa\033G");
    }
    before += "\033F\033Y" + std::string(1, char(32 + 5));
    Interpret(before, server);
    ASSERT_EQ(terminal.escapeState, EscapeState::ColumnByte);

    SnapshotCursor cursor;
    BeginSnapshot(cursor, server);
    std::vector<uint8_t> stream;
    // Through a small buffer, as a slow client's room allows.
    std::vector<uint8_t> room(WireMaxMessage);
    for (unsigned n; (n = FillSnapshot(cursor, server, room.data(), unsigned(room.size()))) > 0;) {
        stream.insert(stream.end(), room.begin(), room.begin() + n);
    }
    ASSERT_TRUE(SnapshotDone(cursor));
    Saved atSnapshot = Now();
    std::vector<std::string> historyAtSnapshot = Rows(server);
    const std::string after = "(k\033G tail\r\n\n\033I\033Kend";
    Interpret(after, server);
    Saved serverAfter = Now();

    ResetScreen();
    SnapshotRestore restore;
    for (auto& message : Decode(stream, 1000))
        ASSERT_TRUE(RestoreSnapshot(restore, AsMessage(message), client));
    ASSERT_TRUE(restore.complete);
    ExpectSame(Now(), atSnapshot);
    EXPECT_EQ(Rows(client), historyAtSnapshot);
    Interpret(after, client);
    ExpectSame(Now(), serverAfter);
    EXPECT_EQ(Rows(client), Rows(server));
}

// The chain between the raw bytes and the interpreter, as receive.cpp runs it.
struct ChainEnd {
    AnsiFilter ansi;
    ReceivedMap map;
    uint8_t maps = 0;
    void Take(const std::string& bytes, History& history) {
        std::vector<uint8_t> mapped(2 * bytes.size() + 1), shown(2 * bytes.size() + AnsiFilterSlack);
        unsigned n = map.Apply(maps, U(bytes.c_str()), unsigned(bytes.size()), mapped.data());
        n = FilterAnsi(ansi, mapped.data(), n, shown.data());
        Interpret(std::string(reinterpret_cast<char*>(shown.data()), n), history);
    }
    ReceiveSeam Seam() { return {&ansi, &map, &maps}; }
};

// A sequence the snapshot cuts in two ends on the client as on the server:
// the filter's held bytes and stage, a CR whose LF the map still owes, and
// the line's received maps (the client's sent ones stay).
TEST(Snapshot, ASequenceSplitAcrossTheSnapshotEndsAlikeOnBothSides) {
    struct Case {
        const char *before, *after;
        uint8_t maps;
    } cases[] = {
        {"a\033[3", "1mred\033[0m", 0},
        {"\033", "[1mbold", 0},
        {"\x9b", "31mcsi", 0},
        {"\033]0;ti", "tle\007text", 0},
        {"\033]0;t\033", "\\st", 0},
        {"\033]0;t\033", "Hhome", 0},  // not a string's end: the title shows
        {"\033Y", "\033[abc", 0},      // the row and column bytes of an address
        {"one\r", "\ntwo", MapInCrCrlf},
        {"one\n", "two\n3", MapInLfCrlf},  // the line's maps, not the client's
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        History server, client;
        ASSERT_TRUE(server.Allocate(10));
        ASSERT_TRUE(client.Allocate(10));
        ResetScreen();
        ChainEnd there, here;
        there.maps = c.maps;
        here.maps = MapInIgnoreCr | MapOutDelBs;
        there.Take(c.before, server);
        SnapshotCursor cursor;
        BeginSnapshot(cursor, server, there.Seam());
        std::vector<uint8_t> stream(WireMaxMessage);
        stream.resize(FillSnapshot(cursor, server, stream.data(), unsigned(stream.size())));
        there.Take(c.after, server);
        Saved serverAfter = Now();

        // The client held part of another sequence when it attached again.
        ResetScreen();
        here.Take("\033[", client);
        SnapshotRestore restore;
        for (auto& message : Decode(stream, 7))
            ASSERT_TRUE(RestoreSnapshot(restore, AsMessage(message), client, here.Seam()));
        ASSERT_TRUE(restore.complete);
        EXPECT_EQ(here.maps, c.maps | MapOutDelBs);
        here.Take(c.after, client);
        ExpectSame(Now(), serverAfter);
    }
}

TEST(Snapshot, ABadSnapshotLeavesTheScreenAsItWas) {
    History history;
    ASSERT_TRUE(history.Allocate(10));
    ResetScreen();
    Interpret("kept", history);
    Saved kept = Now();
    std::vector<uint8_t> payload(WireScreenPayload, 0);
    for (int i = 0; i < ScreenCells; ++i) payload[2 * i + 1] = 'x';
    payload[ScreenCells * 2] = 24;  // row off the screen
    SnapshotRestore restore;
    EXPECT_FALSE(
        RestoreSnapshot(restore, {WireType::Screen, payload.data(), unsigned(payload.size())}, history));
    payload[ScreenCells * 2] = 0;
    payload[7] = 7;  // a bell in a cell
    EXPECT_FALSE(
        RestoreSnapshot(restore, {WireType::Screen, payload.data(), unsigned(payload.size())}, history));
    ExpectSame(Now(), kept);
    // History before the screen, and an end whose count is not the rows given.
    std::vector<uint8_t> rows = {0, 1, 1, 'a'};
    EXPECT_FALSE(RestoreSnapshot(restore, {WireType::History, rows.data(), 4}, history));
    payload[7] = 'x';
    ASSERT_TRUE(
        RestoreSnapshot(restore, {WireType::Screen, payload.data(), unsigned(payload.size())}, history));
    // Filter states no filter reaches leave the client's as it was: a CSI
    // opened by '[', one held while an address waits for its row byte, an
    // 8-bit opener on a 7-bit line, a count the bytes do not match, a sent
    // map among the received ones.
    ChainEnd mine;
    mine.Take("\033]", history);
    const uint8_t csi = uint8_t(AnsiFilter::Stage::Csi), row = uint8_t(AnsiFilter::Follow::RowByte);
    for (std::vector<uint8_t> chain : std::vector<std::vector<uint8_t>>{{1, 0, csi, 0, 1, '['},
                                                                        {1, 0, csi, row, 2, 27, '['},
                                                                        {0, 0, csi, 0, 1, 0x9b},
                                                                        {1, 0, 0, 0, 2, 'a'},
                                                                        {1, MapOutCrCrlf, 0, 0, 0}}) {
        EXPECT_FALSE(RestoreSnapshot(restore, {WireType::Chain, chain.data(), unsigned(chain.size())},
                                     history, mine.Seam()));
    }
    EXPECT_EQ(mine.ansi.stage, AnsiFilter::Stage::Osc);
    EXPECT_EQ(mine.ansi.heldCount, 2u);
    std::vector<uint8_t> cutRow = {0, 1, 3, 'a'}, ground = {1, 0, 0, 0, 0};
    EXPECT_FALSE(RestoreSnapshot(restore, {WireType::History, rows.data(), 4}, history));  // before the chain
    ASSERT_TRUE(RestoreSnapshot(restore, {WireType::Chain, ground.data(), 5}, history, mine.Seam()));
    EXPECT_EQ(mine.ansi.stage, AnsiFilter::Stage::Ground);
    EXPECT_FALSE(RestoreSnapshot(restore, {WireType::History, cutRow.data(), 4}, history));
    EXPECT_EQ(history.End(), 0u);
    std::vector<uint8_t> end = {0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_FALSE(RestoreSnapshot(restore, {WireType::HistoryEnd, end.data(), 8}, history));
}

// --- Who may attach.

TEST(Access, TheListsTheTokenAndTheVersionDecide) {
    AccessRules rules = {};
    rules.owner = 1000;
    Peer owner = {true, 1000, 1000, 0, {}};
    Peer other = {true, 1001, 100, 2, {27, 20}};
    Peer unknown = {};
    WireHello hello = {};
    hello.version = WireVersion;
    hello.ask = WireAsk::Write;

    // No lists: the owner writes, nobody else comes in.
    EXPECT_EQ(PeerAccessOf(rules, owner), PeerAccess::Write);
    EXPECT_EQ(PeerAccessOf(rules, other), PeerAccess::Refused);
    EXPECT_EQ(ShareSocketMode(rules), 0600u);
    Admission refused = Admit(rules, other, hello);
    EXPECT_EQ(refused.access, PeerAccess::Refused);
    EXPECT_NE(std::string(refused.reason).find("share-write"), std::string::npos);
    EXPECT_FALSE(refused.delayed);

    char problem[128];
    rules.listsGiven = true;
    ASSERT_TRUE(ParseAccessList("1000", &rules.write, problem, sizeof problem));
    EXPECT_EQ(ShareSocketMode(rules), 0600u);
    // A group matches by a supplementary group as well as the primary one.
    ASSERT_TRUE(ParseAccessList(" root , @20 ", &rules.watch, problem, sizeof problem)) << problem;
    EXPECT_EQ(ShareSocketMode(rules), 0666u);
    EXPECT_EQ(PeerAccessOf(rules, other), PeerAccess::Watch);
    EXPECT_EQ(PeerAccessOf(rules, unknown), PeerAccess::Refused);
    Admission watcher = Admit(rules, other, hello);
    EXPECT_EQ(watcher.access, PeerAccess::Watch);
    EXPECT_EQ(watcher.role, WireRole::Watching);
    hello.ask = WireAsk::Watch;
    EXPECT_EQ(Admit(rules, owner, hello).role, WireRole::Watching);
    hello.ask = WireAsk::Write;
    EXPECT_FALSE(ParseAccessList("root,,1", &rules.watch, problem, sizeof problem));
    EXPECT_FALSE(ParseAccessList("no-such-user-here", &rules.watch, problem, sizeof problem));
    EXPECT_NE(std::string(problem).find("no-such-user-here"), std::string::npos);

    // TCP: the token alone, and a wrong one refused late.
    rules.tcp = true;
    rules.tokenLength = 6;
    std::memcpy(rules.token, "secret", 6);
    EXPECT_EQ(Admit(rules, unknown, hello).access, PeerAccess::Refused);
    EXPECT_TRUE(Admit(rules, unknown, hello).delayed);
    hello.tokenLength = 7;
    std::memcpy(hello.token, "secrets", 7);  // a longer one with the same start
    EXPECT_TRUE(Admit(rules, unknown, hello).delayed);
    hello.tokenLength = 6;
    EXPECT_EQ(Admit(rules, unknown, hello).role, WireRole::Writing);
    hello.version = WireVersion + 1;
    EXPECT_NE(std::string(Admit(rules, unknown, hello).reason).find("version"), std::string::npos);
}

TEST(Access, TheKernelNamesAUnixPeerAndATokenFileMustBePrivate) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    Peer peer = ReadPeer(pair[0]);
    EXPECT_TRUE(peer.known);
    EXPECT_EQ(peer.uid, getuid());
    EXPECT_EQ(peer.gid, getgid());
    close(pair[0]);
    close(pair[1]);

    char path[] = "/tmp/brisvane-token-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "abc\r\n", 5), 5);
    close(fd);
    uint8_t token[WireTokenCapacity];
    unsigned length;
    char problem[256];
    ASSERT_TRUE(ReadTokenFile("--share-token", path, token, &length, problem, sizeof problem)) << problem;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(token), length), "abc");
    ASSERT_EQ(chmod(path, 0640), 0);
    EXPECT_FALSE(ReadTokenFile("--share-token", path, token, &length, problem, sizeof problem));
    EXPECT_NE(std::string(problem).find("chmod 600"), std::string::npos);
    ASSERT_EQ(chmod(path, 0600), 0);
    ASSERT_EQ(truncate(path, 0), 0);
    EXPECT_FALSE(ReadTokenFile("--token", path, token, &length, problem, sizeof problem));
    // A token is its bytes: one holding a control byte (a NUL would cut it
    // as text) is refused with the reason, wherever the byte is.
    for (std::string bad : {std::string("ab\0cd", 5), std::string("\0abc", 4), std::string("abc\x7f"),
                            std::string("a\tb\n"), std::string("ab\r\ncd\n")}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bad;
        EXPECT_FALSE(ReadTokenFile("--share-token", path, token, &length, problem, sizeof problem)) << bad;
        EXPECT_NE(std::string(problem).find("control byte"), std::string::npos) << problem;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "caf\xc3\xa9 ~\n";
    EXPECT_TRUE(ReadTokenFile("--share-token", path, token, &length, problem, sizeof problem)) << problem;
    EXPECT_EQ(length, 7u);
    unlink(path);
}

// Who counts as one peer at the door, and how often it is logged.
TEST(Access, TheDoorCountsAHostAsOnePeerAndLogsItOnceAMinute) {
    auto peerOf = [](const char* text) {
        struct sockaddr_in6 at = {};
        at.sin6_family = AF_INET6;
        inet_pton(AF_INET6, text, &at.sin6_addr);
        return DoorPeerOfAddress(reinterpret_cast<sockaddr*>(&at), sizeof at);
    };
    struct sockaddr_in four = {};
    four.sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.7", &four.sin_addr);
    DoorPeer v4 = DoorPeerOfAddress(reinterpret_cast<sockaddr*>(&four), sizeof four);
    EXPECT_TRUE(SameDoorPeer(v4, peerOf("::ffff:192.0.2.7")));  // mapped: the same host
    EXPECT_TRUE(SameDoorPeer(peerOf("2001:db8:1:2::1"), peerOf("2001:db8:1:2:ffff::9")));  // one /64
    EXPECT_FALSE(SameDoorPeer(peerOf("2001:db8:1:2::1"), peerOf("2001:db8:1:3::1")));
    EXPECT_FALSE(SameDoorPeer(DoorPeerOfUser(true, 0), DoorPeerOfUser(false, 0)));
    char text[64];
    DoorPeerText(peerOf("2001:db8:1:2::1"), text, sizeof text);
    EXPECT_STREQ(text, "2001:db8:1:2::/64");

    // Its own share full, a peer waits no more; the door full, nobody does.
    DoorPeer waiting[ServeDoorWaiting];
    for (unsigned i = 0; i < ServeDoorWaiting; ++i)
        waiting[i] = DoorPeerOfUser(true, i / ServeDoorWaitingPerPeer);
    EXPECT_EQ(DoorRoomFor(waiting, ServeDoorWaitingPerPeer - 1, DoorPeerOfUser(true, 0)), DoorRoom::Room);
    EXPECT_EQ(DoorRoomFor(waiting, ServeDoorWaitingPerPeer, DoorPeerOfUser(true, 0)), DoorRoom::PeerFull);
    EXPECT_EQ(DoorRoomFor(waiting, ServeDoorWaiting, DoorPeerOfUser(true, 99)), DoorRoom::Full);

    // Once a minute per peer, however many peers come and go meanwhile.
    std::unique_ptr<DoorLog> log(new DoorLog());
    unsigned quiet = 99;
    EXPECT_TRUE(DoorSays(*log, v4, 0, &quiet));
    EXPECT_EQ(quiet, 0u);
    EXPECT_FALSE(DoorSays(*log, v4, 1, &quiet));
    for (uint32_t uid = 0; uid < DoorRecords - 1; ++uid)
        EXPECT_TRUE(DoorSays(*log, DoorPeerOfUser(true, uid), 2, &quiet));
    EXPECT_FALSE(DoorSays(*log, v4, DoorQuietMilliseconds - 1, &quiet));
    EXPECT_TRUE(DoorSays(*log, v4, DoorQuietMilliseconds, &quiet));
    EXPECT_EQ(quiet, 2u);
}

// --- Roles.

// After a restart the line waits for the one who wrote before it; a fresh
// start (no client coming back) is not held up.
TEST(Roster, AfterARestartTheLineIsKeptForItsWriterForTheGrace) {
    Roster fresh;
    RosterGrace(fresh, 10000);
    EXPECT_EQ(RosterAskAfterRestart(fresh, WireAsk::Write, WirePast::Fresh, 100), WireAsk::Write);
    EXPECT_EQ(RosterKept(fresh, 100), 0u);

    Roster roster;
    RoleChanges changes;
    RosterGrace(roster, 10000);
    // A watcher comes back first: it watches, and so does a newcomer; a take waits.
    WireAsk ask = RosterAskAfterRestart(roster, WireAsk::Write, WirePast::Watched, 500);
    uint16_t bo =
        RosterJoin(roster, SeatKind::Attached, WireClientKind::Person, "bo", 1, true, ask, &changes);
    ask = RosterAskAfterRestart(roster, WireAsk::Take, WirePast::Fresh, 600);
    uint16_t cy =
        RosterJoin(roster, SeatKind::Attached, WireClientKind::Person, "cy", 1, true, ask, &changes);
    EXPECT_EQ(roster.writer, RosterNobody);
    EXPECT_EQ(RosterKept(roster, 600), 10u);
    EXPECT_EQ(RosterKept(roster, 9001), 1u);
    // The writer comes back, even asking to watch: the line is its own again.
    ask = RosterAskAfterRestart(roster, WireAsk::Watch, WirePast::Wrote, 2000);
    uint16_t ana =
        RosterJoin(roster, SeatKind::Attached, WireClientKind::Person, "ana", 1, true, ask, &changes);
    EXPECT_TRUE(RosterWrites(roster, ana));
    EXPECT_EQ(RosterKept(roster, 2000), 0u);  // back to the usual rules
    EXPECT_TRUE(RosterTake(roster, bo, &changes));
    EXPECT_FALSE(RosterWrites(roster, cy));

    // The writer never comes back: after the grace the usual rules.
    Roster late;
    RosterGrace(late, 10000);
    EXPECT_EQ(RosterAskAfterRestart(late, WireAsk::Write, WirePast::Watched, 100), WireAsk::Watch);
    EXPECT_EQ(RosterKept(late, 10000), 0u);
    EXPECT_EQ(RosterAskAfterRestart(late, WireAsk::Write, WirePast::Fresh, 10000), WireAsk::Write);
    // A fresh client that got the line before anyone came back loses it to the writer.
    Roster early;
    RosterGrace(early, 10000);
    ask = RosterAskAfterRestart(early, WireAsk::Write, WirePast::Fresh, 100);
    uint16_t dee =
        RosterJoin(early, SeatKind::Attached, WireClientKind::Person, "dee", 1, true, ask, &changes);
    EXPECT_TRUE(RosterWrites(early, dee));
    ask = RosterAskAfterRestart(early, WireAsk::Write, WirePast::Wrote, 200);
    ana = RosterJoin(early, SeatKind::Attached, WireClientKind::Person, "ana", 1, true, ask, &changes);
    EXPECT_TRUE(RosterWrites(early, ana));
}

TEST(Roster, OneWriterTakingMovesItAndAScriptGetsTheLineBack) {
    Roster roster;
    RoleChanges changes;
    uint16_t ana = RosterJoin(roster, SeatKind::Attached, WireClientKind::Person, "ana", 10, true,
                              WireAsk::Write, &changes);
    uint16_t bo = RosterJoin(roster, SeatKind::Attached, WireClientKind::Person, "bo", 11, true,
                             WireAsk::Write, &changes);
    uint16_t raw =
        RosterJoin(roster, SeatKind::Attached, WireClientKind::Raw, "", 12, true, WireAsk::Write, &changes);
    EXPECT_TRUE(RosterWrites(roster, ana));
    EXPECT_FALSE(RosterWrites(roster, bo));
    EXPECT_EQ(RosterOthers(roster, bo), 2u);
    EXPECT_FALSE(RosterTake(roster, raw, &changes));  // raw clients never type

    changes = {};
    ASSERT_TRUE(RosterTake(roster, bo, &changes));
    ASSERT_EQ(changes.count, 2u);
    EXPECT_EQ(changes.change[0].id, ana);
    EXPECT_EQ(changes.change[0].role, WireRole::Watching);
    EXPECT_EQ(changes.change[0].by, bo);  // ana is told who took it
    EXPECT_TRUE(RosterWrites(roster, bo));
    changes = {};
    RosterLeave(roster, bo, &changes);  // a person's leaving frees the line
    EXPECT_EQ(roster.writer, RosterNobody);
    EXPECT_EQ(changes.count, 0u);

    uint16_t script = RosterJoin(roster, SeatKind::Script, WireClientKind::Script, "script", 13, true,
                                 WireAsk::Take, &changes);
    EXPECT_TRUE(RosterWrites(roster, script));
    uint16_t watcher = RosterJoin(roster, SeatKind::Attached, WireClientKind::Person, "cy", 14, false,
                                  WireAsk::Take, &changes);
    EXPECT_FALSE(RosterWrites(roster, watcher));  // may only watch: asking changes nothing
    changes = {};
    ASSERT_TRUE(RosterTake(roster, ana, &changes));
    EXPECT_TRUE(RosterScriptPaused(roster));
    EXPECT_EQ(changes.change[0].id, script);
    changes = {};
    RosterGive(roster, ana, &changes);
    EXPECT_TRUE(RosterWrites(roster, script));
    ASSERT_EQ(changes.count, 2u);
    EXPECT_EQ(changes.change[1].id, script);
    EXPECT_EQ(changes.change[1].role, WireRole::Writing);

    RosterSetFrom(roster, ana, "uid 1000");
    RosterInput(roster, ana, 15);
    WireRoster wire;
    RosterToWire(roster, 20, &wire);
    ASSERT_EQ(wire.count, 4u);
    EXPECT_STREQ(wire.entry[0].name.text, "ana");
    EXPECT_STREQ(wire.entry[0].from.text, "uid 1000");
    EXPECT_EQ(wire.entry[0].idle, 5u);  // since its last input
    EXPECT_EQ(wire.entry[1].idle, 8u);  // since it joined: nothing from it yet
    EXPECT_EQ(wire.entry[2].role, WireRole::Writing);
}

// Every kind of client in its own seats: a full house of port clients
// (which carry no identity) leaves every attached client's and page's seat
// free, and the roster takes them all whole on the wire.
TEST(Roster, EachKindHasSeatsOfItsOwnAndOneRuleSaysWhoWrites) {
    static Roster roster;
    roster = Roster();
    RoleChanges changes;
    auto join = [&](SeatKind seat, bool granted) {
        WireClientKind kind = seat == SeatKind::Page ? WireClientKind::Browser : WireClientKind::Person;
        return RosterJoin(roster, seat, kind, "m", 1, granted, WireAsk::Watch, &changes);
    };
    for (unsigned i = 0; i < RosterSeatsOf(SeatKind::Port); ++i)
        EXPECT_NE(join(SeatKind::Port, false), RosterNobody);
    EXPECT_EQ(join(SeatKind::Port, false), RosterNobody);
    for (unsigned i = 0; i < RosterSeatsOf(SeatKind::Attached); ++i)
        EXPECT_NE(join(SeatKind::Attached, true), RosterNobody);
    for (unsigned i = 0; i < RosterSeatsOf(SeatKind::Page); ++i)
        EXPECT_NE(join(SeatKind::Page, false), RosterNobody);
    uint16_t script = join(SeatKind::Script, true);
    EXPECT_NE(script, RosterNobody);
    EXPECT_EQ(join(SeatKind::Attached, true), RosterNobody);
    EXPECT_EQ(join(SeatKind::Page, true), RosterNobody);
    EXPECT_EQ(join(SeatKind::Script, true), RosterNobody);
    EXPECT_EQ(join(SeatKind::Raw, false), RosterNobody);  // raw watchers are no members
    WireRoster wire;
    RosterToWire(roster, 1, &wire);
    EXPECT_EQ(wire.count, RosterMax);
    // Raw watchers of the attach socket: bounded apart from its clients.
    EXPECT_TRUE(RosterSeatFree(SeatKind::Raw, RosterSeatsOf(SeatKind::Raw) - 1));
    EXPECT_FALSE(RosterSeatFree(SeatKind::Raw, RosterSeatsOf(SeatKind::Raw)));
    EXPECT_FALSE(RosterSeatFree(SeatKind::Attached, RosterSeatsOf(SeatKind::Attached)));

    // Who may write: what the kind's own check found, a raw watcher never.
    EXPECT_FALSE(RosterMayWrite(SeatKind::Raw, true));
    EXPECT_TRUE(RosterMayWrite(SeatKind::Script, false));
    EXPECT_TRUE(RosterMayWrite(SeatKind::Port, true));
    EXPECT_FALSE(RosterMayWrite(SeatKind::Page, false));

    Roster line;
    RosterGrace(line, 10000);
    uint16_t port = RosterJoin(line, SeatKind::Port, WireClientKind::Person, "rfc2217", 1, false,
                               WireAsk::Write, &changes);
    uint16_t page =
        RosterJoin(line, SeatKind::Page, WireClientKind::Browser, "web", 1, true, WireAsk::Watch, &changes);
    EXPECT_EQ(RosterInputFrom(line, port), InputAnswer::WatchOnly);
    EXPECT_EQ(RosterInputFrom(line, page), InputAnswer::Take);
    unsigned kept = 0;
    // Kept for the writer of before a restart, once one came back watching.
    RosterAskAfterRestart(line, WireAsk::Write, WirePast::Watched, 100);
    EXPECT_EQ(RosterAskTake(line, page, 1000, &kept, &changes), TakeAnswer::Kept);
    EXPECT_EQ(kept, 9u);
    EXPECT_EQ(RosterAskTake(line, port, 10000, &kept, &changes), TakeAnswer::WatchOnly);
    EXPECT_EQ(RosterAskTake(line, page, 10000, &kept, &changes), TakeAnswer::Taken);
    EXPECT_EQ(RosterInputFrom(line, page), InputAnswer::Write);
    EXPECT_EQ(RosterInputFrom(line, RosterNobody), InputAnswer::WatchOnly);
}

// --- Log rotation.

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The longest line in `text` (its LF counted).
size_t LongestLine(const std::string& text) {
    size_t longest = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        longest = std::max(longest, end - at);
        at = end;
    }
    return longest;
}

// A flood through both logs, in blocks of every size up to one far past
// the bound: each file stays within the size and one line (and ends a
// line, but where a line runs past the most one may be), the files end to
// end are what came, only `keep` old ones stay; a file removed meanwhile
// is made again.
TEST(LogRotation, AFloodKeepsEachFileToTheBoundAndLosesNoByte) {
    uint64_t size;
    const char* problem;
    ASSERT_TRUE(ParseLogSize("64K", &size, &problem));
    EXPECT_EQ(size, 65536u);
    ASSERT_TRUE(ParseLogSize("10m", &size, &problem));
    EXPECT_EQ(size, 10u << 20);
    ASSERT_TRUE(ParseLogSize("4096", &size, &problem));
    for (const char* bad : {"", "K", "10MB", "-1", "1.5M", "512", "99999999999G"}) {
        EXPECT_FALSE(ParseLogSize(bad, &size, &problem)) << bad;
    }
    unsigned keep;
    EXPECT_TRUE(ParseLogKeep("0", &keep, &problem));
    EXPECT_FALSE(ParseLogKeep("1000", &keep, &problem));

    char folder[] = "/tmp/brisvane-rotate-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string text = std::string(folder) + "/line.log", raw = std::string(folder) + "/raw.log";
    const uint64_t Max = 4096;
    ReceiveLog log;
    log.SetRotation({Max, 3});
    char said[512];
    ASSERT_EQ(log.Open(text.c_str(), raw.c_str(), false, said, sizeof said), PlainFile::Opened) << said;
    std::string all, allText;
    unsigned number = 0;
    auto lines = [&](size_t bytes) {
        std::string block;
        while (block.size() < bytes) {
            ++number;
            block += std::string(number * 37 % 300, char('a' + number % 26)) + std::to_string(number) + "\n";
        }
        return block;
    };
    struct timespec at = {};
    int64_t now = 0;
    for (size_t bytes : {700, 1, 4000, 30000, 90, 9000, 5000, 200000, 3}) {
        std::string block = lines(bytes);
        if (bytes == 9000) block += std::string(9000, 'x') + "\n";  // past any line the bound allows
        all += block;
        for (size_t line = 0; line < block.size();) {  // the text log writes a long line in pieces
            size_t end = block.find('\n', line) + 1;
            for (size_t piece = line; piece < end - 1; piece += 4096)
                allText += block.substr(piece, std::min<size_t>(4096, end - 1 - piece)) + "\n";
            line = end;
        }
        log.Received(reinterpret_cast<const uint8_t*>(block.data()), unsigned(block.size()), at);
        ASSERT_TRUE(log.Flush(said, sizeof said)) << said;
        for (const std::string& path : {text, raw}) {
            std::string kept;
            for (int n = 3; n >= 1; --n) {
                std::string old = ReadWhole(path + "." + std::to_string(n));
                if (old.empty()) continue;  // not there yet
                size_t line = std::min<size_t>(LongestLine(old), LogLineMax);
                EXPECT_LE(old.size(), Max + line) << path << "." << n << " after a block of " << bytes;
                if (line < LogLineMax) {
                    EXPECT_EQ(old.back(), '\n') << path << "." << n;
                }
                kept += old;
            }
            kept += ReadWhole(path);
            const std::string& whole = path == raw ? all : allText;
            ASSERT_EQ(kept, whole.substr(whole.size() - kept.size()))
                << path << " after a block of " << bytes;
        }
    }
    EXPECT_EQ(access((text + ".3").c_str(), F_OK), 0);
    EXPECT_EQ(access((text + ".4").c_str(), F_OK), -1);
    // Removed while it is written: said once, and the log goes on at its name.
    ASSERT_EQ(unlink(raw.c_str()), 0);
    EXPECT_TRUE(log.CheckRemoved(now += 2000, said, sizeof said));
    EXPECT_NE(std::string(said).find("raw.log was removed: made again"), std::string::npos) << said;
    EXPECT_FALSE(log.CheckRemoved(now += 2000, said, sizeof said)) << said;
    log.Received(reinterpret_cast<const uint8_t*>("after\n"), 6, at);
    ASSERT_TRUE(log.Flush(said, sizeof said)) << said;
    EXPECT_EQ(ReadWhole(raw), "after\n");
    struct stat status;
    ASSERT_EQ(stat(raw.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);  // a log is private
    EXPECT_TRUE(log.Close(said, sizeof said)) << said;
    std::string command = std::string("rm -rf ") + folder;
    ASSERT_EQ(std::system(command.c_str()), 0);
}

// --- A served line and clients attached to it, in one process over a real
// socket: roles, refusals, and the seam between the snapshot and the bytes.

class Served : public ::testing::Test {
protected:
    char folder[32] = "/tmp/brisvane-serve-XXXXXX";
    std::string where;
    History history;
    Server server;
    std::string line;  // what writers gave the line
    std::vector<WireControl> controls;
    std::vector<std::string> said;
    Session* console = nullptr;  // when set, writers' bytes go through its send table
    int64_t clock = 0;           // the loop's time: each pass takes as long as the line's bytes wait
    std::string token;           // what Attach gives

    static unsigned Send(void* user, const uint8_t* bytes, unsigned count, WireType type) {
        Served& s = *static_cast<Served*>(user);
        if (s.console != nullptr) {
            SendSource source = type == WireType::Typed       ? SendSource::AttachedTyped
                                : type == WireType::TypedText ? SendSource::AttachedText
                                                              : SendSource::Attached;
            return ::Send(*s.console, source, bytes, count);
        }
        s.line.append(reinterpret_cast<const char*>(bytes), count);
        return count;
    }
    static ControlResult Control(void* user, const WireControlMessage& control, uint16_t, char*, unsigned) {
        static_cast<Served*>(user)->controls.push_back(control.control);
        return ControlResult::Done;
    }
    static void Say(void* user, const char* text) { static_cast<Served*>(user)->said.push_back(text); }

    void SetUp() override {
        ASSERT_NE(mkdtemp(folder), nullptr);
        where = std::string("unix:") + folder + "/line.sock";
        ASSERT_TRUE(history.Allocate(100));
        ResetScreen();
        for (int i = 0; i < 30; ++i) Interpret("before\r\n", history);
        AccessRules rules = {};
        rules.owner = getuid();
        char message[256];
        ServeHooks hooks = {this, Send, Control, Say, nullptr};
        ASSERT_TRUE(OpenServer(server, where.c_str(), rules, hooks, history, message, sizeof message))
            << message;
    }
    void TearDown() override {
        CloseServer(server);
        std::string command = std::string("rm -rf ") + folder;
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    // A connection that speaks for itself (bytes written by the test); -1
    // when it cannot connect.
    int Connect() {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un at = {};
        at.sun_family = AF_UNIX;
        std::strcpy(at.sun_path, where.c_str() + 5);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) return fd;
        if (fd >= 0) close(fd);
        return -1;
    }
    // A TCP connection to `port` from `source` (any of 127/8 is this host).
    static int ConnectTcp(const char* source, int port) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in from = {}, to = {};
        from.sin_family = to.sin_family = AF_INET;
        inet_pton(AF_INET, source, &from.sin_addr);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        to.sin_port = htons(uint16_t(port));
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
            connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
            return fd;
        if (fd >= 0) close(fd);
        return -1;
    }
    void Reopen(const AccessRules& rules, const std::string& at) {
        CloseServer(server);
        server.~Server();
        new (&server) Server();
        where = at;
        char message[256];
        ASSERT_TRUE(OpenServer(server, where.c_str(), rules, {this, Send, Control, Say, nullptr}, history,
                               message, sizeof message))
            << message;
    }
    unsigned AtTheDoor() const {
        unsigned count = 0;
        for (const ServeClient& c : server.client)
            count += c.fd >= 0 && (c.state == ServeState::Hello || c.state == ServeState::Refusing) ? 1 : 0;
        return count;
    }
    unsigned SaidWith(const std::string& text) const {
        unsigned count = 0;
        for (const std::string& line : said) count += line.find(text) != std::string::npos ? 1 : 0;
        return count;
    }
    // Attaches as a loop would: connect, then Continue until the server answered.
    // `keep`: the client's history rows and whether its user gave them (0: as `mine` is).
    std::unique_ptr<AttachLine> Attach(WireAsk ask, History& mine, OpenResult expected = OpenResult::Open,
                                       std::string* why = nullptr,
                                       std::pair<uint32_t, bool> keep = {0, true}) {
        ShareAddress address;
        const char* problem;
        EXPECT_TRUE(ParseAttachAddress(where.c_str(), &address, &problem));
        WireHello hello = {};
        hello.version = WireVersion;
        hello.ask = ask;
        hello.tokenLength = uint8_t(token.size());
        std::memcpy(hello.token, token.data(), token.size());
        std::unique_ptr<AttachLine> client(new AttachLine(address, hello, mine));
        if (keep.first > 0) client->SetHistoryRule(keep.first, keep.second);
        char message[256] = "";
        LineControls controls = {};
        OpenResult result = client->Open(controls, message, sizeof message);
        for (int pass = 0; pass < 50 && result == OpenResult::InProgress; ++pass) {
            Run({}, 1);
            result = client->Continue(POLLIN | POLLOUT, message, sizeof message);
        }
        EXPECT_EQ(result, expected) << message;
        if (why != nullptr) *why = message;
        return client;
    }
    // Passes of the server's loop, and what each client read meanwhile.
    void Run(std::vector<std::pair<AttachLine*, std::string*>> clients, int passes = 20) {
        for (int pass = 0; pass < passes; ++pass) {
            struct pollfd fds[ServeMaxDescriptors];
            unsigned n = ServeDescriptors(server, true, fds, clock);
            poll(fds, n, 5);
            ServeEvents(server, true, fds, n, clock);
            clock += ServeGatherMilliseconds;
            for (auto& c : clients) {
                uint8_t bytes[512];
                unsigned got;
                while (c.first->Read(bytes, sizeof bytes, &got) == IoResult::Done) {
                    c.second->append(reinterpret_cast<char*>(bytes), got);
                }
            }
        }
    }
    static std::string Note(AttachLine& client) {
        char text[NoticeCapacity];
        return client.TakeNote(text, sizeof text) ? text : "";
    }
};

TEST_F(Served, TheFirstWritesALaterOneWatchesUntilItTakesTheLine) {
    History historyA, historyB;
    ASSERT_TRUE(historyA.Allocate(100));
    ASSERT_TRUE(historyB.Allocate(100));
    std::string readA, readB;
    auto a = Attach(WireAsk::Write, historyA);
    Run({{a.get(), &readA}});
    ASSERT_TRUE(a->Attached().snapshotComplete);
    EXPECT_EQ(Rows(historyA), Rows(history));  // the server's history came with the screen
    EXPECT_EQ(historyA.End(), 7u);
    auto b = Attach(WireAsk::Write, historyB);
    Run({{a.get(), &readA}, {b.get(), &readB}});
    EXPECT_EQ(a->Attached().role, WireRole::Writing);
    EXPECT_EQ(b->Attached().role, WireRole::Watching);
    EXPECT_EQ(b->Others(), 1u);

    // The bytes after the snapshot reach both, whole and once.
    ServeReceived(server, U("after"), 5);
    unsigned n;
    ASSERT_EQ(a->Write(U("typed"), 5, &n), IoResult::Done);
    ASSERT_EQ(b->Write(U("ignored"), 7, &n), IoResult::Done);
    Run({{a.get(), &readA}, {b.get(), &readB}});
    EXPECT_EQ(readA, "after");
    EXPECT_EQ(readB, "after");
    EXPECT_EQ(line, "typed");
    EXPECT_NE(Note(*b).find("take"), std::string::npos);

    b->Ask(WireType::Take);
    Run({{a.get(), &readA}, {b.get(), &readB}});
    EXPECT_EQ(b->Attached().role, WireRole::Writing);
    EXPECT_EQ(a->Attached().role, WireRole::Watching);
    EXPECT_NE(Note(*a).find("took the line"), std::string::npos);
    ASSERT_EQ(b->SetBreak(true), ControlResult::Done);
    ASSERT_EQ(b->Write(U("mine"), 4, &n), IoResult::Done);
    Run({{a.get(), &readA}, {b.get(), &readB}});
    EXPECT_EQ(line, "typedmine");
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0], WireControl::Break);
}

// A client is told the line's settings as it attaches and as they change;
// the others are told who changed them, the one who did is not.
TEST_F(Served, ClientsAreToldTheLinesSettingsAtAttachAndAsTheyChange) {
    WireLineState in = {true, false, 0, {12, "115200,n,8,1"}, {10, "/dev/ttyS0"}, {}};
    ServeLineState(server, in);
    History historyA, historyB;
    ASSERT_TRUE(historyA.Allocate(10));
    ASSERT_TRUE(historyB.Allocate(10));
    std::string readA, readB;
    auto a = Attach(WireAsk::Write, historyA);
    auto b = Attach(WireAsk::Write, historyB);
    Run({{a.get(), &readA}, {b.get(), &readB}});
    WireLineState got;
    ASSERT_TRUE(a->TakeLineState(&got));
    EXPECT_STREQ(got.settings.text, "115200,n,8,1");
    EXPECT_TRUE(got.open);
    EXPECT_FALSE(a->TakeLineState(&got));  // once per change
    ASSERT_TRUE(b->TakeLineState(&got));
    Note(*a);
    Note(*b);

    in.by = a->Attached().id;
    in.settings = {11, "57600,e,7,1"};
    in.byName = {3, "ana"};
    ServeLineState(server, in);
    Run({{a.get(), &readA}, {b.get(), &readB}});
    ASSERT_TRUE(b->TakeLineState(&got));
    EXPECT_STREQ(got.settings.text, "57600,e,7,1");
    EXPECT_EQ(Note(*b), "ana set the line to 57600,e,7,1");
    ASSERT_TRUE(a->TakeLineState(&got));
    EXPECT_EQ(Note(*a), "");  // it said so itself
}

// An attach takes the server's history whole, unless the user's own
// --history says how much to keep: then it keeps that and says so.
TEST_F(Served, AnAttachTakesTheServersHistoryWholeUnlessToldHowMuchToKeep) {
    for (int i = 0; i < 60; ++i) Interpret("more\r\n", history);
    ASSERT_EQ(history.Count(), 67u);
    History whole, given;
    ASSERT_TRUE(whole.Allocate(10));
    ASSERT_TRUE(given.Allocate(10));
    std::string readA, readB;
    auto a = Attach(WireAsk::Write, whole, OpenResult::Open, nullptr, {10, false});  // the default, not given
    auto b = Attach(WireAsk::Watch, given, OpenResult::Open, nullptr, {10, true});
    Run({{a.get(), &readA}, {b.get(), &readB}});
    ASSERT_TRUE(a->Attached().snapshotComplete);
    ASSERT_TRUE(b->Attached().snapshotComplete);
    EXPECT_EQ(Rows(whole), Rows(history));
    EXPECT_EQ(Note(*a).find("history"), std::string::npos);
    EXPECT_EQ(given.Capacity(), 10u);
    EXPECT_EQ(given.Count(), 10u);
    std::vector<std::string> last = Rows(history);
    last.erase(last.begin(), last.end() - 10);
    EXPECT_EQ(Rows(given), last);  // the newest ten
    EXPECT_EQ(Note(*b), "the served line holds 67 history rows: keeping the last 10 (--history)");
}

// W asks for the roster as it is now: each member's address and idle time.
TEST_F(Served, WhoAnswersWithWhereEachMemberIsFrom) {
    History historyA, historyB;
    ASSERT_TRUE(historyA.Allocate(10));
    ASSERT_TRUE(historyB.Allocate(10));
    std::string readA, readB;
    auto a = Attach(WireAsk::Write, historyA);
    auto b = Attach(WireAsk::Write, historyB);
    uint16_t page = ServePageJoins(server, "web 10.0.0.2", 0, false);
    Run({{a.get(), &readA}, {b.get(), &readB}});
    EXPECT_FALSE(a->TakeRosterAnswer());  // rosters nobody asked for are not answers
    a->AskWho();
    Run({{a.get(), &readA}, {b.get(), &readB}});
    ASSERT_TRUE(a->TakeRosterAnswer());
    EXPECT_FALSE(b->TakeRosterAnswer());
    const WireRoster& roster = a->Attached().roster;
    ASSERT_EQ(roster.count, 3u);
    EXPECT_EQ(std::string(roster.entry[0].from.text), "uid " + std::to_string(getuid()));
    EXPECT_EQ(roster.entry[0].role, WireRole::Writing);
    EXPECT_STREQ(roster.entry[2].from.text, "web 10.0.0.2");
    EXPECT_GT(roster.entry[2].idle, 1000000u);  // joined at the epoch, never heard from since
    ServeMemberInput(server, page);
    a->AskWho();
    Run({{a.get(), &readA}, {b.get(), &readB}});
    ASSERT_TRUE(a->TakeRosterAnswer());
    EXPECT_LT(a->Attached().roster.entry[2].idle, 5u);
}

// A user the lists let only watch is told so as it attaches, and again,
// not how to take the line, when it types or asks for the line.
TEST_F(Served, AWatchOnlyUserIsToldSoAtOnceAndNeverToTakeTheLine) {
    AccessRules rules = {};
    rules.owner = getuid();
    rules.listsGiven = true;
    rules.watch.count = 1;
    rules.watch.entry[0] = {false, getuid()};
    Reopen(rules, where);
    History mine;
    ASSERT_TRUE(mine.Allocate(10));
    std::string read;
    auto a = Attach(WireAsk::Write, mine);
    Run({{a.get(), &read}});
    EXPECT_EQ(a->Attached().role, WireRole::Watching);
    EXPECT_NE(Note(*a).find("you may only watch"), std::string::npos);
    unsigned n;
    ASSERT_EQ(a->Write(U("x"), 1, &n), IoResult::Done);
    Run({{a.get(), &read}});
    std::string typed = Note(*a);
    EXPECT_NE(typed.find("you may only watch"), std::string::npos);
    EXPECT_EQ(typed.find("take"), std::string::npos);
    a->Ask(WireType::Take);
    Run({{a.get(), &read}});
    EXPECT_NE(Note(*a).find("you may only watch"), std::string::npos);
    EXPECT_EQ(line, "");
}

// The served line's byte rules, not the client's, make a writer's typing
// (maps and bit 7) and its text file's send (bit 7 alone, as a text send on
// the line itself; its lines still end at the client); its exact bytes (hex
// input, a raw file's send, a transfer's alike) go as they are.
TEST_F(Served, AWritersTypingTakesTheServedLinesRulesAndItsExactBytesNone) {
    std::unique_ptr<FrontEnd> front = ScreenFrontEnd();
    std::unique_ptr<Session> served{WithFront(new Session(), front.get())},
        client{WithFront(new Session(), front.get())};
    for (Session* c : {served.get(), client.get()}) {
        DefaultOptions(&c->options);
        c->link.state = LinkState::Open;
    }
    served->style.maps = MapOutCrCrlf;  // and bit 7 cleared, the default
    client->options.sevenBit = false;   // the client would have set it
    console = served.get();
    History mine;
    ASSERT_TRUE(mine.Allocate(10));
    std::string read;
    auto a = Attach(WireAsk::Write, mine);
    client->link.attached = a.get();
    Run({{a.get(), &read}});
    auto give = [&](SendSource source, const char* bytes) {
        ::Send(*client, source, U(bytes), unsigned(std::strlen(bytes)));
    };
    give(SendSource::Key, "\xe9\r");
    give(SendSource::HexInput, "\xe9\r");
    give(SendSource::Paste, "\r");
    // As the loop writes: the stage's runs, each told typed or exact.
    OutputPump& pump = client->pump;
    auto write = [&] {
        for (pump.StageQueued(0, 0); !pump.StageEmpty(); pump.StageQueued(0, 0)) {
            unsigned n, written;
            const uint8_t* bytes = pump.Pending(&n);
            a->SetRules(pump.Rules());
            ASSERT_EQ(a->Write(bytes, n, &written), IoResult::Done);
            pump.Wrote(written, 0, 0);
        }
    };
    write();
    auto sendFile = [&](SendState mode, const std::string& content) {
        std::ofstream(std::string(folder) + "/sent", std::ios::binary) << content;
        client->features.transfers.pendingSend = mode;
        StartSend(client->features.transfers, folder, "sent", client->notice);
        ASSERT_EQ(sendState, mode) << client->notice.text;
        while (!FeedSend(client->features.transfers, pump, 0, 0, client->options.sevenBit, true)) write();
        write();
    };
    sendFile(SendState::SendText, "A\xe9\r\nC\n");
    sendFile(SendState::SendRaw, "\xe9\n");
    Run({{a.get(), &read}});
    std::string wire;
    OutputPump& out = served->pump;
    for (out.StageQueued(0, 0); !out.StageEmpty(); out.StageQueued(0, 0)) {
        unsigned n;
        const uint8_t* bytes = out.Pending(&n);
        wire.append(reinterpret_cast<const char*>(bytes), n);
        out.Wrote(n, 0, 0);
    }
    EXPECT_EQ(wire, "i\r\n\xe9\r\r\nAi\rC\r\xe9\n");
}

// A page is one more member: listed and counted, the client it takes the
// line from is told its name, and one without the token never takes.
TEST_F(Served, APageIsAMemberThatTakesTheLine) {
    History historyA;
    ASSERT_TRUE(historyA.Allocate(100));
    std::string readA;
    auto a = Attach(WireAsk::Write, historyA);
    uint16_t page = ServePageJoins(server, "web 127.0.0.1", 0, true);
    uint16_t open = ServePageJoins(server, "web 10.0.0.2", 0, false);
    EXPECT_FALSE(ServePageTakes(server, open));
    Run({{a.get(), &readA}});
    const WireRoster& roster = a->Attached().roster;
    ASSERT_EQ(roster.count, 3u);
    EXPECT_EQ(roster.entry[1].kind, WireClientKind::Browser);
    EXPECT_STREQ(roster.entry[1].name.text, "web 127.0.0.1");
    EXPECT_EQ(a->Others(), 2u);
    ASSERT_TRUE(ServePageTakes(server, page));
    Run({{a.get(), &readA}});
    EXPECT_EQ(a->Attached().role, WireRole::Watching);
    EXPECT_NE(Note(*a).find("web 127.0.0.1 took the line"), std::string::npos);
}

TEST_F(Served, ABrokenOrSilentClientEndsAloneAndARefusalIsFinal) {
    History mine;
    ASSERT_TRUE(mine.Allocate(10));
    std::string read;
    auto a = Attach(WireAsk::Watch, mine);
    Run({{a.get(), &read}});
    EXPECT_EQ(a->Attached().role, WireRole::Watching);  // --watch never asks for the line

    // A second connection sends a header no type has: it alone ends.
    int raw = Connect();
    ASSERT_GE(raw, 0);
    uint8_t hello[WireMaxMessage];
    WireHello h = {};
    h.version = WireVersion;
    ASSERT_EQ(write(raw, hello, PutHello(hello, sizeof hello, h)), ssize_t(WireHeaderSize + 7));
    Run({{a.get(), &read}});
    EXPECT_EQ(ServeClients(server), 2u);
    ASSERT_EQ(write(raw, "\x63\0\0\0", 4), 4);
    Run({{a.get(), &read}});
    EXPECT_EQ(ServeClients(server), 1u);
    ServeReceived(server, U("still"), 5);
    Run({{a.get(), &read}});
    EXPECT_EQ(read, "still");
    close(raw);

    // One that says nothing is dropped at its deadline (raw watchers are off).
    raw = Connect();
    ASSERT_GE(raw, 0);
    Run({{a.get(), &read}}, 3);
    EXPECT_LT(ServeDue(server), INT64_MAX);
    ServeTimers(server, clock + HelloWaitMilliseconds);
    EXPECT_EQ(ServeDue(server), INT64_MAX);
    char byte;
    EXPECT_EQ(::read(raw, &byte, 1), 0);
    close(raw);

    // Only the owner is on the list: a server that lists nobody refuses us,
    // and the refusal ends the attach for good.
    CloseServer(server);
    server.~Server();
    new (&server) Server();
    AccessRules rules = {};
    rules.owner = getuid();
    rules.listsGiven = true;
    char message[256];
    ASSERT_TRUE(OpenServer(server, where.c_str(), rules, {this, Send, Control, Say, nullptr}, history,
                           message, sizeof message));
    std::string why;
    auto refused = Attach(WireAsk::Write, mine, OpenResult::Failed, &why);
    EXPECT_NE(why.find("share-write"), std::string::npos);
    LineControls controls = {};
    EXPECT_EQ(refused->Open(controls, message, sizeof message), OpenResult::Failed);
    EXPECT_NE(std::string(message).find("refused"), std::string::npos);
    EXPECT_FALSE(said.empty());
}

// A connection waits at the door until it has said who it is, apart from
// the clients' slots and bounded per peer: idle connections and token
// guessers never keep a known client out, one peer never fills the door for
// another, a wrong token is still answered at its time, and the door's
// refusals are logged once per peer a minute.
TEST_F(Served, StrangersWaitAtTheDoorAndNeverKeepAKnownClientOut) {
    History mine;
    ASSERT_TRUE(mine.Allocate(10));
    std::string read;
    // Twenty idle connections of our own user: a few wait, each new one
    // closing the silent one that waited longest; none holds a slot.
    std::vector<int> idle;
    for (int i = 0; i < 20; ++i) {
        idle.push_back(Connect());
        ASSERT_GE(idle.back(), 0);
        Run({}, 1);
    }
    EXPECT_EQ(AtTheDoor(), ServeDoorWaitingPerPeer);
    auto a = Attach(WireAsk::Write, mine);  // its hello came with it: let in at once
    Run({{a.get(), &read}});
    EXPECT_EQ(a->Attached().role, WireRole::Writing);
    EXPECT_EQ(ServeClients(server), 1u);
    EXPECT_EQ(SaidWith("said nothing"), 1u);  // seventeen closed, one line
    for (int fd : idle) close(fd);
    a.reset();

    // TCP: sixteen guessers from one address, twenty idle from another; the
    // token holder on a third is let in while they wait.
    int port;
    {
        int probe = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in at = {};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&at), &size), 0);
        port = ntohs(at.sin_port);
        close(probe);
    }
    AccessRules rules = {};
    rules.owner = getuid();
    rules.tokenLength = 6;
    std::memcpy(rules.token, "secret", 6);
    Reopen(rules, "tcp:127.0.0.1:" + std::to_string(port));
    said.clear();
    WireHello guess = {};
    guess.version = WireVersion;
    guess.tokenLength = 6;
    std::memcpy(guess.token, "secreT", 6);
    uint8_t hello[WireMaxMessage];
    unsigned length = PutHello(hello, sizeof hello, guess);
    std::vector<int> guessers;
    idle.clear();
    int64_t first = clock;  // the first guess comes in then, the next ones a pass apart
    for (int i = 0; i < 20; ++i) {
        if (i < 16) {
            guessers.push_back(ConnectTcp("127.0.0.2", port));
            ASSERT_GE(guessers.back(), 0);
            ASSERT_EQ(write(guessers.back(), hello, length), ssize_t(length));
        }
        idle.push_back(ConnectTcp("127.0.0.3", port));
        ASSERT_GE(idle.back(), 0);
        Run({}, 1);
    }
    EXPECT_EQ(AtTheDoor(), 2 * ServeDoorWaitingPerPeer);
    token = "secret";
    auto b = Attach(WireAsk::Write, mine);
    Run({{b.get(), &read}});
    EXPECT_EQ(b->Attached().role, WireRole::Writing);
    EXPECT_EQ(ServeClients(server), 1u);
    // The guessers the door had no room for were told at once, their
    // tokens unread; the others hear of theirs only when the second is up.
    auto told = [&](const char* what) {
        unsigned count = 0;
        for (int fd : guessers) {
            char bytes[512];
            ssize_t got = recv(fd, bytes, sizeof bytes, MSG_DONTWAIT);
            count += got > 0 && std::string(bytes, size_t(got)).find(what) != std::string::npos ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(told("too many connections from your address"), 16 - ServeDoorWaitingPerPeer);
    ServeTimers(server, first + WrongTokenDelayMilliseconds - 1);
    EXPECT_EQ(told("wrong token"), 0u);
    ServeTimers(server, first + WrongTokenDelayMilliseconds + 2 * ServeGatherMilliseconds);
    EXPECT_EQ(told("wrong token"), ServeDoorWaitingPerPeer);
    EXPECT_EQ(SaidWith("127.0.0.2"), 1u);
    EXPECT_EQ(SaidWith("127.0.0.3"), 1u);

    // A minute on, the next refusal is logged, with how many were not.
    clock += DoorQuietMilliseconds;
    int late = ConnectTcp("127.0.0.2", port);
    ASSERT_EQ(write(late, hello, length), ssize_t(length));
    Run({{b.get(), &read}});
    EXPECT_EQ(SaidWith("127.0.0.2"), 2u);
    EXPECT_NE(said.back().find("wrong token (and 15 more from them since"), std::string::npos) << said.back();
    close(late);
    for (int fd : guessers) close(fd);
    for (int fd : idle) close(fd);
}

// The line's bytes are gathered for a client, but never longer than the
// deadline, and a full gathering goes at once: nothing is held back for good,
// and nothing waits for a client that stopped.
TEST_F(Served, TheLinesBytesAreGatheredButNeverHeldAndAStoppedClientIsDropped) {
    History mine;
    ASSERT_TRUE(mine.Allocate(10));
    std::string read;
    auto a = Attach(WireAsk::Watch, mine);
    Run({{a.get(), &read}});
    ASSERT_TRUE(a->Attached().snapshotComplete);
    ServeClient* client = nullptr;
    for (ServeClient& c : server.client) {
        if (c.state == ServeState::Active) client = &c;
    }
    ASSERT_NE(client, nullptr);

    auto waiting = [&] { return client->backlog.Used() + (client->inStep ? server.gathered : 0); };
    struct pollfd fds[ServeMaxDescriptors];
    ServeReceived(server, U("one"), 3);
    ServeDescriptors(server, true, fds, clock);
    EXPECT_EQ(waiting(), WireHeaderSize + 3);
    EXPECT_EQ(ServeDue(server), clock + ServeGatherMilliseconds);
    ServeDescriptors(server, true, fds, clock + ServeGatherMilliseconds);
    EXPECT_EQ(waiting(), 0u);
    EXPECT_EQ(ServeDue(server), INT64_MAX);

    std::string flood(ServeGatherBytes, 'x');
    ServeReceived(server, U(flood.c_str()), unsigned(flood.size()));
    ServeDescriptors(server, true, fds, clock);  // before any deadline
    EXPECT_LT(waiting(), ServeGatherBytes);
    Run({{a.get(), &read}});
    EXPECT_EQ(read, "one" + flood);

    // One that says hello and then stops reading is dropped within its
    // slack, while the reader beside it gets every byte.
    int stalled = Connect();
    ASSERT_GE(stalled, 0);
    uint8_t hello[WireMaxMessage];
    WireHello h = {};
    h.version = WireVersion;
    h.ask = WireAsk::Watch;
    unsigned length = PutHello(hello, sizeof hello, h);
    ASSERT_EQ(write(stalled, hello, length), ssize_t(length));
    Run({{a.get(), &read}});
    History later;
    ASSERT_TRUE(later.Allocate(10));
    std::string readLater;
    auto c = Attach(WireAsk::Watch, later);  // after the stalled one: told of its drop
    Run({{a.get(), &read}, {c.get(), &readLater}});
    ASSERT_EQ(ServeClients(server), 3u);
    read.clear();
    readLater.clear();
    std::string block(16384, 'y');
    unsigned sent = 0;
    for (; sent < 8u << 20 && ServeClients(server) == 3; sent += unsigned(block.size())) {
        ServeReceived(server, U(block.c_str()), unsigned(block.size()));
        Run({{a.get(), &read}, {c.get(), &readLater}}, 1);
    }
    EXPECT_EQ(ServeClients(server), 2u);
    EXPECT_NE(said.back().find("did not keep up"), std::string::npos);
    Run({{a.get(), &read}, {c.get(), &readLater}});
    EXPECT_EQ(read.size(), sent);
    EXPECT_EQ(readLater.size(), sent);
    close(stalled);
    c.reset();
    Run({{a.get(), &read}});

    // One that hangs up finds out at the shared send: the other still gets
    // the gathering once, and the news of the drop after it.
    History theirs;
    ASSERT_TRUE(theirs.Allocate(10));
    std::string ignored;
    auto b = Attach(WireAsk::Watch, theirs);
    Run({{a.get(), &read}, {b.get(), &ignored}});
    ASSERT_EQ(ServeClients(server), 2u);
    b.reset();
    read.clear();
    ServeReceived(server, U("two"), 3);
    ServeDescriptors(server, true, fds, clock);
    ServeDescriptors(server, true, fds, clock + ServeGatherMilliseconds);
    EXPECT_EQ(ServeClients(server), 1u);
    Run({{a.get(), &read}});
    EXPECT_EQ(read, "two");

    // A raw watcher alone: its bytes are gathered too, and go by the same deadline.
    a.reset();
    server.rules.rawWatch = true;
    int raw = Connect();
    ASSERT_GE(raw, 0);
    ASSERT_EQ(write(raw, "?", 1), 1);
    Run({});
    ASSERT_EQ(ServeClients(server), 1u);
    ServeReceived(server, U("three"), 5);
    ServeDescriptors(server, true, fds, clock);
    ServeDescriptors(server, true, fds, clock + ServeGatherMilliseconds);
    char bytes[8] = "";
    EXPECT_EQ(recv(raw, bytes, sizeof bytes, MSG_DONTWAIT), 5);
    EXPECT_STREQ(bytes, "three");
    close(raw);
}

std::unique_ptr<WebInput> Parse(const std::string& message, unsigned* dropped = nullptr) {
    std::unique_ptr<WebInput> input(new WebInput());
    unsigned none;
    ParseWebInput(message.data(), unsigned(message.size()), input.get(), dropped ? dropped : &none);
    return input;
}

std::string Bytes(const WebInput& input) {
    return input.command == WebCommand::Bytes
               ? std::string(reinterpret_cast<const char*>(input.bytes), input.count)
               : "(none)";
}

TEST(WebInput, KeysSendWhatTheTerminalSendsForThem) {
    EXPECT_EQ(Bytes(*Parse("k- ArrowUp")), "\x1b?t");
    EXPECT_EQ(Bytes(*Parse("kS ArrowUp")), "\x1bP");  // the shifted sequence
    EXPECT_EQ(Bytes(*Parse("k- F1")), "\x1bP");       // PF1
    EXPECT_EQ(Bytes(*Parse("k- Numpad5")), "\x1b?u");
    EXPECT_EQ(Bytes(*Parse("k- NumpadAdd")), "\x1b?M");
    EXPECT_EQ(Bytes(*Parse("k- Enter")), "\r");
    EXPECT_EQ(Bytes(*Parse("k- Backspace")), "\x08");
    EXPECT_EQ(Bytes(*Parse("k- Delete")), "\x7f");
    EXPECT_EQ(Bytes(*Parse("kC c")), "\x03");
    EXPECT_EQ(Bytes(*Parse("kCS C")), "\x03");
    EXPECT_EQ(Bytes(*Parse("kC [")), "\x1b");
    EXPECT_EQ(Bytes(*Parse("kCA @")), "@");                  // AltGr: the character, not Ctrl-@
    EXPECT_EQ(Bytes(*Parse("kC  ")), std::string("\0", 1));  // Ctrl-Space
    EXPECT_EQ(Bytes(*Parse("k- \xc3\xa9")), "\xe9");         // é: one byte
    // No counterpart: nothing is sent, nothing guessed.
    EXPECT_EQ(Bytes(*Parse("k- \xe2\x82\xac")), "(none)");  // €
    EXPECT_EQ(Bytes(*Parse("k- F9")), "(none)");
    EXPECT_EQ(Bytes(*Parse("kS Tab")), "(none)");
    EXPECT_EQ(Bytes(*Parse("k-ArrowUp")), "(none)");  // no space: malformed
    EXPECT_EQ(Bytes(*Parse("k- \xc3")), "(none)");    // half a character
}

TEST(WebInput, APasteIsTypedEnterAndLeavesOutWhatHasNoByte) {
    unsigned dropped = 0;
    std::unique_ptr<WebInput> paste = Parse("pone\r\ntwo\nthree\r\xe2\x82\xac!", &dropped);
    EXPECT_TRUE(paste->paste);
    EXPECT_EQ(Bytes(*paste), "one\rtwo\rthree\r!");
    EXPECT_EQ(dropped, 1u);
    std::string huge = "p" + std::string(WebPasteCapacity + 5, 'x');
    EXPECT_EQ(Parse(huge, &dropped)->count, WebPasteCapacity);
    EXPECT_EQ(dropped, 5u);  // counted, never written past the buffer
}

TEST(WebInput, ControlsAndHistoryRequests) {
    EXPECT_EQ(Parse("b")->command, WebCommand::Break);
    std::unique_ptr<WebInput> dtr = Parse("d0");
    EXPECT_EQ(dtr->command, WebCommand::Dtr);
    EXPECT_FALSE(dtr->on);
    EXPECT_TRUE(Parse("r1")->on);
    EXPECT_EQ(Parse("r2")->command, WebCommand::Ignore);
    EXPECT_EQ(Parse("t")->command, WebCommand::Take);
    EXPECT_EQ(Parse("h9999")->row, 9999u);
    EXPECT_TRUE(Parse("h-")->live);
    EXPECT_EQ(Parse("h12a")->command, WebCommand::Ignore);
    EXPECT_EQ(Parse("h99999999999999999999")->command, WebCommand::Ignore);  // would overflow
    EXPECT_EQ(Parse("")->command, WebCommand::Ignore);
    // A replay's seek, in ms, and its pause.
    std::unique_ptr<WebInput> seek = Parse("j12500");
    EXPECT_EQ(seek->command, WebCommand::Seek);
    EXPECT_EQ(seek->time, 12500u);
    for (const char* bad : {"j", "j-5", "j1.5", "j 5", "j99999999999999999999", "z", "z2", "z11"})
        EXPECT_EQ(Parse(bad)->command, WebCommand::Ignore) << bad;
    std::unique_ptr<WebInput> pause = Parse("z1");
    EXPECT_EQ(pause->command, WebCommand::Pause);
    EXPECT_TRUE(pause->on);
    EXPECT_FALSE(Parse("z0")->on);
}

struct Screen {
    Cell cells[ScreenCells];
    WebFrame frame;
    Screen() {
        for (Cell& cell : cells) cell = BlankCell;
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &cells[r * ScreenColumns];
        frame.cursorRow = frame.cursorColumn = 0;
        frame.cursorVisible = true;
        frame.line = "/dev/ttyS0";
        frame.speed = "9600,n,8,1";
        frame.who = "terminal";
        frame.log = false;
    }
    void Put(int row, const char* text) {
        for (int c = 0; text[c] != '\0'; ++c) cells[row * ScreenColumns + c] = Cell(uint8_t(text[c]));
    }
};

std::string Update(WebPageView& view, const WebShown& shown, WebRole role = WebRole::Watcher) {
    std::unique_ptr<char[]> out(new char[WebMessageCapacity]);
    unsigned length = ComposeWebUpdate(view, shown, role, out.get(), WebMessageCapacity);
    return std::string(out.get(), length);
}

TEST(WebView, APageThatFellBehindGetsTheRowsAsTheyAreNowOnce) {
    std::unique_ptr<Screen> s(new Screen());
    std::unique_ptr<WebShown> shown(new WebShown());
    ResetWebShown(*shown);
    WebPageView late;  // a new page: everything
    WebPageView current;
    MarkWebView(current, NoteWebFrame(*shown, s->frame));
    Update(current, *shown);
    std::string first = Update(late, *shown);
    EXPECT_NE(first.find("[23,\""), std::string::npos);
    EXPECT_NE(first.find("\"status\""), std::string::npos);

    for (int turn = 0; turn < 100; ++turn) {  // the page does not read meanwhile
        char text[16];
        std::snprintf(text, sizeof text, "turn %d", turn);
        s->Put(3, text);
        MarkWebView(current, NoteWebFrame(*shown, s->frame));
    }
    std::string caught = Update(current, *shown);
    EXPECT_EQ(caught.substr(0, 22), "{\"t\":\"u\",\"rows\":[[3,\"t");
    EXPECT_NE(caught.find("turn 99"), std::string::npos);
    EXPECT_EQ(caught.find("turn 98"), std::string::npos);  // no backlog
    EXPECT_EQ(caught.find("cursor"), std::string::npos);   // it did not move
    EXPECT_EQ(Update(current, *shown), "");                // nothing more to say
}

TEST(WebView, RowTextIsEightyCharactersOfEscapedUtf8) {
    std::unique_ptr<Screen> s(new Screen());
    std::unique_ptr<WebShown> shown(new WebShown());
    ResetWebShown(*shown);
    s->Put(0, "\"q\" \\ <b>");
    s->cells[20] = 0x2588;  // full block
    s->cells[21] = 0x1b;    // a control byte never reaches JSON raw
    s->cells[22] = 0xD800;  // half a surrogate pair
    s->frame.cursorRow = 5;
    s->frame.cursorColumn = 79;
    s->frame.who = "a \"name\"";
    WebPageView view;
    NoteWebFrame(*shown, s->frame);
    std::string message = Update(view, *shown, WebRole::Writer);
    std::string row0 = "[0,\"\\\"q\\\" \\\\ <b>" + std::string(11, ' ') + "\xe2\x96\x88\\u001b\xef\xbf\xbd" +
                       std::string(57, ' ') + "\"]";
    EXPECT_NE(message.find(row0), std::string::npos) << message.substr(0, 200);
    EXPECT_NE(message.find("\"cursor\":[5,79,true]"), std::string::npos);
    EXPECT_NE(message.find("\"role\":\"writing\""), std::string::npos);
    EXPECT_NE(message.find("\"who\":\"a \\\"name\\\"\""), std::string::npos);
    // The worst screen still fits one message.
    for (Cell& cell : s->cells) cell = 0x01;
    WebPageView again;
    MarkWebView(again, NoteWebFrame(*shown, s->frame));
    EXPECT_GT(Update(again, *shown).size(), 24u * 80 * 6);
}

TEST(WebView, HistoryWindowsAreClampedAndRunIntoTheScreen) {
    History history;
    ASSERT_TRUE(history.Allocate(30));
    Cell row[ScreenColumns];
    for (unsigned n = 1; n <= 40; ++n) {  // 10 forgotten
        for (Cell& cell : row) cell = BlankCell;
        std::string text = "line " + std::to_string(n);
        for (unsigned c = 0; c < text.size(); ++c) row[c] = Cell(text[c]);
        history.Push(row);
    }
    std::unique_ptr<WebShown> shown(new WebShown());
    ResetWebShown(*shown);
    shown->cells[0] = 'S';
    std::unique_ptr<char[]> out(new char[WebMessageCapacity]);
    std::string top(out.get(), ComposeWebHistory(history, *shown, 0, out.get(), WebMessageCapacity));
    EXPECT_NE(top.find("\"first\":10,\"oldest\":10,\"end\":40"), std::string::npos);
    EXPECT_NE(top.find("[\"line 11 "), std::string::npos);
    std::string bottom(out.get(), ComposeWebHistory(history, *shown, 30, out.get(), WebMessageCapacity));
    EXPECT_NE(bottom.find(",\"S "), std::string::npos);  // row 40 is the screen's first
    std::string past(out.get(), ComposeWebHistory(history, *shown, ~0ull, out.get(), WebMessageCapacity));
    EXPECT_NE(past.find("\"first\":40"), std::string::npos);
}

TEST(WebView, AReplaysPlaceMovesAtItsSpeedAndIsToldAgainOnlyWhenItDiffers) {
    WebReplayMark marks[] = {{5000000, "boot"}, {17000000, "\"ok\" \xe2\x86\x92"}};
    WebReplay replay;
    replay.on = true;
    replay.at = 10000000;
    replay.length = 30000000;
    replay.since = 1000;
    replay.speed = 2;
    replay.marks = marks;
    replay.markCount = 2;
    EXPECT_EQ(WebReplayAt(replay, 2000), 12000000u);    // a second at twice the pace
    EXPECT_EQ(WebReplayAt(replay, 100000), 30000000u);  // never past the end
    std::unique_ptr<char[]> out(new char[WebMessageCapacity]);
    std::string message(out.get(), ComposeWebReplay(replay, 2000, false, out.get(), WebMessageCapacity));
    EXPECT_EQ(message,
              "{\"t\":\"r\",\"at\":12000,\"length\":30000,\"paused\":false,\"speed\":2,\"seek\":false,"
              "\"marks\":[[5000,\"boot\"],[17000,\"\\\"ok\\\" ???\"]]}");
    // The same place seen a little later is no news; a seek, a pause or drift is.
    WebReplay later = replay;
    later.at = 13000000;
    later.since = 2500;
    EXPECT_FALSE(WebReplayDiffers(replay, later, 3000));
    later.at = 16000000;
    EXPECT_TRUE(WebReplayDiffers(replay, later, 3000));
    WebReplay paused = replay;
    paused.paused = true;
    EXPECT_TRUE(WebReplayDiffers(replay, paused, 1000));
    EXPECT_EQ(WebReplayAt(paused, 9000), 10000000u);
    // Many marks: as many as fit, and the message still whole.
    std::vector<WebReplayMark> many(2000, WebReplayMark{1000, "a mark with a name of some length"});
    replay.marks = many.data();
    replay.markCount = unsigned(many.size());
    unsigned length = ComposeWebReplay(replay, 2000, true, out.get(), WebMessageCapacity);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::string(out.get() + length - 3, 3), "]]}");
    replay.on = false;
    EXPECT_EQ(ComposeWebReplay(replay, 2000, true, out.get(), WebMessageCapacity), 0u);
}

TEST(WebAuth, TokensSessionsAndOrigins) {
    EXPECT_TRUE(WebTokenMatches("open sesame", "open sesame", 11));
    EXPECT_FALSE(WebTokenMatches("open sesame", "open", 4));
    EXPECT_FALSE(WebTokenMatches("open", "open sesame", 11));
    EXPECT_FALSE(WebTokenMatches("", "", 0));  // no token: nobody

    char token[WebTokenCapacity];
    ASSERT_TRUE(WebFormToken("a=1&token=open+sesame%21&b=2", 28, token, sizeof token));
    EXPECT_STREQ(token, "open sesame!");
    EXPECT_FALSE(WebFormToken("token=%2", 8, token, sizeof token));
    EXPECT_FALSE(WebFormToken("tokens=x", 8, token, sizeof token));
    std::string longer = "token=" + std::string(WebTokenCapacity, 'x');
    EXPECT_FALSE(WebFormToken(longer.data(), unsigned(longer.size()), token, sizeof token));
    // The value is compared whole, as the login does: the right token with
    // anything after it, a NUL first among them, is wrong.
    auto logsIn = [&](const std::string& body) {
        return WebFormToken(body.data(), unsigned(body.size()), token, sizeof token) &&
               WebTokenMatches("open sesame", token, unsigned(std::strlen(token)));
    };
    EXPECT_TRUE(logsIn("token=open%20sesame"));
    EXPECT_FALSE(logsIn("token=open%20sesame%00junk"));
    EXPECT_FALSE(logsIn("token=open%20sesame%00"));
    EXPECT_FALSE(logsIn("token=open%20sesame%0a"));

    std::unique_ptr<WebSessions> sessions(new WebSessions());
    uint8_t random[16] = {0xde, 0xad, 0xbe, 0xef};
    std::string id = StartWebSession(*sessions, random);
    EXPECT_EQ(id.size(), WebSessionIdLength);
    EXPECT_TRUE(WebCookieHasSession(*sessions, ("x=1; brisvane_session=" + id + "; y=2").c_str()));
    EXPECT_FALSE(WebCookieHasSession(*sessions, ("brisvane_session=" + id + "0").c_str()));
    EXPECT_FALSE(WebCookieHasSession(*sessions, ("other_session=" + id).c_str()));
    EXPECT_FALSE(WebCookieHasSession(*sessions, ""));
    // An empty slot is no session.
    EXPECT_FALSE(WebCookieHasSession(*sessions, ("brisvane_session=" + std::string(32, '\0')).c_str()));

    EXPECT_TRUE(WebOriginMatches("http://127.0.0.1:8080", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebOriginMatches("http://127.0.0.1:8080", "127.0.0.1:8080", true));
    EXPECT_FALSE(WebOriginMatches("http://127.0.0.1:8080.evil", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebOriginMatches("null", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebOriginMatches("http://", "", false));

    // A form posted from another site: no Origin, another one, or the browser says so.
    EXPECT_TRUE(WebSameOrigin("http://127.0.0.1:8080", "", "127.0.0.1:8080", false));
    EXPECT_TRUE(WebSameOrigin("http://127.0.0.1:8080", "same-origin", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebSameOrigin("", "", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebSameOrigin("http://127.0.0.1:8081", "", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebSameOrigin("http://127.0.0.1:8080", "cross-site", "127.0.0.1:8080", false));
    EXPECT_FALSE(WebSameOrigin("http://127.0.0.1:8080", "same-site", "127.0.0.1:8080", false));

    EXPECT_EQ(ClassifyWebPath("/"), WebPath::Page);
    EXPECT_EQ(ClassifyWebPath("/page.js?v=1"), WebPath::Script);
    EXPECT_EQ(ClassifyWebPath("/login"), WebPath::Login);
    EXPECT_EQ(ClassifyWebPath("/page.js/../../etc/passwd"), WebPath::BadRequest);
    EXPECT_EQ(ClassifyWebPath("/%2e%2E/x"), WebPath::BadRequest);
    EXPECT_EQ(ClassifyWebPath("/favicon.ico"), WebPath::NotFound);
    EXPECT_EQ(ClassifyWebPath(("/" + std::string(400, 'a')).c_str()), WebPath::NotFound);
}

// Only a Host that names this server is answered: a name rebound to it in
// some DNS is not, whatever Origin comes with it.
TEST(WebAuth, HostsNameTheServer) {
    const char* none[] = {nullptr};
    EXPECT_TRUE(WebHostAllowed("127.0.0.1:8080", "127.0.0.1", 8080, false, none, 0));
    EXPECT_TRUE(WebHostAllowed("localhost:8080", "127.0.0.1", 8080, false, none, 0));
    EXPECT_TRUE(WebHostAllowed("[::1]:8080", "127.0.0.1", 8080, false, none, 0));
    EXPECT_TRUE(WebHostAllowed("LocalHost:8080", "::1", 8080, false, none, 0));
    EXPECT_FALSE(WebHostAllowed("attacker.example:8080", "127.0.0.1", 8080, false, none, 0));
    EXPECT_FALSE(WebHostAllowed("127.0.0.1:8081", "127.0.0.1", 8080, false, none, 0));
    EXPECT_FALSE(WebHostAllowed("127.0.0.1", "127.0.0.1", 8080, false, none, 0));  // port 80
    EXPECT_TRUE(WebHostAllowed("127.0.0.1", "127.0.0.1", 80, false, none, 0));
    EXPECT_TRUE(WebHostAllowed("127.0.0.1", "127.0.0.1", 443, true, none, 0));
    EXPECT_FALSE(WebHostAllowed("", "127.0.0.1", 8080, false, none, 0));
    EXPECT_FALSE(WebHostAllowed("127.0.0.1:", "127.0.0.1", 8080, false, none, 0));
    EXPECT_FALSE(WebHostAllowed("127.0.0.1:8080 x", "127.0.0.1", 8080, false, none, 0));
    EXPECT_FALSE(WebHostAllowed("[::1:8080", "127.0.0.1", 8080, false, none, 0));
    EXPECT_FALSE(WebHostAllowed("127.0.0.1.evil:8080", "127.0.0.1", 8080, false, none, 0));

    // Elsewhere the address the connection came to, and the names given.
    const char* names[] = {"0.0.0.0", "lab.example", "[fe80::2]"};
    EXPECT_TRUE(WebHostAllowed("192.0.2.7:8080", "192.0.2.7", 8080, false, names, 3));
    EXPECT_FALSE(WebHostAllowed("192.0.2.8:8080", "192.0.2.7", 8080, false, names, 3));
    EXPECT_FALSE(WebHostAllowed("localhost:8080", "192.0.2.7", 8080, false, names, 3));
    EXPECT_TRUE(WebHostAllowed("Lab.Example:8080", "192.0.2.7", 8080, false, names, 3));
    EXPECT_TRUE(WebHostAllowed("[FE80::2]:8080", "192.0.2.7", 8080, false, names, 3));
    EXPECT_FALSE(WebHostAllowed("lab.example.attacker.example:8080", "192.0.2.7", 8080, false, names, 3));
    EXPECT_TRUE(WebHostAllowed("[2001:db8::1]:8080", "2001:db8::1", 8080, false, names, 3));

    EXPECT_TRUE(WebLoopbackName("127.1.2.3"));
    EXPECT_FALSE(WebLoopbackName("127.0.0.1.evil"));
    EXPECT_FALSE(WebLoopbackName("127.0.0.256"));
    EXPECT_FALSE(WebLoopbackName("128.0.0.1"));

    EXPECT_EQ(WebHostNameProblem("lab.example"), nullptr);
    EXPECT_EQ(WebHostNameProblem("[::1]"), nullptr);
    EXPECT_NE(WebHostNameProblem("lab.example:8080"), nullptr);
    EXPECT_NE(WebHostNameProblem(""), nullptr);
    EXPECT_NE(WebHostNameProblem("lab example"), nullptr);
}

MdnsDeviceFacts UsbAdapter() {
    MdnsDeviceFacts f;
    f.local = true;
    f.vendor = "0403";
    f.product = "6001";
    f.serial = "A10K3ZQ1";
    f.manufacturer = "FTDI";
    f.productName = "FT232R USB UART";
    return f;
}

TEST(MdnsRecords, TxtKeysAsAPortServerGivesThemAndOnlyWhatTheDeviceHas) {
    EXPECT_EQ(PortServiceTxt(UsbAdapter()),
              (std::vector<std::string>{"provider=brisvane", "gensiostack=telnet(rfc2217),tcp",
                                        "devicetype=serialdev", "idVendor=0403", "idProduct=6001",
                                        "serial=A10K3ZQ1", "manufacturer=FTDI", "product=FT232R USB UART"}));
    MdnsDeviceFacts pty;
    pty.local = true;  // a pty: no USB facts, no empty keys
    EXPECT_EQ(PortServiceTxt(pty),
              (std::vector<std::string>{"provider=brisvane", "gensiostack=telnet(rfc2217),tcp",
                                        "devicetype=serialdev"}));
    EXPECT_EQ(AttachServiceTxt(MdnsDeviceFacts()), std::vector<std::string>{"provider=brisvane"});
    EXPECT_EQ(WebServiceTxt(), (std::vector<std::string>{"provider=brisvane", "path=/"}));
    MdnsDeviceFacts chatty = UsbAdapter();
    chatty.productName = std::string(400, 'p');  // a TXT string holds 255 bytes
    for (const std::string& item : PortServiceTxt(chatty)) EXPECT_LE(item.size(), 255u);
}

TEST(MdnsRecords, TheNameIsGivenElseTheProfileElseTheDevice) {
    EXPECT_EQ(MdnsServiceName("bench-3", "board", "/dev/ttyUSB0"), "bench-3");
    EXPECT_EQ(MdnsServiceName("", "board", "/dev/ttyUSB0"), "board");
    EXPECT_EQ(MdnsServiceName("", nullptr, "/dev/ttyUSB0"), "ttyUSB0");
    EXPECT_EQ(MdnsServiceName("", nullptr, "rfc2217://10.0.0.5:7000"), "10.0.0.5:7000");
    // A DNS label holds 63 bytes; a character is not cut in two.
    std::string name = std::string(62, 'a') + "\xc3\xa9";
    EXPECT_EQ(MdnsServiceName(name.c_str(), nullptr, "x"), std::string(62, 'a'));
}

TEST(MdnsRecords, ServicesSeenOnSeveralInterfacesAreOneEntry) {
    MdnsTable table;
    EXPECT_TRUE(MdnsSeen(table, "board1", MdnsPortType, "local"));
    EXPECT_FALSE(MdnsSeen(table, "board1", MdnsPortType, "local"));  // again, on eth0: not resolved twice
    EXPECT_TRUE(MdnsSeen(table, "board1", MdnsAttachType, "local"));
    EXPECT_EQ(table.found.size(), 2u);
    EXPECT_EQ(MdnsUnresolved(table), 2u);
    MdnsResolved(table, "board1", MdnsPortType, "local", "lab.local", "10.0.0.5", 7411,
                 {"provider=brisvane", "gensiostack=telnet(rfc2217),tcp"});
    EXPECT_EQ(MdnsUnresolved(table), 1u);
    MdnsGone(table, "board1", MdnsAttachType, "local");
    EXPECT_EQ(table.found.size(), 1u);
    for (unsigned i = 0; i < MdnsMaxFound + 5; ++i)
        MdnsSeen(table, std::to_string(i).c_str(), MdnsPortType, "local");
    EXPECT_EQ(table.found.size(), size_t(MdnsMaxFound));  // bounded
}

TEST(MdnsRecords, ANameReachesAPortOrAnAttachAccepterByItsType) {
    MdnsTable table;
    auto add = [&](const char* name, const char* type, const char* address, uint16_t port,
                   std::vector<std::string> txt) {
        MdnsSeen(table, name, type, "local");
        MdnsResolved(table, name, type, "local", "lab.local", address, port, txt);
    };
    add("board1", MdnsPortType, "10.0.0.5", 7411, {"gensiostack=telnet(rfc2217),tcp", "provider=brisvane"});
    add("board1", MdnsAttachType, "10.0.0.5", 7412, {"provider=brisvane"});
    add("s2n", MdnsPortType, "10.0.0.6", 2000, {"gensiostack=telnet(rfc2217),tcp", "provider=ser2net"});
    add("rawport", MdnsPortType, "fe80::1", 3000, {"gensiostack=tcp", "provider=ser2net"});
    MdnsSeen(table, "pending", MdnsPortType, "local");  // seen, never resolved

    MdnsTarget t = MdnsChoose(table, "board1", false);
    EXPECT_EQ(t.pick, MdnsPick::Network);
    EXPECT_EQ(t.where, "rfc2217://10.0.0.5:7411");
    t = MdnsChoose(table, "board1", true);  // a token given: the served line itself
    EXPECT_EQ(t.pick, MdnsPick::Attach);
    EXPECT_EQ(t.where, "tcp:10.0.0.5:7412");
    EXPECT_EQ(MdnsChoose(table, "s2n", true).where, "rfc2217://10.0.0.6:2000");
    EXPECT_EQ(MdnsChoose(table, "rawport", false).where, "tcp://[fe80::1]:3000");
    EXPECT_EQ(MdnsChoose(table, "pending", false).pick, MdnsPick::NotFound);
    EXPECT_EQ(MdnsChoose(table, "Board1", false).pick, MdnsPick::NotFound);
    EXPECT_EQ(MdnsFoundNames(table), "board1, pending, rawport, s2n");
    EXPECT_EQ(MdnsFoundNames(MdnsTable()), "nothing");

    std::string listed = FormatMdnsTable(table);
    EXPECT_NE(listed.find("  mdns:board1  --attach tcp:10.0.0.5:7412  (_brisvane._tcp on lab.local)\n"
                          "    provider=brisvane\n"
                          "  mdns:board1  rfc2217://10.0.0.5:7411  (_iostream._tcp on lab.local)\n"
                          "    gensiostack=telnet(rfc2217),tcp provider=brisvane\n"),
              std::string::npos)
        << listed;
    EXPECT_NE(listed.find("mdns:pending  (not resolved)"), std::string::npos) << listed;
}

// avahi's side of the loop, without a daemon: a pipe as its socket.
struct PollCalls {
    MdnsPoll* poll;
    int watched = 0, timed = 0;
    AvahiWatchEvent seen = AvahiWatchEvent(0);
    bool freeInCallback = false, again = false;
    AvahiTimeout* timeout = nullptr;
};

TEST(MdnsPoll, WatchesArePollfdsAndTimeoutsTheLoopsDeadline) {
    MdnsPoll poll;
    MdnsPollInit(poll);
    PollCalls calls = {&poll};
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    AvahiWatch* w = poll.api.watch_new(
        &poll.api, ends[0], AVAHI_WATCH_IN,
        [](AvahiWatch* watch, int, AvahiWatchEvent event, void* user) {
            PollCalls& c = *static_cast<PollCalls*>(user);
            ++c.watched;
            c.seen = c.poll->api.watch_get_events(watch);
            EXPECT_EQ(c.seen, event);
            if (c.freeInCallback) c.poll->api.watch_free(watch);
        },
        &calls);
    struct pollfd fds[MdnsMaxDescriptors];
    ASSERT_EQ(MdnsPollDescriptors(poll, fds), 1u);
    EXPECT_EQ(fds[0].fd, ends[0]);
    EXPECT_EQ(fds[0].events, POLLIN);
    EXPECT_EQ(::poll(fds, 1, 0), 0);
    MdnsPollEvents(poll, fds, 1);
    EXPECT_EQ(calls.watched, 0);  // nothing happened: not called
    ASSERT_EQ(write(ends[1], "x", 1), 1);
    calls.freeInCallback = true;  // avahi frees a watch from its own callback
    ASSERT_EQ(MdnsPollDescriptors(poll, fds), 1u);
    ASSERT_EQ(::poll(fds, 1, 0), 1);
    MdnsPollEvents(poll, fds, 1);
    EXPECT_EQ(calls.watched, 1);
    EXPECT_EQ(calls.seen, AVAHI_WATCH_IN);
    EXPECT_EQ(MdnsPollDescriptors(poll, fds), 0u);  // gone from the next wait
    EXPECT_TRUE(poll.watches.empty());
    (void)w;

    // avahi's times are the wall clock's: 200 ms from now is due 200 ms on the loop's clock.
    EXPECT_EQ(MdnsPollDue(poll), NoDeadline);
    struct timeval wall;
    gettimeofday(&wall, nullptr);
    wall.tv_usec += 200000;
    if (wall.tv_usec >= 1000000) wall.tv_sec += 1, wall.tv_usec -= 1000000;
    int64_t now = MonotonicMilliseconds();
    calls.timeout = poll.api.timeout_new(
        &poll.api, &wall,
        [](AvahiTimeout* t, void* user) {
            PollCalls& c = *static_cast<PollCalls*>(user);
            ++c.timed;
            if (c.again) {  // set again from its own callback: due once more
                struct timeval next;
                gettimeofday(&next, nullptr);
                c.poll->api.timeout_update(t, &next);
                c.again = false;
            }
        },
        &calls);
    EXPECT_NEAR(double(MdnsPollDue(poll) - now), 200.0, 20.0);
    MdnsPollTimers(poll, now);
    EXPECT_EQ(calls.timed, 0);  // not yet
    calls.again = true;
    MdnsPollTimers(poll, now + 300);
    EXPECT_EQ(calls.timed, 1);
    EXPECT_LE(MdnsPollDue(poll), MonotonicMilliseconds());
    MdnsPollTimers(poll, MonotonicMilliseconds());
    EXPECT_EQ(calls.timed, 2);
    EXPECT_EQ(MdnsPollDue(poll), NoDeadline);  // one shot: off after it ran
    poll.api.timeout_update(calls.timeout, nullptr);
    poll.api.timeout_free(calls.timeout);
    MdnsPollTimers(poll, now + 1000);
    EXPECT_TRUE(poll.timeouts.empty());
    EXPECT_EQ(calls.timed, 2);
    close(ends[0]);
    close(ends[1]);
}

}  // namespace

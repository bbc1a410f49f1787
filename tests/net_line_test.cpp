// Network lines over real sockets: against a server in this process on
// 127.0.0.1, and against ser2net on one end of a socat pty pair.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "console/line/net_line.h"

namespace {

const std::string IAC = "\xff";
std::string B(int byte) { return std::string(1, static_cast<char>(byte)); }
std::string Sub(const std::string& body) { return IAC + "\xfa" + B(44) + body + IAC + "\xf0"; }
void Send(int fd, const std::string& bytes) { send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

bool Eventually(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

std::string Slurp(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// A socket on 127.0.0.1 with a port of its own: listening (accept never
// blocks: the line may still be looking the name up), or refusing.
struct Listener {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    uint16_t port = 0;
    explicit Listener(bool listening = true) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(fd, reinterpret_cast<sockaddr*>(&address), length);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        if (listening) listen(fd, 1);
    }
    ~Listener() { close(fd); }
    std::string Name() const { return "127.0.0.1:" + std::to_string(port); }
};

NetworkLine MakeLine(const std::string& device) {
    NetworkAddress address;
    const char* problem = nullptr;
    EXPECT_TRUE(ParseNetworkDevice(device.c_str(), &address, &problem)) << device;
    return NetworkLine(address);
}

const LineControls Controls = {{19200, Parity::Odd, 7, StopBits::Two}, true, 1, -1};

// Polls and calls Continue (running `server` each turn) until decided.
OpenResult Connect(
    NetworkLine& line, std::string* message, const std::function<void()>& server = [] {}) {
    char text[256] = "";
    OpenResult result = line.Open(Controls, text, sizeof text);
    for (int turn = 0; result == OpenResult::InProgress && turn < 500; ++turn) {
        server();
        pollfd entry = {line.Descriptor(), line.PollEvents(false), 0};
        poll(&entry, 1, 10);
        result = line.Continue(entry.revents, text, sizeof text);
    }
    *message = text;
    return result;
}

// Up to `want` bytes from the line (or a descriptor), or what came before Lost.
std::string Receive(NetworkLine* line, int fd, size_t want, IoResult* last = nullptr) {
    std::string got;
    IoResult result = IoResult::Done;
    Eventually([&] {
        pollfd entry = {line ? line->Descriptor() : fd, line ? line->PollEvents(false) : short(POLLIN), 0};
        poll(&entry, 1, 10);
        uint8_t block[256];
        unsigned count = 0;
        if (line != nullptr)
            result = line->Read(block, sizeof block, &count);
        else if (entry.revents & POLLIN)
            count = static_cast<unsigned>(std::max(0l, read(fd, block, sizeof block)));
        got.append(reinterpret_cast<char*>(block), count);
        return got.size() >= want || result == IoResult::Lost;
    });
    if (last != nullptr) *last = result;
    return got;
}

void Write(NetworkLine& line, const std::string& bytes) {
    size_t done = 0;
    Eventually([&] {
        unsigned count = 0;
        line.Write(reinterpret_cast<const uint8_t*>(bytes.data() + done),
                   static_cast<unsigned>(bytes.size() - done), &count);
        return (done += count) == bytes.size();
    });
}

void ExpectLostWhenClosed(NetworkLine& line, int peer) {
    close(peer);
    IoResult result;
    Receive(&line, -1, 1000, &result);
    EXPECT_EQ(result, IoResult::Lost);
}

TEST(NetworkLine, RawTcpCarriesBytesUntouched) {
    Listener server;
    // A name (from /etc/hosts): where it also gives ::1, that is refused first.
    const std::string name = "localhost:" + std::to_string(server.port);
    NetworkLine line = MakeLine("tcp://" + name);
    std::string message;
    ASSERT_EQ(Connect(line, &message), OpenResult::Open) << message;
    int peer = accept(server.fd, nullptr, nullptr);
    EXPECT_EQ(line.Name(), name);
    EXPECT_FALSE(line.HasSettings());
    int keepAlive = 0, idle = 0;  // a vanished server is found within about 30 s
    socklen_t size = sizeof keepAlive;
    getsockopt(line.Descriptor(), SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &size);
    getsockopt(line.Descriptor(), IPPROTO_TCP, TCP_KEEPIDLE, &idle, &size);
    EXPECT_TRUE(keepAlive == 1 && idle == 10);
    EXPECT_EQ(line.SetBreak(true), ControlResult::Unsupported);
    const std::string telnetLooking = IAC + "\xfd" + B(44) + std::string("\r\0", 2);
    Write(line, telnetLooking);
    EXPECT_EQ(Receive(nullptr, peer, 5), telnetLooking);
    Send(peer, telnetLooking);
    EXPECT_EQ(Receive(&line, -1, 5), telnetLooking);
    ExpectLostWhenClosed(line, peer);
}

TEST(NetworkLine, Rfc2217WaitsForAcceptanceThenSendsSettingsAndData) {
    Listener server;
    NetworkLine line = MakeLine("rfc2217://" + server.Name());
    int peer = -1;
    std::string offers, message;
    auto serve = [&] {  // reads the offers, then accepts with data and modem state behind
        if (peer < 0) peer = accept4(server.fd, nullptr, nullptr, SOCK_NONBLOCK);
        if (peer < 0) return;
        char block[64];
        ssize_t n = offers.size() < 15 ? read(peer, block, sizeof block) : 0;
        if (n > 0) offers.append(block, static_cast<size_t>(n));
        if (n > 0 && offers.size() >= 15) Send(peer, IAC + "\xfd" + B(44) + "hi" + Sub(B(107) + B(0x10)));
    };
    ASSERT_EQ(Connect(line, &message, serve), OpenResult::Open) << message;
    EXPECT_EQ(offers.substr(0, 3), IAC + "\xfb" + B(44));
    EXPECT_EQ(Receive(&line, -1, 2), "hi");
    ModemLines lines = {};
    ASSERT_EQ(line.ReadModemLines(&lines), ControlResult::Done);
    EXPECT_TRUE(lines.cts && lines.dtr && lines.rts);  // RTS never set: as the server opened it
    EXPECT_FALSE(lines.dsr || lines.dcd || lines.ri);
    // No RTS command: it was -1.
    const std::string settings = Sub(B(1) + B(0) + B(0) + B(0x4B) + B(0)) + Sub(B(2) + B(7)) +
                                 Sub(B(3) + B(2)) + Sub(B(4) + B(2)) + Sub(B(5) + B(3)) + Sub(B(5) + B(8)) +
                                 Sub(B(11) + B(0xF0));
    EXPECT_EQ(Receive(nullptr, peer, settings.size()), settings);
    EXPECT_EQ(line.SetModemOutput(ModemOutput::Rts, false), ControlResult::Done);
    EXPECT_EQ(line.SetBreak(true), ControlResult::Done);
    Write(line,
          "\xff"
          "a");
    const std::string expected = Sub(B(5) + B(12)) + Sub(B(5) + B(5)) + IAC + IAC + "a";
    EXPECT_EQ(Receive(nullptr, peer, expected.size()), expected);
    Send(peer, "x" + IAC + IAC + "y");
    EXPECT_EQ(Receive(&line, -1, 3), "x\xffy");
    ExpectLostWhenClosed(line, peer);
}

// A device that talks before its server answers: every byte, in order;
// the commands go out once it accepts, and a later refusal is said once.
TEST(NetworkLine, DataBeforeTheAnswerIsKeptWhole) {
    Listener server;
    NetworkLine line = MakeLine("rfc2217://" + server.Name());
    int peer = -1;
    std::string flood;  // past the 1 KiB once kept; the program's tests send 110 kB
    for (int i = 0; flood.size() < 3000; ++i) flood += "line " + std::to_string(i) + "\r\n";
    auto talk = [&] {
        if (peer < 0 && (peer = accept(server.fd, nullptr, nullptr)) >= 0) Send(peer, flood.substr(0, 100));
    };
    std::string message;
    ASSERT_EQ(Connect(line, &message, talk), OpenResult::Open) << message;
    Send(peer, flood.substr(100));
    EXPECT_EQ(Receive(&line, -1, flood.size()), flood);
    char note[256];
    EXPECT_FALSE(line.TakeNote(note, sizeof note));
    EXPECT_EQ(line.SetBreak(true), ControlResult::Done);  // waits for the answer
    Send(peer, IAC + "\xfd" + B(44) + "z");
    EXPECT_EQ(Receive(&line, -1, 1), "z");
    std::string offers;
    EXPECT_TRUE(Eventually([&] {  // the BREAK went once accepted
        if (offers.find(Sub(B(5) + B(5))) == std::string::npos) offers += Receive(nullptr, peer, 1);
        return offers.find(Sub(B(5) + B(5))) != std::string::npos;
    })) << testing::PrintToString(offers);
    Send(peer, IAC + "\xfe" + B(44) + "still");
    EXPECT_EQ(Receive(&line, -1, 5), "still");
    ASSERT_TRUE(line.TakeNote(note, sizeof note));
    EXPECT_STREQ(note, "the port server refused serial-port control; data still flows");
    EXPECT_FALSE(line.TakeNote(note, sizeof note));
    EXPECT_EQ(line.Apply(Controls, note, sizeof note), ControlResult::Refused);
    EXPECT_STREQ(note, "the port server refused serial-port control; data still flows");
    close(peer);
}

// The hand-off from the lookup thread: a result, a failure, and a lookup
// abandoned midway.
TEST(Resolver, HandsTheResultBackThroughItsDescriptor) {
    Resolver resolver;
    ResolvedAddresses result;
    auto finish = [&] {
        pollfd entry = {resolver.Descriptor(), POLLIN, 0};
        EXPECT_EQ(poll(&entry, 1, 5000), 1);
        return resolver.Finish(&result);
    };
    ASSERT_TRUE(resolver.Start("127.0.0.1", 2217));
    ASSERT_TRUE(finish());
    ASSERT_EQ(result.error, 0);
    ASSERT_GE(result.count, 1u);
    EXPECT_EQ(result.address[0].ss_family, AF_INET);
    EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in*>(&result.address[0])->sin_port), 2217);
    EXPECT_EQ(resolver.Descriptor(), -1);  // done with

    ASSERT_TRUE(resolver.Start("nothere.invalid", 1));  // a name that never resolves
    ASSERT_TRUE(finish());
    EXPECT_NE(result.error, 0);
    EXPECT_EQ(result.count, 0u);

    // Each abandons the last; past a few still running the answer is "try
    // again" at once, never a wait on this thread.
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(resolver.Start("localhost", 1));
    ASSERT_TRUE(finish());
    EXPECT_TRUE(result.error == 0 || result.error == EAI_AGAIN) << result.error;
}

TEST(NetworkLine, SaysWhyItCannotOpen) {
    std::string message;
    Listener closed(false);
    NetworkLine absent = MakeLine("rfc2217://" + closed.Name());
    EXPECT_EQ(Connect(absent, &message), OpenResult::Missing);
    EXPECT_EQ(message, closed.Name() + ": connection refused; is the server running?");
    EXPECT_EQ(absent.Descriptor(), -1);

    Listener server;
    NetworkLine refused = MakeLine("rfc2217://" + server.Name());
    int peer = -1;
    auto refuse = [&] {
        if (peer < 0 && (peer = accept(server.fd, nullptr, nullptr)) >= 0) Send(peer, IAC + "\xfe" + B(44));
    };
    EXPECT_EQ(Connect(refused, &message, refuse), OpenResult::Failed);
    EXPECT_EQ(message, server.Name() + ": the server refused the COM-PORT-OPTION; for a raw port use tcp://" +
                           server.Name());
    close(peer);
}

TEST(Ser2net, SettingsAndDataReachTheDevice) {
    if (access("/usr/sbin/ser2net", X_OK) != 0) GTEST_SKIP() << "no ser2net: tools/test installs it";
    char folder[] = "/tmp/brisvane-ser2net-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder, device = dir + "/device", host = dir + "/host";
    const uint16_t port = Listener(false).port;
    std::ofstream(dir + "/conf.yaml")
        << "%YAML 1.1\n---\nconnection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port
        << "\n  connector: serialdev," << device << ",9600n81,local\n";
    // ser2net under strace where it runs: its settings call shows the size
    // and parity, which a pty forces to 8 and none.
    const bool traced = system("strace -o /dev/null true 2>/dev/null") == 0;
    const std::string start = "cd " + dir +
                              " && { socat pty,raw,echo=0,link=device pty,raw,echo=0,link=host >/dev/null "
                              "2>&1 & echo $! >socat.pid; }" +
                              " && { while [ ! -e device ] || [ ! -e host ]; do sleep 0.05; done; }" +
                              (traced ? " && { strace -f -v -e trace=ioctl -o ioctl.log" : " && {") +
                              " /usr/sbin/ser2net -n -u -c conf.yaml -P ser2net.pid >/dev/null 2>&1 & }";
    ASSERT_EQ(system(("timeout 5 sh -c '" + start + "'").c_str()), 0);
    char listening[40];
    snprintf(listening, sizeof listening, ":%04X 00000000:0000 0A", port);
    EXPECT_TRUE(Eventually([&] { return Slurp("/proc/net/tcp").find(listening) != std::string::npos; }));

    NetworkLine line = MakeLine("rfc2217://127.0.0.1:" + std::to_string(port));
    std::string message;
    EXPECT_EQ(Connect(line, &message), OpenResult::Open) << message;
    int far = open(host.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int near = open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios2 settings = {};
    EXPECT_TRUE(Eventually([&] {
        return ioctl(near, TCGETS2, &settings) == 0 && settings.c_ospeed == 19200;
    })) << "speed "
        << settings.c_ospeed;
    const std::string out = "to the host \xff\r\n", in = "from the host \xff\r\n";
    Write(line, out);
    EXPECT_EQ(Receive(nullptr, far, out.size()), out);
    EXPECT_EQ(write(far, in.data(), in.size()), static_cast<ssize_t>(in.size()));
    EXPECT_EQ(Receive(&line, -1, in.size()), in);
    EXPECT_EQ(line.SetModemOutput(ModemOutput::Dtr, false), ControlResult::Done);  // never answered
    EXPECT_EQ(line.SetBreak(true), ControlResult::Done);
    line.Close();
    close(far);
    close(near);

    for (const char* pidFile : {"/ser2net.pid", "/socat.pid"}) {
        pid_t pid = atoi(Slurp(dir + pidFile).c_str());
        if (pid > 0) kill(pid, SIGTERM);
    }
    EXPECT_TRUE(!traced || Eventually([&] {  // strace may hold its log until ser2net ends
        std::string log = Slurp(dir + "/ioctl.log");
        return log.find("B19200|CS7|CSTOPB|CREAD|PARENB|PARODD|CLOCAL|CRTSCTS") != std::string::npos &&
               log.find("TIOCSBRK") != std::string::npos;
    })) << Slurp(dir + "/ioctl.log");
    system(("rm -rf " + dir).c_str());
}

}  // namespace

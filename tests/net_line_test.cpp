// Network lines over real sockets: against a server in this process on
// 127.0.0.1, and against ser2net on one end of a socat pty pair.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "console/net_line.h"

extern char** environ;

namespace {

const std::string IAC = "\xff";

std::string B(int byte) { return std::string(1, static_cast<char>(byte)); }
std::string Sub(const std::string& body) { return IAC + "\xfa" + B(44) + body + IAC + "\xf0"; }

bool Eventually(const std::function<bool()>& done, int milliseconds = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A listening socket on 127.0.0.1 with a port of its own; `listening` false
// leaves the port bound but refusing.
struct Listener {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
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
};

NetworkLine MakeLine(const std::string& device) {
    NetworkAddress address;
    const char* problem = nullptr;
    EXPECT_TRUE(ParseNetworkDevice(device.c_str(), &address, &problem)) << device;
    return NetworkLine(address);
}

// Polls and calls Continue until the line is no longer in progress.
OpenResult Connect(NetworkLine& line, const LineControls& controls, std::string* message,
                   const std::function<void()>& server = [] {}) {
    char text[256] = "";
    OpenResult result = line.Open(controls, text, sizeof text);
    for (int turn = 0; result == OpenResult::InProgress && turn < 500; ++turn) {
        server();
        pollfd entry = {line.Descriptor(), line.PollEvents(false), 0};
        poll(&entry, 1, 10);
        result = line.Continue(entry.revents, text, sizeof text);
    }
    *message = text;
    return result;
}

std::string ReadLine(NetworkLine& line, size_t want, IoResult* last = nullptr) {
    std::string got;
    IoResult result = IoResult::Done;
    Eventually([&] {
        pollfd entry = {line.Descriptor(), line.PollEvents(false), 0};
        poll(&entry, 1, 10);
        uint8_t block[256];
        unsigned count = 0;
        result = line.Read(block, sizeof block, &count);
        got.append(reinterpret_cast<char*>(block), count);
        return got.size() >= want || result == IoResult::Lost;
    });
    if (last != nullptr) *last = result;
    return got;
}

std::string ReadFd(int fd, size_t want) {
    std::string got;
    Eventually([&] {
        char block[256];
        pollfd entry = {fd, POLLIN, 0};
        if (poll(&entry, 1, 10) > 0) {
            ssize_t n = read(fd, block, sizeof block);
            if (n > 0) got.append(block, static_cast<size_t>(n));
        }
        return got.size() >= want;
    });
    return got;
}

void WriteAll(NetworkLine& line, const std::string& bytes) {
    size_t done = 0;
    Eventually([&] {
        unsigned count = 0;
        line.Write(reinterpret_cast<const uint8_t*>(bytes.data() + done),
                   static_cast<unsigned>(bytes.size() - done), &count);
        done += count;
        return done == bytes.size();
    });
}

const LineControls Controls = {{19200, Parity::Odd, 7, StopBits::Two}, true, 1, -1};

TEST(NetworkLine, RawTcpCarriesBytesUntouched) {
    Listener server;
    NetworkLine line = MakeLine("tcp://127.0.0.1:" + std::to_string(server.port));
    std::string message;
    ASSERT_EQ(Connect(line, Controls, &message), OpenResult::Open) << message;
    int peer = accept(server.fd, nullptr, nullptr);
    EXPECT_STREQ(line.Name(), ("127.0.0.1:" + std::to_string(server.port)).c_str());
    EXPECT_FALSE(line.HasSettings());
    ModemLines lines;
    EXPECT_EQ(line.SetBreak(true), ControlResult::Unsupported);
    EXPECT_EQ(line.ReadModemLines(&lines), ControlResult::Unsupported);

    const std::string telnetLooking = IAC + "\xfd" + B(44) + std::string("\r\0", 2);
    WriteAll(line, telnetLooking);
    EXPECT_EQ(ReadFd(peer, 5), telnetLooking);
    send(peer, telnetLooking.data(), telnetLooking.size(), 0);
    EXPECT_EQ(ReadLine(line, 5), telnetLooking);
    close(peer);
    IoResult result;
    ReadLine(line, 1000, &result);
    EXPECT_EQ(result, IoResult::Lost);
}

TEST(NetworkLine, Rfc2217WaitsForAcceptanceThenSendsSettingsAndData) {
    Listener server;
    NetworkLine line = MakeLine("rfc2217://127.0.0.1:" + std::to_string(server.port));
    int peer = -1;
    bool answered = false;
    std::string offers, message;
    auto serve = [&] {  // accepts, reads the offers, then accepts the option with data behind
        if (peer < 0) peer = accept4(server.fd, nullptr, nullptr, SOCK_NONBLOCK);
        char block[64];
        ssize_t n = peer >= 0 && !answered ? read(peer, block, sizeof block) : -1;
        if (n > 0) offers.append(block, static_cast<size_t>(n));
        if (!answered && offers.size() >= 15) {
            answered = true;
            std::string answer = IAC + "\xfd" + B(44) + "hi" + Sub(B(107) + B(0x10));
            send(peer, answer.data(), answer.size(), 0);
        }
    };
    ASSERT_EQ(Connect(line, Controls, &message, serve), OpenResult::Open) << message;
    EXPECT_EQ(offers.substr(0, 3), IAC + "\xfb" + B(44));
    EXPECT_EQ(ReadLine(line, 2), "hi");
    ModemLines lines = {};
    ASSERT_EQ(line.ReadModemLines(&lines), ControlResult::Done);
    EXPECT_TRUE(lines.cts && lines.dtr && lines.rts);  // RTS never set: as opened
    EXPECT_FALSE(lines.dsr || lines.dcd || lines.ri);

    std::string settings = Sub(B(1) + B(0) + B(0) + B(0x4B) + B(0)) + Sub(B(2) + B(7)) +
                           Sub(B(3) + B(2)) + Sub(B(4) + B(2)) + Sub(B(5) + B(3)) +
                           Sub(B(5) + B(8)) + Sub(B(11) + B(0xF0));
    EXPECT_EQ(ReadFd(peer, settings.size()), settings);  // no RTS command: it was -1
    EXPECT_EQ(line.SetModemOutput(ModemOutput::Rts, false), ControlResult::Done);
    EXPECT_EQ(line.SetBreak(true), ControlResult::Done);
    WriteAll(line, "\xff" "a");
    std::string expected = Sub(B(5) + B(12)) + Sub(B(5) + B(5)) + IAC + IAC + "a";
    EXPECT_EQ(ReadFd(peer, expected.size()), expected);

    std::string data = "x" + IAC + IAC + "y";
    send(peer, data.data(), data.size(), 0);
    EXPECT_EQ(ReadLine(line, 3), "x\xffy");
    close(peer);
    IoResult result;
    ReadLine(line, 1000, &result);
    EXPECT_EQ(result, IoResult::Lost);
}

TEST(NetworkLine, SaysWhyItCannotOpen) {
    std::string message;
    Listener closed(false);
    std::string name = "127.0.0.1:" + std::to_string(closed.port);
    NetworkLine absent = MakeLine("rfc2217://" + name);
    EXPECT_EQ(Connect(absent, Controls, &message), OpenResult::Missing);
    EXPECT_EQ(message, name + ": connection refused; is the server running?");
    EXPECT_EQ(absent.Descriptor(), -1);

    Listener server;
    name = "127.0.0.1:" + std::to_string(server.port);
    NetworkLine refused = MakeLine("rfc2217://" + name);
    int peer = -1;
    auto refuse = [&] {
        if (peer >= 0) return;
        peer = accept(server.fd, nullptr, nullptr);
        std::string answer = IAC + "\xfe" + B(44);
        send(peer, answer.data(), answer.size(), 0);
    };
    EXPECT_EQ(Connect(refused, Controls, &message, refuse), OpenResult::Failed);
    EXPECT_EQ(message, name + ": the server refused the COM-PORT-OPTION; for a raw port use tcp://" +
                           name);
    close(peer);
}

// --- a real port server ---------------------------------------------------

pid_t Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

bool Listening(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X ", port);
    for (std::string row; std::getline(table, row);) {
        // local address, remote address, state 0A (LISTEN)
        std::istringstream fields(row);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if ((local + " ").find(wanted) != std::string::npos && state == "0A") return true;
    }
    return false;
}

bool Exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

std::string Slurp(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(Ser2net, SettingsAndDataReachTheDevice) {
    if (!Exists("/usr/sbin/ser2net")) GTEST_SKIP() << "no ser2net: tools/test installs it";
    char folder[] = "/tmp/brisvane-ser2net-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder, device = dir + "/device", host = dir + "/host";
    pid_t socat = Spawn({"socat", "pty,raw,echo=0,link=" + device, "pty,raw,echo=0,link=" + host});
    ASSERT_TRUE(Eventually([&] { return Exists(device) && Exists(host); })) << "socat";
    uint16_t port = Listener(false).port;
    std::ofstream(dir + "/conf.yaml") << "%YAML 1.1\n---\nconnection: &rfc\n"
                                      << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port
                                      << "\n  connector: serialdev," << device << ",9600n81,local\n";
    // Under strace when it runs here: the settings call shows size and parity,
    // which a pty forces to 8 and none.
    std::vector<std::string> command = {"/usr/sbin/ser2net", "-n", "-u", "-c", dir + "/conf.yaml",
                                        "-P", dir + "/pid"};
    bool traced = system("strace -o /dev/null true >/dev/null 2>&1") == 0;
    if (traced) command.insert(command.begin(), {"strace", "-f", "-v", "-e", "trace=ioctl", "-o", dir + "/ioctl.log"});
    pid_t server = Spawn(command);
    EXPECT_TRUE(Eventually([&] { return Listening(port); })) << "ser2net did not listen";

    NetworkLine line = MakeLine("rfc2217://127.0.0.1:" + std::to_string(port));
    std::string message;
    EXPECT_EQ(Connect(line, Controls, &message), OpenResult::Open) << message;
    int far = open(host.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int near = open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios2 settings = {};
    EXPECT_TRUE(Eventually([&] {
        return ioctl(near, TCGETS2, &settings) == 0 && settings.c_ospeed == 19200;
    })) << "speed " << settings.c_ospeed;

    const std::string out = "to the host \xff\r\n";
    WriteAll(line, out);
    EXPECT_EQ(ReadFd(far, out.size()), out);
    const std::string in = "from the host \xff\r\n";
    EXPECT_EQ(write(far, in.data(), in.size()), static_cast<ssize_t>(in.size()));
    EXPECT_EQ(ReadLine(line, in.size()), in);
    EXPECT_EQ(line.SetModemOutput(ModemOutput::Dtr, false), ControlResult::Done);  // never answered
    EXPECT_EQ(line.SetBreak(true), ControlResult::Done);
    line.Close();
    close(far);
    close(near);

    pid_t daemon = 0;
    Eventually([&] { return (daemon = atoi(Slurp(dir + "/pid").c_str())) > 0; }, 1000);
    if (traced && daemon > 0) {
        kill(daemon, SIGTERM);
        waitpid(server, nullptr, 0);
        std::string log = Slurp(dir + "/ioctl.log");
        EXPECT_NE(log.find("B19200|CS7|CSTOPB|CREAD|PARENB|PARODD|CLOCAL|CRTSCTS"), std::string::npos);
        EXPECT_NE(log.find("TIOCSBRK"), std::string::npos);
    } else {
        Stop(server);
    }
    Stop(socat);
    for (const char* name : {"/conf.yaml", "/pid", "/ioctl.log"}) unlink((dir + name).c_str());
    rmdir(folder);
}

}  // namespace

#include "console/line/net_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace {

// Keepalive: probes after this many idle seconds, then every few seconds,
// and the connection is dead after the last unanswered one (25 s in all);
// data left unacknowledged gives up after UserTimeout.
const int KeepIdleSeconds = 10, KeepIntervalSeconds = 5, KeepProbes = 3;
const unsigned UserTimeoutMilliseconds = 30000;

void KeepAlive(int fd) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &KeepIdleSeconds, sizeof KeepIdleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &KeepIntervalSeconds, sizeof KeepIntervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &KeepProbes, sizeof KeepProbes);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &UserTimeoutMilliseconds, sizeof UserTimeoutMilliseconds);
}

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

NetworkLine::NetworkLine(const NetworkAddress& address)
    : port_(address.port),
      addresses_(),
      nextAddress_(0),
      socket_(-1),
      phase_(Phase::Closed),
      telnet_(address.protocol == NetworkProtocol::Rfc2217 ? new TelnetComPort : nullptr),
      dtr_(true),
      rts_(true),
      heldLength_(0),
      stuck_(false),
      refusalSaid_(false) {
    FormatNetworkName(address, name_, sizeof name_);
    std::snprintf(host_, sizeof host_, "%s", address.host);
}

NetworkLine::~NetworkLine() {
    Close();
    delete telnet_;
}

OpenResult NetworkLine::Open(const LineControls& controls, char* message, unsigned capacity) {
    Close();
    if (telnet_ != nullptr) {
        // Queued now, sent when the server accepts the COM-PORT-OPTION.
        telnet_->Reset();
        telnet_->SetSettings(controls.settings);
        telnet_->SetFlowControl(controls.hardwareFlow);
        if (controls.dtr >= 0) telnet_->SetDtr(controls.dtr != 0);
        if (controls.rts >= 0) telnet_->SetRts(controls.rts != 0);
    }
    // Left as the server's driver leaves them: most raise both on open.
    dtr_ = controls.dtr != 0;
    rts_ = controls.rts != 0;
    if (!resolver_.Start(host_, port_)) {
        std::snprintf(message, capacity, "%s: cannot look the name up: %s", name_, std::strerror(errno));
        return OpenResult::Failed;
    }
    phase_ = Phase::Resolving;
    return OpenResult::InProgress;
}

// The lookup is over: connect to what it found.
OpenResult NetworkLine::Resolved(char* message, unsigned capacity) {
    if (!resolver_.Finish(&addresses_)) return OpenResult::InProgress;
    if (addresses_.error != 0) {
        std::snprintf(message, capacity, "%s: name not resolved (%s); check the host name", name_,
                      gai_strerror(addresses_.error));
        Close();
        return OpenResult::Missing;  // a name server may yet answer
    }
    nextAddress_ = 0;
    int error = 0;
    if (!StartConnect(&error)) return ConnectFailed(error, message, capacity);
    return OpenResult::InProgress;
}

// Starts a connect to the next address that takes one; false with *error
// when none is left.
bool NetworkLine::StartConnect(int* error) {
    while (nextAddress_ < addresses_.count) {
        const sockaddr_storage& address = addresses_.address[nextAddress_++];
        socket_ = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket_ < 0) {
            *error = errno;
            continue;
        }
        if (connect(socket_, reinterpret_cast<const sockaddr*>(&address),
                    addresses_.length[nextAddress_ - 1]) == 0 ||
            errno == EINPROGRESS) {
            phase_ = Phase::Connecting;
            return true;
        }
        *error = errno;
        close(socket_);
        socket_ = -1;
    }
    return false;
}

OpenResult NetworkLine::ConnectFailed(int error, char* message, unsigned capacity) {
    Close();
    switch (error) {
        case ECONNREFUSED:
            std::snprintf(message, capacity, "%s: connection refused; is the server running?", name_);
            return OpenResult::Missing;
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case EHOSTDOWN:
        case ENETDOWN:
            std::snprintf(message, capacity, "%s: cannot connect: %s", name_, std::strerror(error));
            return OpenResult::Missing;
        default:
            std::snprintf(message, capacity, "%s: cannot connect: %s", name_, std::strerror(error));
            return OpenResult::Failed;
    }
}

OpenResult NetworkLine::Continue(short revents, char* message, unsigned capacity) {
    switch (phase_) {
        case Phase::Closed:
            std::snprintf(message, capacity, "%s: not connected", name_);
            return OpenResult::Failed;
        case Phase::Open: return OpenResult::Open;
        case Phase::Negotiating: return Negotiate(revents, message, capacity);
        case Phase::Resolving: return Resolved(message, capacity);
        case Phase::Connecting: break;
    }
    if ((revents & (POLLOUT | POLLERR | POLLHUP)) == 0) return OpenResult::InProgress;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error == EINPROGRESS) return OpenResult::InProgress;
    if (error != 0) {
        close(socket_);
        socket_ = -1;
        if (StartConnect(&error)) return OpenResult::InProgress;
        return ConnectFailed(error, message, capacity);
    }
    int on = 1;  // keystrokes go out one by one (what waits goes in one send)
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    KeepAlive(socket_);
    if (telnet_ == nullptr) {
        phase_ = Phase::Open;
        return OpenResult::Open;
    }
    phase_ = Phase::Negotiating;
    return Negotiate(0, message, capacity);
}

// Sends our offers, reads the server's answers until it accepts or refuses.
OpenResult NetworkLine::Negotiate(short revents, char* message, unsigned capacity) {
    unsigned room = telnet_->InputRoom();  // 0: answers must go out first
    if ((revents & (POLLIN | POLLHUP | POLLERR)) && room > 0) {
        uint8_t block[NegotiateBlock];
        ssize_t got = recv(socket_, block, room < sizeof block ? room : sizeof block, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            std::snprintf(message, capacity, "%s: the server closed the connection%s%s", name_,
                          got < 0 ? ": " : "", got < 0 ? std::strerror(errno) : "");
            Close();
            return OpenResult::Missing;
        }
        if (got > 0) {
            unsigned count = 0;
            telnet_->Receive(block, static_cast<unsigned>(got), block, &count);
            std::memcpy(held_, block, count);
            heldLength_ = count;
        }
    }
    if (!Flush()) {
        std::snprintf(message, capacity, "%s: the server closed the connection", name_);
        Close();
        return OpenResult::Missing;
    }
    if (telnet_->Broken()) {
        std::snprintf(message, capacity, "%s: the server's Telnet could not be followed", name_);
        Close();
        return OpenResult::Failed;
    }
    switch (telnet_->State()) {
        case ComPortState::Accepted: phase_ = Phase::Open; return OpenResult::Open;
        case ComPortState::Refused:
            if (heldLength_ > 0) break;  // data came first: open, and the refusal is said
            std::snprintf(message, capacity,
                          "%s: the server refused the COM-PORT-OPTION; for a raw port use "
                          "tcp://%s",
                          name_, name_);
            Close();
            return OpenResult::Failed;
        case ComPortState::Negotiating: break;
    }
    // Data before an answer: the server is there and the device talks, so
    // the line is open; the commands wait for the answer.
    if (heldLength_ > 0) {
        phase_ = Phase::Open;
        return OpenResult::Open;
    }
    return OpenResult::InProgress;
}

void NetworkLine::Close() {
    resolver_.Cancel();
    if (socket_ >= 0) close(socket_);
    socket_ = -1;
    phase_ = Phase::Closed;
    heldLength_ = 0;
    stuck_ = false;
    refusalSaid_ = false;
}

const char* NetworkLine::Awaiting() const {
    switch (phase_) {
        case Phase::Resolving: return "the name lookup";
        case Phase::Connecting: return "the TCP connect";
        case Phase::Negotiating: return "the COM-PORT-OPTION negotiation";
        case Phase::Closed:
        case Phase::Open: break;
    }
    return "the server";
}

bool NetworkLine::TakeNote(char* message, unsigned capacity) {
    if (telnet_ == nullptr) return false;
    if (telnet_->TakeDiscarded()) {
        std::snprintf(message, capacity, "%s: an over-long Telnet subnegotiation was dropped", name_);
        return true;
    }
    if (phase_ == Phase::Open && telnet_->State() == ComPortState::Refused && !refusalSaid_) {
        refusalSaid_ = true;
        std::snprintf(message, capacity, "the port server refused serial-port control; data still flows");
        return true;
    }
    return false;
}

short NetworkLine::PollEvents(bool haveOutput) const {
    switch (phase_) {
        case Phase::Closed: return 0;
        case Phase::Resolving: return POLLIN;
        case Phase::Connecting: return POLLOUT;
        case Phase::Negotiating:
        case Phase::Open: break;
    }
    if (telnet_ == nullptr) return static_cast<short>(POLLIN | (haveOutput ? POLLOUT : 0));
    short events = telnet_->InputRoom() > 0 ? POLLIN : 0;
    if (telnet_->OutputLength() > 0 || (haveOutput && phase_ == Phase::Open)) events |= POLLOUT;
    return events;
}

// Sends what the socket takes of the Telnet layer's bytes; false when the
// connection is gone.
bool NetworkLine::Flush() {
    while (telnet_->OutputLength() > 0) {
        ssize_t sent = send(socket_, telnet_->Output(), telnet_->OutputLength(), MSG_NOSIGNAL);
        if (sent > 0) {
            telnet_->Consumed(static_cast<unsigned>(sent));
        } else if (errno == EINTR) {
            continue;
        } else {
            stuck_ = sent < 0 && Transient(errno);
            return stuck_;
        }
    }
    stuck_ = false;
    return true;
}

IoResult NetworkLine::Read(uint8_t* data, unsigned capacity, unsigned* count) {
    *count = 0;
    if (phase_ != Phase::Open) return IoResult::Lost;
    if (capacity == 0) return IoResult::Done;
    if (heldLength_ > 0) {
        unsigned length = heldLength_ < capacity ? heldLength_ : capacity;
        std::memcpy(data, held_, length);
        std::memmove(held_, held_ + length, heldLength_ - length);
        heldLength_ -= length;
        *count = length;
        return IoResult::Done;
    }
    if (telnet_ != nullptr) {
        if (!Flush()) return IoResult::Lost;
        if (telnet_->InputRoom() < capacity) capacity = telnet_->InputRoom();
        if (capacity == 0) return IoResult::WouldBlock;
    }
    ssize_t got = recv(socket_, data, capacity, 0);
    if (got < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? IoResult::WouldBlock
                                                                         : IoResult::Lost;
    }
    if (got == 0) return IoResult::Lost;
    if (telnet_ == nullptr) {
        *count = static_cast<unsigned>(got);
        return IoResult::Done;
    }
    telnet_->Receive(data, static_cast<unsigned>(got), data, count);
    if (telnet_->Broken() || !Flush()) return IoResult::Lost;
    return IoResult::Done;
}

IoResult NetworkLine::Write(const uint8_t* data, unsigned length, unsigned* count) {
    *count = 0;
    if (phase_ != Phase::Open) return IoResult::Lost;
    if (length == 0) return telnet_ == nullptr || Flush() ? IoResult::Done : IoResult::Lost;
    if (telnet_ == nullptr) {
        ssize_t sent = send(socket_, data, length, MSG_NOSIGNAL);
        if (sent >= 0) {
            *count = static_cast<unsigned>(sent);
            stuck_ = *count < length;
            return IoResult::Done;
        }
        stuck_ = Transient(errno);
        return stuck_ ? IoResult::WouldBlock : IoResult::Lost;
    }
    // Whole runs go in: the Telnet layer takes up to its buffer, which goes
    // out in one send, and again while the socket takes it all.
    while (*count < length) {
        if (!Flush()) return IoResult::Lost;
        if (stuck_) break;
        unsigned taken = telnet_->Send(data + *count, length - *count);
        if (taken == 0) break;
        *count += taken;
    }
    if (!Flush()) return IoResult::Lost;
    return *count > 0 ? IoResult::Done : IoResult::WouldBlock;
}

// Done also while the server has not answered yet: the commands go out
// when it accepts.
ControlResult NetworkLine::CanControl() const {
    if (telnet_ == nullptr) return ControlResult::Unsupported;
    if (phase_ != Phase::Open || telnet_->State() == ComPortState::Refused) {
        return ControlResult::Refused;
    }
    return ControlResult::Done;
}

ControlResult NetworkLine::Apply(const LineControls& controls, char* problem, unsigned capacity) {
    ControlResult result = CanControl();
    if (result == ControlResult::Unsupported) {
        std::snprintf(problem, capacity, "%s: a raw TCP line has no settings", name_);
    } else if (result == ControlResult::Refused && phase_ == Phase::Open) {
        std::snprintf(problem, capacity, "the port server refused serial-port control; data still flows");
    } else if (result == ControlResult::Refused) {
        std::snprintf(problem, capacity, "%s: not connected to the port server", name_);
    } else {
        telnet_->SetSettings(controls.settings);
        telnet_->SetFlowControl(controls.hardwareFlow);
        Flush();  // a lost connection shows at the next Read or Write
    }
    return result;
}

ControlResult NetworkLine::SetBreak(bool on) {
    ControlResult result = CanControl();
    if (result != ControlResult::Done) return result;
    telnet_->SetBreak(on);
    Flush();
    return result;
}

ControlResult NetworkLine::SetModemOutput(ModemOutput which, bool on) {
    ControlResult result = CanControl();
    if (result != ControlResult::Done) return result;
    if (which == ModemOutput::Dtr) {
        telnet_->SetDtr(on);
        dtr_ = on;
    } else {
        telnet_->SetRts(on);
        rts_ = on;
    }
    Flush();
    return result;
}

ControlResult NetworkLine::ReadModemLines(ModemLines* lines) {
    uint8_t bits = 0;
    if (telnet_ == nullptr || !telnet_->ModemState(&bits)) return ControlResult::Unsupported;
    lines->cts = (bits & ModemCts) != 0;
    lines->dsr = (bits & ModemDsr) != 0;
    lines->ri = (bits & ModemRi) != 0;
    lines->dcd = (bits & ModemDcd) != 0;
    lines->dtr = dtr_;
    lines->rts = rts_;
    return ControlResult::Done;
}

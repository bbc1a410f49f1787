#include "console/line/net_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

NetworkLine::NetworkLine(const NetworkAddress& address)
    : resolveError_(0),
      addressCount_(0),
      nextAddress_(0),
      socket_(-1),
      phase_(Phase::Closed),
      telnet_(address.protocol == NetworkProtocol::Rfc2217 ? new TelnetComPort : nullptr),
      dtr_(true),
      rts_(true),
      heldLength_(0) {
    FormatNetworkName(address, name_, sizeof name_);
    char port[8];
    std::snprintf(port, sizeof port, "%u", static_cast<unsigned>(address.port));
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;  // every family: Open skips those that cannot connect
    addrinfo* found = nullptr;
    resolveError_ = getaddrinfo(address.host, port, &hints, &found);
    for (addrinfo* entry = found; entry != nullptr && addressCount_ < MaxAddresses;
         entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
        std::memcpy(&addresses_[addressCount_], entry->ai_addr, entry->ai_addrlen);
        addressLengths_[addressCount_++] = entry->ai_addrlen;
    }
    if (found != nullptr) freeaddrinfo(found);
    if (resolveError_ == 0 && addressCount_ == 0) resolveError_ = EAI_NONAME;
}

NetworkLine::~NetworkLine() {
    Close();
    delete telnet_;
}

OpenResult NetworkLine::Open(const LineControls& controls, char* message, unsigned capacity) {
    Close();
    if (resolveError_ != 0) {
        std::snprintf(message, capacity, "%s: name not resolved (%s); check the host name",
                      name_, gai_strerror(resolveError_));
        return OpenResult::Failed;
    }
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
    nextAddress_ = 0;
    int error = 0;
    if (!StartConnect(&error)) return ConnectFailed(error, message, capacity);
    return OpenResult::InProgress;
}

// Starts a connect to the next address that takes one; false with *error
// when none is left.
bool NetworkLine::StartConnect(int* error) {
    while (nextAddress_ < addressCount_) {
        const sockaddr_storage& address = addresses_[nextAddress_++];
        socket_ = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket_ < 0) {
            *error = errno;
            continue;
        }
        if (connect(socket_, reinterpret_cast<const sockaddr*>(&address),
                    addressLengths_[nextAddress_ - 1]) == 0 ||
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
            std::snprintf(message, capacity, "%s: connection refused; is the server running?",
                          name_);
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
    int on = 1;  // keystrokes go out one by one
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
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
        uint8_t block[512];
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
            // A device that floods before the server has even answered loses
            // what does not fit.
            if (count > HeldCapacity - heldLength_) count = HeldCapacity - heldLength_;
            std::memcpy(held_ + heldLength_, block, count);
            heldLength_ += count;
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
            std::snprintf(message, capacity,
                          "%s: the server refused the COM-PORT-OPTION; for a raw port use "
                          "tcp://%s", name_, name_);
            Close();
            return OpenResult::Failed;
        case ComPortState::Negotiating: break;
    }
    return OpenResult::InProgress;
}

void NetworkLine::Close() {
    if (socket_ >= 0) close(socket_);
    socket_ = -1;
    phase_ = Phase::Closed;
    heldLength_ = 0;
}

short NetworkLine::PollEvents(bool haveOutput) const {
    switch (phase_) {
        case Phase::Closed: return 0;
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
            return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
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
            return IoResult::Done;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? IoResult::WouldBlock
                                                                          : IoResult::Lost;
    }
    if (!Flush()) return IoResult::Lost;
    *count = telnet_->Send(data, length);
    if (!Flush()) return IoResult::Lost;
    return *count > 0 ? IoResult::Done : IoResult::WouldBlock;
}

ControlResult NetworkLine::CanControl() const {
    if (telnet_ == nullptr) return ControlResult::Unsupported;
    if (phase_ != Phase::Open || telnet_->State() != ComPortState::Accepted) {
        return ControlResult::Refused;
    }
    return ControlResult::Done;
}

ControlResult NetworkLine::Apply(const LineControls& controls, char* problem, unsigned capacity) {
    ControlResult result = CanControl();
    if (result == ControlResult::Unsupported) {
        std::snprintf(problem, capacity, "%s: a raw TCP line has no settings", name_);
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

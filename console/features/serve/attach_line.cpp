#include "console/features/serve/attach_line.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "console/rules/options.h"

namespace {

const unsigned OutCapacity = 1u << 16;

WireType WireOf(StageRules rules) {
    switch (rules) {
        case StageRules::Typed: return WireType::Typed;
        case StageRules::Text: return WireType::TypedText;
        case StageRules::Exact: break;
    }
    return WireType::Data;
}

}  // namespace

AttachLine::AttachLine(const ShareAddress& address, const WireHello& hello, History& history)
    : address_(address), hello_(hello), history_(history) {
    if (address.unixSocket) {
        std::snprintf(name_, sizeof name_, "%s", address.path);
    } else {
        std::snprintf(name_, sizeof name_, "%s:%s", address.host, address.port);
    }
}

AttachLine::~AttachLine() { Close(); }

void AttachLine::Note(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(note_, sizeof note_, format, arguments);
    va_end(arguments);
}

OpenResult AttachLine::Open(const LineControls&, char* message, unsigned capacity) {
    Close();
    if (refusal_[0] != '\0') {
        std::snprintf(message, capacity, "%s refused us: %s", name_, refusal_);
        return OpenResult::Failed;
    }
    if (!out_.Allocate(OutCapacity)) {
        std::snprintf(message, capacity, "%s: no memory", name_);
        return OpenResult::Failed;
    }
    if (address_.unixSocket) {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        struct sockaddr_un at = {};
        at.sun_family = AF_UNIX;
        std::memcpy(at.sun_path, address_.path, std::strlen(address_.path));
        if (fd_ >= 0 && connect(fd_, reinterpret_cast<struct sockaddr*>(&at), sizeof at) == 0) return Greet();
        if (fd_ >= 0 && errno == EINPROGRESS) {
            connecting_ = true;
            return Greet();
        }
        int error = errno;
        Close();
        std::snprintf(message, capacity, "no served line at %s: %s", name_, std::strerror(error));
        return OpenResult::Missing;
    }
    // An address needs no lookup: connected to at once.
    struct addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    struct addrinfo* found = nullptr;
    if (getaddrinfo(address_.host, address_.port, &hints, &found) == 0) {
        addresses_ = {};
        for (struct addrinfo* entry = found;
             entry != nullptr && addresses_.count < ResolvedAddresses::Capacity; entry = entry->ai_next) {
            if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
            std::memcpy(&addresses_.address[addresses_.count], entry->ai_addr, entry->ai_addrlen);
            addresses_.length[addresses_.count++] = entry->ai_addrlen;
        }
        freeaddrinfo(found);
        nextAddress_ = 0;
        return ConnectNext(EADDRNOTAVAIL, message, capacity);
    }
    // A name: looked up off this thread, as the loop may not wait.
    if (!resolver_.Start(address_.host, uint16_t(std::strtoul(address_.port, nullptr, 10)))) {
        int error = errno;
        Close();
        std::snprintf(message, capacity, "--attach %s: cannot look the name up: %s", name_,
                      std::strerror(error));
        return OpenResult::Failed;
    }
    resolving_ = true;
    return OpenResult::InProgress;
}

// Starts a connect to the next address that takes one; with none left, the
// last error (`error` when there was none to try) says why.
OpenResult AttachLine::ConnectNext(int error, char* message, unsigned capacity) {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    while (nextAddress_ < addresses_.count) {
        const sockaddr_storage& at = addresses_.address[nextAddress_];
        socklen_t length = addresses_.length[nextAddress_++];
        fd_ = socket(at.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            error = errno;
            continue;
        }
        int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (connect(fd_, reinterpret_cast<const sockaddr*>(&at), length) == 0) return Greet();
        if (errno == EINPROGRESS) {
            connecting_ = true;
            return Greet();
        }
        error = errno;
        close(fd_);
        fd_ = -1;
    }
    Close();
    std::snprintf(message, capacity, "no served line at %s: %s", name_, std::strerror(error));
    return OpenResult::Missing;
}

// A connect is started: the hello waits for it (one hello, whichever
// address takes it).
OpenResult AttachLine::Greet() {
    out_.Consume(out_.Used());
    uint8_t hello[WireMaxMessage];
    Queue(hello, PutHello(hello, sizeof hello, hello_));
    greeting_ = true;
    if (!connecting_) Flush();
    // Open only once the server has answered: a refusal is then the open's.
    return OpenResult::InProgress;
}

OpenResult AttachLine::Continue(short revents, char* message, unsigned capacity) {
    if (resolving_) {
        if (!resolver_.Finish(&addresses_)) return OpenResult::InProgress;
        resolving_ = false;
        if (addresses_.error != 0) {
            Close();
            std::snprintf(message, capacity, "--attach %s: name not resolved (%s); check the host name",
                          name_, gai_strerror(addresses_.error));
            return OpenResult::Missing;  // a name server may yet answer
        }
        nextAddress_ = 0;
        return ConnectNext(EADDRNOTAVAIL, message, capacity);
    }
    if (connecting_) {
        if ((revents & (POLLOUT | POLLERR | POLLHUP)) == 0) return OpenResult::InProgress;
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
        if (error == EINPROGRESS) return OpenResult::InProgress;
        connecting_ = false;
        if (error != 0) {
            if (!address_.unixSocket) return ConnectNext(error, message, capacity);  // the next address
            Close();
            std::snprintf(message, capacity, "no served line at %s: %s", name_, std::strerror(error));
            return OpenResult::Missing;
        }
    }
    // A server that refused us as we connected may have closed before our
    // hello went: its refusal is read all the same.
    bool sent = Flush();
    // The answer to the hello: a welcome, or a refusal.
    while (!state_.welcomed) {
        WireMessage m;
        const char* problem;
        WireStatus status = decoder_.Next(&m, &problem);
        if (status == WireStatus::Message && (m.type == WireType::Welcome || m.type == WireType::Refusal)) {
            Handle(m);
            if (lost_) {
                Close();
                std::snprintf(message, capacity, "%s refused us: %s", name_, refusal_);
                return OpenResult::Failed;
            }
            continue;
        }
        if (status != WireStatus::NeedMore) {
            Close();
            std::snprintf(message, capacity, "%s does not speak as a served line does", name_);
            return OpenResult::Failed;
        }
        uint8_t bytes[4096];
        ssize_t got = recv(fd_, bytes, sizeof bytes, MSG_DONTWAIT);
        if (sent && got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return OpenResult::InProgress;
        if (got <= 0) {
            Close();
            std::snprintf(message, capacity, "the served line %s hung up", name_);
            return OpenResult::Missing;
        }
        decoder_.Feed(bytes, unsigned(got));
    }
    greeting_ = false;
    return OpenResult::Open;
}

void AttachLine::Close() {
    resolver_.Cancel();
    resolving_ = false;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    connecting_ = greeting_ = false;
    decoder_.Reset();
    out_.Release();
    dataStart_ = dataEnd_ = 0;
    restore_ = SnapshotRestore();
    // The next hello says what this client was, so a restarted server can
    // give the line back to its writer.
    if (state_.welcomed) hello_.past = state_.role == WireRole::Writing ? WirePast::Wrote : WirePast::Watched;
    state_ = AttachState();
    lost_ = whoAsked_ = false;
}

short AttachLine::PollEvents(bool haveOutput) const {
    if (resolving_) return POLLIN;
    if (connecting_) return POLLOUT;
    if (greeting_) return short(POLLIN | (out_.Empty() ? 0 : POLLOUT));
    return short(POLLIN | (haveOutput || !out_.Empty() ? POLLOUT : 0));
}

bool AttachLine::Queue(const uint8_t* message, unsigned length) {
    return length > 0 && out_.Append(message, length);
}

bool AttachLine::Flush() {
    while (fd_ >= 0 && !connecting_ && !out_.Empty()) {
        unsigned length;
        const uint8_t* bytes = out_.Front(&length);
        ssize_t sent = send(fd_, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        out_.Consume(unsigned(sent));
    }
    return true;
}

void AttachLine::KeepHistory(uint64_t serverRows) {
    uint32_t own = historyGiven_ ? history_.Capacity() : historyRows_;
    uint32_t rows = own;
    if (!historyGiven_ && serverRows > own)
        rows = serverRows > MaxHistoryRows ? MaxHistoryRows : uint32_t(serverRows);
    if (rows != own && history_.Allocate(rows)) return;
    history_.Allocate(own);
    if (serverRows > own)
        Note("the served line holds %llu history rows: keeping the last %u%s", (unsigned long long)serverRows,
             own, historyGiven_ ? " (--history)" : " (no memory for more)");
}

void AttachLine::Handle(const WireMessage& message) {
    switch (message.type) {
        case WireType::Welcome: {
            WireWelcome welcome;
            if (!ReadWelcome(message, &welcome) || welcome.version != WireVersion || state_.welcomed) break;
            state_.welcomed = true;
            state_.role = welcome.role;
            state_.id = welcome.id;
            // The snapshot brings the server's history: ours goes first, and
            // room is made for all of it unless the user said how much to keep.
            KeepHistory(welcome.historyRows);
            return;
        }
        case WireType::Refusal: {
            WireText reason;
            if (!ReadText(message, &reason)) break;
            std::snprintf(refusal_, sizeof refusal_, "%s", reason.text);
            Note("%s refused us: %s", name_, refusal_);
            lost_ = true;
            return;
        }
        case WireType::Screen:
        case WireType::Chain:
        case WireType::History:
        case WireType::HistoryEnd:
            if (!state_.welcomed || !RestoreSnapshot(restore_, message, history_, seam_)) break;
            state_.snapshotComplete = restore_.complete;
            return;
        case WireType::Roster:
            if (!ReadRoster(message, &state_.roster)) break;
            // Rosters are answered in order: the first after the question is its answer.
            if (whoAsked_) state_.rosterAnswered = true;
            whoAsked_ = false;
            return;
        case WireType::Role: {
            WireRoleChange change;
            if (!ReadRoleChange(message, &change)) break;
            state_.role = change.role;
            if (change.role == WireRole::Watching && change.byName.length > 0) {
                Note("%s took the line: you are watching", change.byName.text);
            } else {
                Note("you are %s", change.role == WireRole::Writing ? "writing" : "watching");
            }
            return;
        }
        case WireType::LineState: {
            WireLineState line;
            if (!state_.welcomed || !ReadLineState(message, &line)) break;
            bool settingsChanged = !state_.lineKnown ||
                                   std::strcmp(line.settings.text, state_.line.settings.text) != 0 ||
                                   line.hardwareFlow != state_.line.hardwareFlow;
            if (settingsChanged && line.byName.length > 0 && line.by != state_.id)
                Note("%s set the line to %s%s", line.byName.text, line.settings.text,
                     line.hardwareFlow ? ", RTS/CTS" : "");
            state_.line = line;
            state_.lineKnown = state_.lineChanged = true;
            return;
        }
        case WireType::Notice: {
            WireText text;
            if (!ReadText(message, &text)) break;
            Note("%s", text.text);
            return;
        }
        case WireType::ControlDone: {
            WireControl control;
            uint8_t result;
            if (!ReadControlDone(message, &control, &result)) break;
            if (ControlResult(result) == ControlResult::Unsupported)
                Note("the served line has no such control");
            if (ControlResult(result) == ControlResult::Refused) Note("the served line refused the control");
            return;
        }
        default: break;
    }
    Note("%s sent a message out of place: attached again", name_);
    lost_ = true;
}

IoResult AttachLine::Read(uint8_t* data, unsigned capacity, unsigned* count) {
    *count = 0;
    if (fd_ < 0 || lost_) return IoResult::Lost;
    for (;;) {
        if (dataStart_ < dataEnd_) {
            unsigned n = dataEnd_ - dataStart_ < capacity ? dataEnd_ - dataStart_ : capacity;
            std::memcpy(data, data_ + dataStart_, n);
            dataStart_ += n;
            *count = n;
            return IoResult::Done;
        }
        WireMessage message;
        const char* problem;
        WireStatus status = decoder_.Next(&message, &problem);
        if (status == WireStatus::Error) {
            Note("%s sent %s: attached again", name_, problem);
            return IoResult::Lost;
        }
        if (status == WireStatus::Message) {
            if (message.type == WireType::Data && restore_.complete) {
                std::memcpy(data_, message.payload, message.length);
                dataStart_ = 0;
                dataEnd_ = message.length;
            } else {
                Handle(message);
                if (lost_) return IoResult::Lost;
            }
            continue;
        }
        uint8_t bytes[8192];
        unsigned room = decoder_.Room() < sizeof bytes ? decoder_.Room() : unsigned(sizeof bytes);
        ssize_t got = recv(fd_, bytes, room, MSG_DONTWAIT);
        if (got == 0) {
            Note("the served line %s went away", name_);
            return IoResult::Lost;
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return IoResult::WouldBlock;
            return IoResult::Lost;
        }
        decoder_.Feed(bytes, unsigned(got));
    }
}

IoResult AttachLine::Write(const uint8_t* data, unsigned length, unsigned* count) {
    *count = 0;
    if (fd_ < 0 || connecting_) return IoResult::WouldBlock;
    if (!Flush()) return IoResult::Lost;
    static uint8_t message[WireMaxMessage];
    while (*count < length) {
        unsigned n = length - *count < 4096 ? length - *count : 4096;
        unsigned made = PutData(message, sizeof message, data + *count, n, WireOf(rules_));
        if (!Queue(message, made)) break;
        *count += n;
    }
    if (!Flush()) return IoResult::Lost;
    return *count > 0 ? IoResult::Done : IoResult::WouldBlock;
}

ControlResult AttachLine::SendControl(WireControl control, uint8_t value, const char* settings) {
    if (fd_ < 0 || connecting_) return ControlResult::Refused;
    WireControlMessage c = {control, value, {}};
    if (settings != nullptr) {
        std::snprintf(c.settings.text, sizeof c.settings.text, "%s", settings);
        c.settings.length = uint8_t(std::strlen(c.settings.text));
    }
    uint8_t message[WireHeaderSize + 260];
    if (!Queue(message, PutControl(message, sizeof message, c))) return ControlResult::Refused;
    Flush();
    // The server's answer comes later: a refusal is said as a note.
    return ControlResult::Done;
}

ControlResult AttachLine::Apply(const LineControls& controls, char*, unsigned) {
    char text[64];
    FormatLineSettings(controls.settings, text, sizeof text);
    return SendControl(WireControl::Settings, 0, text);
}

ControlResult AttachLine::SetBreak(bool on) {
    // The server times its own BREAK: the end of ours is nothing to send.
    return on ? SendControl(WireControl::Break, 0, nullptr) : ControlResult::Done;
}

ControlResult AttachLine::SetModemOutput(ModemOutput which, bool on) {
    return SendControl(which == ModemOutput::Dtr ? WireControl::Dtr : WireControl::Rts, on ? 1 : 0, nullptr);
}

ControlResult AttachLine::ReadModemLines(ModemLines*) { return ControlResult::Unsupported; }

bool AttachLine::TakeNote(char* text, unsigned capacity) {
    if (note_[0] == '\0') return false;
    std::snprintf(text, capacity, "%s", note_);
    note_[0] = '\0';
    return true;
}

bool AttachLine::TakeLineState(WireLineState* line) {
    if (!state_.lineChanged) return false;
    state_.lineChanged = false;
    *line = state_.line;
    return true;
}

void AttachLine::AskWho() {
    Ask(WireType::Who);
    whoAsked_ = fd_ >= 0;
}

bool AttachLine::TakeRosterAnswer() {
    bool answered = state_.rosterAnswered;
    state_.rosterAnswered = false;
    return answered;
}

void AttachLine::Ask(WireType takeOrGive) {
    uint8_t message[WireHeaderSize];
    if (fd_ >= 0 && Queue(message, PutEmpty(message, sizeof message, takeOrGive))) Flush();
}

unsigned AttachLine::Others() const {
    unsigned count = state_.roster.count;
    return count > 0 ? count - 1 : 0;
}

#include "console/features/replay_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "console/line/clock.h"

#include "console/features/plain_file.h"

uint64_t ReplayTape::Position() const {
    if (paused) return pausedAt;
    double played = double(MonotonicMicroseconds() - base) * speed;
    uint64_t at = from + (played > 0 ? uint64_t(played) : 0);
    return at < length ? at : length;
}

void ReplayTape::Pause(bool pause) {
    if (pause == paused) return;
    if (pause) {
        pausedAt = Position();
    } else {
        from = pausedAt;
        base = MonotonicMicroseconds();
    }
    paused = pause;
}

void ReplayTape::Restart(uint64_t time) {
    endSaid = false;
    from = pausedAt = time;
    base = MonotonicMicroseconds();
}

int64_t ReplayTape::Due(uint64_t time) const { return base + int64_t(double(time - from) / speed); }

bool LoadReplayTape(ReplayTape& tape, const char* path, double speed, char* message, unsigned capacity) {
    std::snprintf(tape.path, sizeof tape.path, "%s", path);
    tape.speed = speed > 0 ? speed : 1;
    int fd = -1;
    PlainFile opened = OpenPlainFile(path, O_RDONLY, false, &fd);
    if (opened != PlainFile::Opened) {
        std::snprintf(message, capacity, "--replay %s: %s", path, PlainFileProblem(opened, errno));
        return false;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || status.st_size < 0) {
        std::snprintf(message, capacity, "--replay %s: %s", path, std::strerror(errno));
        close(fd);
        return false;
    }
    tape.size = 0;
    unsigned long long size = (unsigned long long)status.st_size;
    tape.bytes.reset(new (std::nothrow) uint8_t[size + 1]);
    while (tape.bytes && tape.size < size) {
        ssize_t n = read(fd, tape.bytes.get() + tape.size, size - tape.size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        tape.size += (unsigned long long)n;
    }
    close(fd);
    const char* problem = "no memory for it";
    tape.events = tape.bytes ? ReadRecordingHeader(tape.bytes.get(), tape.size, &tape.header, &problem) : 0;
    if (tape.events == 0) {
        std::snprintf(message, capacity, "--replay %s: %s", path, problem);
        return false;
    }
    // Its length and marks, and where a torn or broken one stops.
    unsigned long long offset = tape.events;
    uint64_t time = 0;
    RecordEvent event;
    EventRead read;
    while ((read = ReadEvent(tape.bytes.get(), tape.size, &offset, tape.header.lines, &time, &event)) ==
           EventRead::Event) {
        tape.length = event.time;
        if (event.kind == RecordKind::Mark) {
            tape.marks.push_back(event.time);
            std::string name(reinterpret_cast<const char*>(event.payload), event.length);
            // Of several lines, a mark says its line, as the live session's did.
            if (tape.header.lines > 1) name = std::string(tape.header.line[event.line].label) + ": " + name;
            tape.markNames.push_back(name);
        }
    }
    if (read != EventRead::End) {
        std::snprintf(tape.stop, sizeof tape.stop, "the recording %s at %.3f s: shown up to there",
                      read == EventRead::Torn ? "ends in an event cut short" : "is broken",
                      double(tape.length) / 1e6);
    }
    tape.from = tape.pausedAt = 0;
    tape.base = MonotonicMicroseconds();
    return true;
}

ReplayLine::ReplayLine(std::shared_ptr<ReplayTape> tape, unsigned index, const char* label)
    : tape_(std::move(tape)), shown_(uint8_t(index)) {
    if (label[0] != '\0') {
        std::snprintf(name_, sizeof name_, "replay of %s, line %s", tape_->path, label);
    } else {
        std::snprintf(name_, sizeof name_, "replay of %s", tape_->path);
    }
}

ReplayLine::~ReplayLine() { Close(); }

OpenResult ReplayLine::Open(const LineControls&, char* message, unsigned capacity) {
    if (timer_ >= 0) return OpenResult::Open;
    if (!tape_->bytes && !LoadReplayTape(*tape_, tape_->path, tape_->speed, message, capacity))
        return OpenResult::Failed;
    if (shown_ >= tape_->header.lines) {
        std::snprintf(message, capacity, "--replay %s: the recording has no line %u", tape_->path,
                      shown_ + 1u);
        return OpenResult::Failed;
    }
    header_ = tape_->header;
    ShowRecordedLine(&header_, shown_);
    timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_ < 0) {
        std::snprintf(message, capacity, "--replay %s: %s", tape_->path, std::strerror(errno));
        return OpenResult::Failed;
    }
    next_ = tape_->events;
    taken_ = 0;
    clock_ = 0;
    Arm();
    return OpenResult::Open;
}

void ReplayLine::Close() {
    if (timer_ >= 0) close(timer_);
    timer_ = -1;
}

uint64_t ReplayLine::Position() const { return tape_->Position(); }

// The timer for this line's next received bytes (or, with none left, the
// recording's end, so Read sees it); disarmed while paused or once ended.
void ReplayLine::Arm() {
    if (timer_ < 0) return;
    struct itimerspec when = {};
    unsigned long long offset = next_;
    uint64_t time = clock_;
    RecordEvent event;
    const ReplayTape& t = *tape_;
    if (!t.paused && !ended_) {
        uint64_t at = time;
        while (ReadEvent(t.bytes.get(), t.size, &offset, t.header.lines, &time, &event) == EventRead::Event) {
            at = event.time;
            if (event.kind == RecordKind::Received && event.line == shown_) break;
        }
        int64_t due = t.Due(at), now = MonotonicMicroseconds();
        int64_t wait = due > now ? due - now : 1;  // 0 would disarm it
        when.it_value.tv_sec = time_t(wait / 1000000);
        when.it_value.tv_nsec = long(wait % 1000000) * 1000;
    }
    timerfd_settime(timer_, 0, &when, nullptr);
}

IoResult ReplayLine::Read(uint8_t* data, unsigned capacity, unsigned* count) {
    *count = 0;
    uint64_t expirations;
    ssize_t ignored = read(timer_, &expirations, sizeof expirations);
    (void)ignored;
    int64_t now = MonotonicMicroseconds();
    const ReplayTape& t = *tape_;
    while (!t.paused && *count < capacity) {
        unsigned long long offset = next_;
        uint64_t time = clock_;
        RecordEvent event;
        EventRead read = ReadEvent(t.bytes.get(), t.size, &offset, t.header.lines, &time, &event);
        if (read != EventRead::Event) {
            ended_ = true;
            break;
        }
        if (t.Due(event.time) > now) break;
        if (event.kind == RecordKind::Received && event.line == shown_) {
            unsigned piece = event.length - taken_;
            if (piece > capacity - *count) piece = capacity - *count;
            std::memcpy(data + *count, event.payload + taken_, piece);
            *count += piece;
            taken_ += piece;
            if (taken_ < event.length) break;  // the rest at the next read
        }
        next_ = offset;
        clock_ = time;
        taken_ = 0;
    }
    Arm();
    return *count > 0 ? IoResult::Done : IoResult::WouldBlock;
}

IoResult ReplayLine::Write(const uint8_t*, unsigned length, unsigned* count) {
    *count = length;  // a recording cannot be written: taken and dropped
    if (length > 0 && !writeSaid_) writeNote_ = writeSaid_ = true;
    return IoResult::Done;
}

bool ReplayLine::TakeNote(char* text, unsigned capacity) {
    if (writeNote_) {
        writeNote_ = false;
        std::snprintf(text, capacity, "a replay: nothing is sent");
        return true;
    }
    if (ended_ && !endSaid_) {
        endSaid_ = true;
        if (tape_->endSaid) return false;  // every line ends at once: said once
        tape_->endSaid = true;
        std::snprintf(text, capacity, "%s",
                      tape_->stop[0] != '\0' ? tape_->stop : "the replay reached the recording's end");
        return true;
    }
    return false;
}

void ReplayLine::Pause(bool paused) {
    tape_->Pause(paused);
    Arm();
}

void ReplayLine::SeekTo(uint64_t time) {
    const ReplayTape& t = *tape_;
    if (time > t.length) time = t.length;
    // The first event after `time` is the next to play.
    unsigned long long offset = t.events;
    uint64_t clock = 0;
    RecordEvent event;
    for (;;) {
        unsigned long long before = offset;
        uint64_t was = clock;
        if (ReadEvent(t.bytes.get(), t.size, &offset, t.header.lines, &clock, &event) != EventRead::Event ||
            event.time > time) {
            next_ = before;
            clock_ = was;
            break;
        }
    }
    taken_ = 0;
    ended_ = endSaid_ = false;
    tape_->Restart(time);
    Arm();
}

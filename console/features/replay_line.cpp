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

ReplayLine::ReplayLine(const char* path, double speed, const char* label) : speed_(speed > 0 ? speed : 1) {
    std::snprintf(label_, sizeof label_, "%s", label);
    std::snprintf(path_, sizeof path_, "%s", path);
    if (label[0] != '\0') {
        std::snprintf(name_, sizeof name_, "replay of %s, line %s", path, label_);
    } else {
        std::snprintf(name_, sizeof name_, "replay of %s", path);
    }
}

ReplayLine::~ReplayLine() { Close(); }

OpenResult ReplayLine::Open(const LineControls&, char* message, unsigned capacity) {
    if (timer_ >= 0) return OpenResult::Open;
    int fd = -1;
    PlainFile opened = OpenPlainFile(path_, O_RDONLY, false, &fd);
    if (opened != PlainFile::Opened) {
        std::snprintf(message, capacity, "--replay %s: %s", path_, PlainFileProblem(opened, errno));
        return OpenResult::Failed;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || status.st_size < 0) {
        std::snprintf(message, capacity, "--replay %s: %s", path_, std::strerror(errno));
        close(fd);
        return OpenResult::Failed;
    }
    size_ = 0;
    unsigned long long size = (unsigned long long)status.st_size;
    bytes_.reset(new (std::nothrow) uint8_t[size + 1]);
    while (bytes_ && size_ < size) {
        ssize_t n = read(fd, bytes_.get() + size_, size - size_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        size_ += (unsigned long long)n;
    }
    close(fd);
    const char* problem = "no memory for it";
    events_ = bytes_ ? ReadRecordingHeader(bytes_.get(), size_, &header_, &problem) : 0;
    if (events_ == 0) {
        std::snprintf(message, capacity, "--replay %s: %s", path_, problem);
        return OpenResult::Failed;
    }
    int shown = RecordingLineIndex(header_, label_);
    if (shown < 0) {
        std::snprintf(message, capacity, "--input %s: the recording %s has no line of that label", label_,
                      path_);
        return OpenResult::Failed;
    }
    shown_ = uint8_t(shown);
    ShowRecordedLine(&header_, shown_);
    // Its length and marks, and where a torn or broken one stops.
    unsigned long long offset = events_;
    uint64_t time = 0;
    RecordEvent event;
    EventRead read;
    while ((read = ReadEvent(bytes_.get(), size_, &offset, header_.lines, &time, &event)) ==
           EventRead::Event) {
        length_ = event.time;
        if (event.kind == RecordKind::Mark && event.line == shown_) {
            marks_.push_back(event.time);
            markNames_.emplace_back(reinterpret_cast<const char*>(event.payload), event.length);
        }
    }
    if (read != EventRead::End) {
        std::snprintf(stop_, sizeof stop_, "the recording %s at %.3f s: shown up to there",
                      read == EventRead::Torn ? "ends in an event cut short" : "is broken",
                      double(length_) / 1e6);
    }
    timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer_ < 0) {
        std::snprintf(message, capacity, "--replay %s: %s", path_, std::strerror(errno));
        return OpenResult::Failed;
    }
    next_ = events_;
    taken_ = 0;
    clock_ = from_ = 0;
    base_ = MonotonicMicroseconds();
    Arm();
    return OpenResult::Open;
}

void ReplayLine::Close() {
    if (timer_ >= 0) close(timer_);
    timer_ = -1;
}

int64_t ReplayLine::Due(uint64_t time) const { return base_ + int64_t(double(time - from_) / speed_); }

uint64_t ReplayLine::Position() const {
    if (paused_) return pausedAt_;
    double played = double(MonotonicMicroseconds() - base_) * speed_;
    uint64_t at = from_ + (played > 0 ? uint64_t(played) : 0);
    return at < length_ ? at : length_;
}

// The timer for the next event's time; disarmed while paused or at the end.
void ReplayLine::Arm() {
    if (timer_ < 0) return;
    struct itimerspec when = {};
    unsigned long long offset = next_;
    uint64_t time = clock_;
    RecordEvent event;
    if (!paused_ &&
        ReadEvent(bytes_.get(), size_, &offset, header_.lines, &time, &event) == EventRead::Event) {
        int64_t due = Due(event.time), now = MonotonicMicroseconds();
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
    while (!paused_ && *count < capacity) {
        unsigned long long offset = next_;
        uint64_t time = clock_;
        RecordEvent event;
        EventRead read = ReadEvent(bytes_.get(), size_, &offset, header_.lines, &time, &event);
        if (read != EventRead::Event) {
            ended_ = true;
            break;
        }
        if (Due(event.time) > now) break;
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
        std::snprintf(text, capacity, "%s",
                      stop_[0] != '\0' ? stop_ : "the replay reached the recording's end");
        return true;
    }
    return false;
}

void ReplayLine::Pause(bool paused) {
    if (paused == paused_) return;
    if (paused) {
        pausedAt_ = Position();
    } else {
        from_ = pausedAt_;
        base_ = MonotonicMicroseconds();
    }
    paused_ = paused;
    Arm();
}

void ReplayLine::SeekTo(uint64_t time) {
    if (time > length_) time = length_;
    // The first event after `time` is the next to play.
    unsigned long long offset = events_;
    uint64_t clock = 0;
    RecordEvent event;
    for (;;) {
        unsigned long long before = offset;
        uint64_t was = clock;
        if (ReadEvent(bytes_.get(), size_, &offset, header_.lines, &clock, &event) != EventRead::Event ||
            event.time > time) {
            next_ = before;
            clock_ = was;
            break;
        }
    }
    taken_ = 0;
    ended_ = endSaid_ = false;
    from_ = pausedAt_ = time;
    base_ = MonotonicMicroseconds();
    Arm();
}

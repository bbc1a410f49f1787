// A recording played back as a line that cannot be written (--replay): the
// bytes the recorded line received come out of Read at the times they came,
// at --speed (of the line labelled `label`, the first for an empty one),
// so the whole program (screen, history, search, logs) shows
// what the live session showed.
//
// A timerfd is the descriptor: it fires when the next received bytes are
// due, so the loop waits in poll as for any line. Writes are taken and
// dropped (a note says so once); settings and controls are not this line's.
// The owner pauses and seeks: SeekTo moves the play position, and the owner
// draws that moment's screen from the events before Next().
#ifndef BRISVANE_CONSOLE_REPLAY_LINE_H
#define BRISVANE_CONSOLE_REPLAY_LINE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "console/line/line.h"
#include "console/rules/recording.h"

class ReplayLine : public Line {
public:
    ReplayLine(const char* path, double speed, const char* label);
    ~ReplayLine() override;

    OpenResult Open(const LineControls& controls, char* message, unsigned capacity) override;
    OpenResult Continue(short, char*, unsigned) override { return OpenResult::Open; }
    void Close() override;
    int Descriptor() const override { return timer_; }
    short PollEvents(bool) const override { return 0x001; }  // POLLIN
    IoResult Read(uint8_t* data, unsigned capacity, unsigned* count) override;
    IoResult Write(const uint8_t* data, unsigned length, unsigned* count) override;
    ControlResult Apply(const LineControls&, char*, unsigned) override { return ControlResult::Done; }
    ControlResult SetBreak(bool) override { return ControlResult::Unsupported; }
    ControlResult SetModemOutput(ModemOutput, bool) override { return ControlResult::Unsupported; }
    ControlResult ReadModemLines(ModemLines*) override { return ControlResult::Unsupported; }
    bool TakeNote(char* text, unsigned capacity) override;
    bool HasSettings() const override { return false; }
    const char* Name() const override { return name_; }

    // The play position (µs of the recording) and its length.
    uint64_t Position() const;
    uint64_t Length() const { return length_; }
    bool Paused() const { return paused_; }
    void Pause(bool paused);
    // Moves the play position to `time` (clamped to the recording); the
    // events up to it then come from RecordedUntil, the rest from Read.
    void SeekTo(uint64_t time);
    unsigned long long FirstEvent() const { return events_; }
    // The recording's bytes, and the offset of the next event to play.
    const uint8_t* Bytes() const { return bytes_.get(); }
    unsigned long long Size() const { return size_; }
    unsigned long long Next() const { return next_; }
    // The marks' times, in order, and their names.
    const std::vector<uint64_t>& Marks() const { return marks_; }
    const std::vector<std::string>& MarkNames() const { return markNames_; }
    const RecordingHeader& Header() const { return header_; }
    // The recorded line played: its index in the recording.
    uint8_t Shown() const { return shown_; }

private:
    void Arm();
    int64_t Due(uint64_t time) const;  // monotonic µs at which `time` plays

    char path_[1024];
    char name_[1100];
    double speed_;
    char label_[RecordingLabelCapacity];
    uint8_t shown_ = 0;
    int timer_ = -1;
    std::unique_ptr<uint8_t[]> bytes_;
    unsigned long long size_ = 0, events_ = 0;
    RecordingHeader header_ = {};
    uint64_t length_ = 0;
    std::vector<uint64_t> marks_;
    std::vector<std::string> markNames_;
    // Play state: the next event, how much of it went out, the recording's time.
    unsigned long long next_ = 0;
    unsigned taken_ = 0;
    uint64_t clock_ = 0;  // the recording's time of the event before next_
    uint64_t from_ = 0;   // the recording's time played at base_
    int64_t base_ = 0;    // monotonic µs
    bool paused_ = false;
    uint64_t pausedAt_ = 0;
    bool ended_ = false, endSaid_ = false, writeSaid_ = false, writeNote_ = false;
    char stop_[160] = "";  // where a torn or broken recording stops
};

#endif

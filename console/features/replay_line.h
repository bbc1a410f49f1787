// A recording played back as a line that cannot be written (--replay): the
// bytes one recorded line received come out of Read at the times they came,
// at --speed, so the whole program (screen, history, search, logs) shows
// what the live session showed. A recording of several lines plays as
// several ReplayLines on one ReplayTape: the file read once, and one play
// clock, so a pause or a seek moves every line to the same moment.
//
// A timerfd is the descriptor: it fires when the line's next received bytes
// are due, so the loop waits in poll as for any line. Writes are taken and
// dropped (a note says so once); settings and controls are not this line's.
// The owner pauses and seeks every line of the tape: SeekTo moves the play
// position, and the owner draws that moment's screen from the events before
// Next().
#ifndef BRISVANE_CONSOLE_REPLAY_LINE_H
#define BRISVANE_CONSOLE_REPLAY_LINE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "console/line/line.h"
#include "console/rules/recording.h"

// The recording and the clock every line of one replay shares.
struct ReplayTape {
    char path[1024] = "";
    double speed = 1;
    std::unique_ptr<uint8_t[]> bytes;
    unsigned long long size = 0, events = 0;  // events: where the events start
    RecordingHeader header = {};
    uint64_t length = 0;  // the last event's time
    // Every line's marks: their times, in order, and their names.
    std::vector<uint64_t> marks;
    std::vector<std::string> markNames;
    char stop[160] = "";   // where a torn or broken recording stops
    bool endSaid = false;  // by one of its lines, since the last move
    // The clock: `from` (the recording's µs) played at monotonic `base`.
    uint64_t from = 0;
    int64_t base = 0;
    bool paused = false;
    uint64_t pausedAt = 0;

    uint64_t Position() const;
    void Pause(bool paused);           // nothing when it already is so
    void Restart(uint64_t time);       // plays on (or stays paused) from `time`
    int64_t Due(uint64_t time) const;  // monotonic µs at which `time` plays
};

// Reads `path` whole and its header: false with why in `message`.
bool LoadReplayTape(ReplayTape& tape, const char* path, double speed, char* message, unsigned capacity);

class ReplayLine : public Line {
public:
    // Plays line `index` of `tape`, read by the first Open when not yet;
    // `label` names it in the line's name.
    ReplayLine(std::shared_ptr<ReplayTape> tape, unsigned index, const char* label);
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
    uint64_t Length() const { return tape_->length; }
    bool Paused() const { return tape_->paused; }
    void Pause(bool paused);
    // Moves the play position to `time` (clamped to the recording); the
    // owner redraws the screen of that moment from Bytes() up to Next(),
    // and Read plays on from there.
    void SeekTo(uint64_t time);
    unsigned long long FirstEvent() const { return tape_->events; }
    // The recording's bytes, and the offset of the next event to play.
    const uint8_t* Bytes() const { return tape_->bytes.get(); }
    unsigned long long Size() const { return tape_->size; }
    unsigned long long Next() const { return next_; }
    // The marks' times (every line's), in order, and their names.
    const std::vector<uint64_t>& Marks() const { return tape_->marks; }
    const std::vector<std::string>& MarkNames() const { return tape_->markNames; }
    // The header, drawn as this line drew (ShowRecordedLine).
    const RecordingHeader& Header() const { return header_; }
    const ReplayTape& Tape() const { return *tape_; }
    // The recorded line played: its index in the recording.
    uint8_t Shown() const { return shown_; }

private:
    void Arm();

    std::shared_ptr<ReplayTape> tape_;
    char name_[1100];
    uint8_t shown_ = 0;
    int timer_ = -1;
    RecordingHeader header_ = {};
    // Play state: the next event, how much of it went out, the recording's time.
    unsigned long long next_ = 0;
    unsigned taken_ = 0;
    uint64_t clock_ = 0;  // the recording's time of the event before next_
    bool ended_ = false, endSaid_ = false, writeSaid_ = false, writeNote_ = false;
};

#endif

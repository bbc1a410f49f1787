// What waits to go on the line, in order, and what is being written now.
//
// Keys, pastes and identify replies wait in a queue of TypedCapacity bytes,
// already as they go on the wire; nothing is dropped silently: Queue says
// when they do not fit. The bytes being written sit in a stage that the loop
// empties as the line takes them. Paste bytes are paced by the character
// interval when one is set: one byte per stage, the next no sooner than the
// interval after the last was written. With a line delay, a pasted line's
// end (a CR, or the LF right after one) ends its stage, and the next paste
// byte waits the delay too. A file send fills the stage itself (StageRoom,
// Staged), paced the same way for a text send. Each queued byte is also
// exact or not (the user's typing, before a served line's byte rules: see
// send.h); a run is all one or the other, and the stage says which, so an
// attached line can tell the server. A file send's stage is exact, but a
// text send's to a served line, which is text (the line's bit 7, not its
// maps, as a text send made on the line itself).
// Pure: the caller gives the time and does the writing.
#ifndef BRISVANE_CONSOLE_OUTPUT_PUMP_H
#define BRISVANE_CONSOLE_OUTPUT_PUMP_H

#include <cstdint>

const unsigned TypedCapacity = 65536;
// A stage is one write: at 4 KiB a paste into a connection went at about half
// the speed it reaches at 16 KiB, the other end woken for each small piece.
const unsigned StageCapacity = 16384;

// Which of a served line's byte rules the staged bytes still need.
enum class StageRules : uint8_t {
    Exact,  // none: as they are
    Typed,  // the sent maps and bit 7
    Text,   // bit 7 alone
};

class OutputPump {
public:
    // Queues `count` bytes after what waits: all of them, or none when they
    // do not fit (returns false).
    bool Queue(const uint8_t* bytes, unsigned count, bool paste, bool exact = true);
    // Bytes queued and not yet staged, and how many of them are pasted.
    unsigned Waiting() const { return count_; }
    unsigned PasteWaiting() const { return pasteCount_; }
    // Ends a paste: its queued bytes go, typed ones stay. Returns how many went.
    unsigned DropPaste();
    // Forgets everything (the line went away). Returns how many bytes went.
    unsigned Clear();

    bool StageEmpty() const { return written_ == length_; }
    // Staged bytes not yet written that came from a paste (a run from the
    // queue is all typed or all pasted).
    unsigned PasteStaged() const { return stagePasted_ ? length_ - written_ : 0; }
    // What the served line's rules still owe the staged bytes.
    StageRules Rules() const { return stageRules_; }
    // The staged bytes not yet written.
    const uint8_t* Pending(unsigned* count) const {
        *count = length_ - written_;
        return stage_ + written_;
    }
    // `count` staged bytes were written at `now`.
    void Wrote(unsigned count, int64_t now, uint32_t interval);
    // Fills an empty stage from the queue: a run of bytes, or one paste
    // byte once its time has come when pacing.
    void StageQueued(int64_t now, uint32_t interval);
    // A file send's way in: room in the empty stage, then how many bytes
    // were put there (a paced stage holds one byte).
    uint8_t* StageRoom(unsigned* capacity) {
        *capacity = StageCapacity;
        return stage_;
    }
    // `lineEnd`: the stage ends a line, so the line delay follows it;
    // `rules`: a text send to a served line stages Text.
    void Staged(unsigned count, bool paced, bool lineEnd = false, StageRules rules = StageRules::Exact);
    // The pause after each line of a paste or text send (ms; 0: none).
    void SetLineDelay(uint32_t milliseconds) { lineDelay_ = milliseconds; }
    uint32_t LineDelay() const { return lineDelay_; }
    // When the next paced byte may be staged (in the past when it may now).
    int64_t NextPaced() const { return nextPaced_; }
    // True while queued bytes wait for their pace, not for the line.
    bool WaitsForPace(int64_t now, uint32_t interval) const;

private:
    unsigned Index(unsigned offset) const { return (head_ + offset) % TypedCapacity; }

    uint8_t queue_[TypedCapacity];
    bool pasted_[TypedCapacity];
    bool exact_[TypedCapacity];
    unsigned head_ = 0;
    unsigned count_ = 0;
    unsigned pasteCount_ = 0;

    uint8_t stage_[StageCapacity];
    unsigned length_ = 0;
    unsigned written_ = 0;
    bool stagePaced_ = false;
    bool stagePasted_ = false;
    StageRules stageRules_ = StageRules::Exact;
    bool stageLineEnd_ = false;
    int64_t nextPaced_ = 0;
    uint32_t lineDelay_ = 0;
};

#endif

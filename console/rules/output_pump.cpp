#include "console/rules/output_pump.h"

#include <cstring>

namespace {

const uint8_t Return = 13, Feed = 10;

bool IsByte(uint8_t byte, uint8_t low) { return (byte & 0x7F) == low; }

}  // namespace

bool OutputPump::Queue(const uint8_t* bytes, unsigned count, bool paste, bool exact) {
    if (count > TypedCapacity - count_) return false;
    // At most two pieces: up to the ring's end, then from its start.
    unsigned at = Index(count_);
    unsigned first = count < TypedCapacity - at ? count : TypedCapacity - at;
    std::memcpy(queue_ + at, bytes, first);
    std::memset(pasted_ + at, paste, first);
    std::memset(exact_ + at, exact, first);
    std::memcpy(queue_, bytes + first, count - first);
    std::memset(pasted_, paste, count - first);
    std::memset(exact_, exact, count - first);
    count_ += count;
    if (paste) pasteCount_ += count;
    return true;
}

unsigned OutputPump::DropPaste() {
    unsigned kept = 0;
    for (unsigned i = 0; i < count_; ++i) {
        unsigned from = Index(i);
        if (pasted_[from]) continue;
        unsigned to = Index(kept++);
        queue_[to] = queue_[from];
        exact_[to] = exact_[from];
        pasted_[to] = false;
    }
    unsigned dropped = count_ - kept;
    count_ = kept;
    pasteCount_ = 0;
    return dropped;
}

unsigned OutputPump::Clear() {
    unsigned dropped = count_ + (length_ - written_);
    head_ = count_ = pasteCount_ = 0;
    length_ = written_ = 0;
    stagePaced_ = stagePasted_ = stageLineEnd_ = false;
    stageRules_ = StageRules::Exact;
    return dropped;
}

void OutputPump::Wrote(unsigned count, int64_t now, uint32_t interval) {
    written_ += count;
    if (written_ < length_) return;
    length_ = written_ = 0;
    if (stagePaced_) nextPaced_ = now + interval;
    if (stageLineEnd_) nextPaced_ = now + (stagePaced_ ? interval : 0) + lineDelay_;
    stagePaced_ = stageLineEnd_ = false;
}

void OutputPump::Staged(unsigned count, bool paced, bool lineEnd, StageRules rules) {
    stagePasted_ = false;
    stageRules_ = rules;
    length_ = count;
    written_ = 0;
    stagePaced_ = paced && count > 0;
    stageLineEnd_ = lineEnd && count > 0 && lineDelay_ > 0;
}

bool OutputPump::WaitsForPace(int64_t now, uint32_t interval) const {
    return StageEmpty() && count_ > 0 && (interval > 0 || lineDelay_ > 0) && pasted_[head_] &&
           now < nextPaced_;
}

void OutputPump::StageQueued(int64_t now, uint32_t interval) {
    if (!StageEmpty() || count_ == 0) return;
    bool paced = interval > 0 && pasted_[head_];
    if (pasted_[head_] && (interval > 0 || lineDelay_ > 0) && now < nextPaced_) return;
    unsigned take = 0;
    bool lineEnd = false;
    if (!paced && (lineDelay_ == 0 || !pasted_[head_])) {
        // A run of all typed or all pasted bytes, no pace and no line delay
        // to watch: found and copied whole, in at most two pieces.
        bool kind = pasted_[head_], exact = exact_[head_];
        unsigned most = count_ < StageCapacity ? count_ : StageCapacity;
        while (take < most) {
            unsigned at = Index(take);
            unsigned piece = most - take < TypedCapacity - at ? most - take : TypedCapacity - at;
            const void* other = std::memchr(pasted_ + at, !kind, piece);
            unsigned same =
                other == nullptr ? piece : unsigned(static_cast<const bool*>(other) - (pasted_ + at));
            const void* otherExact = std::memchr(exact_ + at, !exact, same);
            if (otherExact != nullptr) same = unsigned(static_cast<const bool*>(otherExact) - (exact_ + at));
            std::memcpy(stage_ + take, queue_ + at, same);
            take += same;
            if (same < piece) break;
        }
        if (kind) pasteCount_ -= take;
        head_ = Index(take);
        count_ -= take;
        Staged(take, false, false, exact ? StageRules::Exact : StageRules::Typed);
        stagePasted_ = kind;
        return;
    }
    while (take < count_ && take < StageCapacity) {
        unsigned at = Index(take);
        // A paced byte goes alone; plain bytes stop before the next paced
        // one, and a run is all typed or all pasted.
        if (paced ? take == 1
                  : (interval > 0 && pasted_[at]) || pasted_[at] != pasted_[head_] ||
                        exact_[at] != exact_[head_])
            break;
        uint8_t byte = queue_[at];
        stage_[take++] = byte;
        if (pasted_[at]) --pasteCount_;
        if (lineDelay_ > 0 && pasted_[at] && (IsByte(byte, Feed) || IsByte(byte, Return))) {
            // A CR with its LF still to come is not yet the line's end.
            bool feedFollows = take < count_ && pasted_[Index(take)] && IsByte(queue_[Index(take)], Feed);
            if (IsByte(byte, Feed) || !feedFollows) {
                lineEnd = true;
                break;
            }
        }
    }
    bool pasted = pasted_[head_], exact = exact_[head_];
    head_ = Index(take);
    count_ -= take;
    Staged(take, paced, lineEnd, exact ? StageRules::Exact : StageRules::Typed);
    stagePasted_ = pasted;
}

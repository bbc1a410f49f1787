#include "console/rules/share_buffer.h"

#include <cstring>
#include <new>

bool ShareBuffer::Allocate(unsigned capacity) {
    bytes_.reset(new (std::nothrow) uint8_t[capacity]);
    capacity_ = bytes_ ? capacity : 0;
    head_ = count_ = 0;
    return bool(bytes_);
}

void ShareBuffer::Release() {
    bytes_.reset();
    capacity_ = head_ = count_ = 0;
}

namespace {

void CopyMasked(uint8_t* to, const uint8_t* from, unsigned count, uint8_t mask) {
    if (mask == 0xFF) {
        std::memcpy(to, from, count);
    } else {
        for (unsigned i = 0; i < count; ++i) to[i] = from[i] & mask;
    }
}

}  // namespace

bool ShareBuffer::Append(const uint8_t* bytes, unsigned count, uint8_t mask) {
    if (count > capacity_ - count_) return false;
    unsigned tail = (head_ + count_) % (capacity_ ? capacity_ : 1);
    unsigned first = capacity_ - tail < count ? capacity_ - tail : count;
    if (first > 0) CopyMasked(&bytes_[tail], bytes, first, mask);
    if (count > first) CopyMasked(&bytes_[0], bytes + first, count - first, mask);
    count_ += count;
    return true;
}

const uint8_t* ShareBuffer::Front(unsigned* count) const {
    unsigned run = capacity_ - head_;
    *count = count_ < run ? count_ : run;
    return bytes_.get() + head_;
}

void ShareBuffer::Consume(unsigned count) {
    if (count > count_) count = count_;
    count_ -= count;
    head_ = count_ == 0 ? 0 : (head_ + count) % capacity_;
}

// What waits to go to one client of a shared line: a ring of bytes with a
// fixed capacity, given when the client connects. It never grows: bytes that
// do not fit are refused whole, and the caller drops the client, so a slow
// reader costs a bounded amount of memory and never holds up the line.
// Pure: no descriptors here.
#ifndef BRISVANE_CONSOLE_SHARE_BUFFER_H
#define BRISVANE_CONSOLE_SHARE_BUFFER_H

#include <cstdint>
#include <memory>

class ShareBuffer {
public:
    // Takes `capacity` bytes of room, emptied; false when there is no memory.
    bool Allocate(unsigned capacity);
    // Gives the room back; the buffer holds nothing after.
    void Release();

    unsigned Used() const { return count_; }
    bool Empty() const { return count_ == 0; }
    // How many more bytes fit.
    unsigned Room() const { return capacity_ - count_; }
    // Appends all `count` bytes after what waits, each ANDed with `mask`
    // (0x7F clears bit 7), or none when they do not fit (returns false).
    bool Append(const uint8_t* bytes, unsigned count, uint8_t mask = 0xFF);
    // The oldest bytes that lie in one piece, and how many.
    const uint8_t* Front(unsigned* count) const;
    // `count` bytes from the front went out (at most what Front gave).
    void Consume(unsigned count);

private:
    std::unique_ptr<uint8_t[]> bytes_;
    unsigned capacity_ = 0;
    unsigned head_ = 0;
    unsigned count_ = 0;
};

#endif

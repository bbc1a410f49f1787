// The rows that scrolled off the top of the screen, oldest first, in a ring
// of a fixed number of rows allocated once at start-up. A row keeps up to 80
// cells at one byte each (the four graphics cells get codes of their own),
// with trailing blanks trimmed. Pushing is O(1) and never allocates.
//
// Rows are numbered by the order they arrived: Oldest() is the first still
// kept, End() the number the next one will get. A ring that wrapped has
// forgotten the rows below Oldest().
#ifndef BRISVANE_CONSOLE_HISTORY_H
#define BRISVANE_CONSOLE_HISTORY_H

#include <cstdint>
#include <memory>

#include "core/screen.h"

class History {
public:
    // Room for `rows` rows (0: keep nothing). Returns false when the memory
    // cannot be had.
    bool Allocate(uint32_t rows);
    uint32_t Capacity() const { return capacity_; }

    // Keeps a copy of one screen row (80 cells).
    void Push(const Cell* cells);

    uint64_t End() const { return pushed_; }
    uint64_t Oldest() const { return pushed_ > capacity_ ? pushed_ - capacity_ : 0; }
    uint64_t Count() const { return pushed_ - Oldest(); }

    // Row `number` (Oldest() <= number < End()) as 80 cells, blank-padded.
    // Returns its length before padding; a row not kept reads as blank (0).
    unsigned Row(uint64_t number, Cell* cells) const;

    // Bytes a history of `rows` rows takes.
    static uint64_t Cost(uint32_t rows) { return uint64_t(rows) * SlotSize; }

private:
    static const unsigned SlotSize = ScreenColumns + 1;  // length, then the cells
    std::unique_ptr<uint8_t[]> slots_;
    uint32_t capacity_ = 0;
    uint64_t pushed_ = 0;
    uint32_t next_ = 0;  // the slot the next row goes to: pushed_ % capacity_, without dividing
};

#endif

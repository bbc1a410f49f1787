#include "console/rules/history.h"

#include <cstring>
#include <new>

namespace {

// The cells beyond seven bits that the interpreter makes: graphics mode.
const Cell GraphicsCells[] = {0x2588, 0x2192, 0x2026, 0x2193};
const uint8_t FirstGraphicsCode = 0x80;
const uint8_t Unknown = '?';

uint8_t Pack(Cell cell) {
    if (cell < 0x80) return uint8_t(cell);
    for (unsigned i = 0; i < sizeof GraphicsCells / sizeof GraphicsCells[0]; ++i) {
        if (GraphicsCells[i] == cell) return uint8_t(FirstGraphicsCode + i);
    }
    return Unknown;
}

Cell Unpack(uint8_t code) {
    unsigned graphics = unsigned(code) - FirstGraphicsCode;
    if (code >= FirstGraphicsCode && graphics < sizeof GraphicsCells / sizeof GraphicsCells[0]) {
        return GraphicsCells[graphics];
    }
    return code;
}

}  // namespace

bool History::Allocate(uint32_t rows) {
    capacity_ = 0;
    pushed_ = 0;
    next_ = 0;
    slots_.reset();
    if (rows == 0) return true;
    // Not value-initialised: pages are only touched as rows arrive.
    slots_.reset(new (std::nothrow) uint8_t[Cost(rows)]);
    if (!slots_) return false;
    capacity_ = rows;
    return true;
}

void History::Push(const Cell* cells) {
    if (capacity_ == 0) return;
    uint8_t* slot = &slots_[size_t(next_) * SlotSize];
    // Trailing blanks four at a time; the pattern reads the same either endian.
    const uint64_t FourBlanks = 0x0020002000200020u;
    unsigned length = ScreenColumns;
    for (uint64_t four; length >= 4; length -= 4) {
        std::memcpy(&four, &cells[length - 4], sizeof four);
        if (four != FourBlanks) break;
    }
    while (length > 0 && cells[length - 1] == BlankCell) --length;
    slot[0] = uint8_t(length);
    // Seven-bit cells are most rows: narrow the whole row in one fixed-length
    // pass the compiler unrolls into vector code (what lies past the length is
    // never read), and pack the rare row with graphics cell by cell.
    Cell wide = 0;
    for (unsigned i = 0; i < ScreenColumns; ++i) {
        slot[1 + i] = uint8_t(cells[i]);
        wide |= cells[i];
    }
    if (wide >= 0x80) {
        for (unsigned i = 0; i < length; ++i) slot[1 + i] = Pack(cells[i]);
    }
    ++pushed_;
    if (++next_ == capacity_) next_ = 0;
}

unsigned History::Row(uint64_t number, Cell* cells) const {
    unsigned length = 0;
    if (number >= Oldest() && number < pushed_) {
        const uint8_t* slot = &slots_[(number % capacity_) * SlotSize];
        length = slot[0];
        for (unsigned i = 0; i < length; ++i) cells[i] = Unpack(slot[1 + i]);
    }
    for (unsigned i = length; i < ScreenColumns; ++i) cells[i] = BlankCell;
    return length;
}

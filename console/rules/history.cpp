#include "console/rules/history.h"

#include <cstring>
#include <new>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Narrows a row of cells into `narrow` (80 bytes) and returns its length
// with trailing blanks trimmed, or -1 when a cell is beyond seven bits (what
// was written then is not to be used).
int NarrowSevenBitRow(const Cell* cells, uint8_t* narrow) {
#ifdef __SSE2__
    // Sixteen cells at a time, narrowed once none has a bit above the
    // seventh. Then the last group of sixteen with something not blank
    // holds the end.
    const __m128i blanks = _mm_set1_epi8(char(BlankCell)), zero = _mm_setzero_si128();
    const __m128i beyondSeven = _mm_set1_epi16(short(0xFF80));
    unsigned notBlank[ScreenColumns / 16];
    for (unsigned g = 0; g < ScreenColumns / 16; ++g) {
        __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + 16 * g));
        __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + 16 * g + 8));
        __m128i over = _mm_and_si128(_mm_or_si128(low, high), beyondSeven);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(over, zero)) != 0xFFFF) return -1;
        __m128i packed = _mm_packus_epi16(low, high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(narrow + 16 * g), packed);
        notBlank[g] = ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(packed, blanks))) & 0xFFFFu;
    }
    int g = ScreenColumns / 16;
    while (g > 0 && notBlank[g - 1] == 0) --g;
    if (g == 0) return 0;
    unsigned last = notBlank[g - 1], highest = 15;  // of the bits set in it
#ifdef __GNUC__
    highest = 31 - unsigned(__builtin_clz(last));
#else
    while (((last >> highest) & 1u) == 0) --highest;
#endif
    return 16 * (g - 1) + int(highest) + 1;
#else
    Cell wide = 0;
    for (int i = 0; i < ScreenColumns; ++i) {
        narrow[i] = uint8_t(cells[i]);
        wide |= cells[i];
    }
    if (wide >= 0x80) return -1;
    int length = ScreenColumns;
    while (length > 0 && narrow[length - 1] == BlankCell) --length;
    return length;
#endif
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
    // Seven-bit cells are most rows: narrowed and trimmed a group at a time.
    // The rare row with wider cells is packed and trimmed cell by cell.
    int length = NarrowSevenBitRow(cells, slot + 1);
    if (length < 0) {
        length = ScreenColumns;
        while (length > 0 && cells[length - 1] == BlankCell) --length;
        for (int i = 0; i < length; ++i) slot[1 + i] = Pack(cells[i]);
    }
    slot[0] = uint8_t(length);
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

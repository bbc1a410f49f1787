// Bytes eight at a time: the tests the fast paths over received and pasted
// text make on a 64-bit word read from memory (any alignment, either byte
// order). A test marks the top bit of each byte it finds; marks above the
// first true one may be false, the lowest never is, so FirstMarked gives
// exactly the first byte found.
#ifndef BRISVANE_CORE_BYTE_WORDS_H
#define BRISVANE_CORE_BYTE_WORDS_H

#include <cstdint>
#include <cstring>

const uint64_t ByteOnes = 0x0101010101010101u, ByteHighs = 0x8080808080808080u;

inline uint64_t LoadWord(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Marks the bytes of `word` equal to `value`.
inline uint64_t BytesEqual(uint64_t word, uint8_t value) {
    uint64_t x = word ^ (ByteOnes * value);
    return (x - ByteOnes) & ~x & ByteHighs;
}

// Marks the bytes of `word` below `limit` (1..128); every byte of `word`
// must be below 128.
inline uint64_t BytesBelow(uint64_t word, uint8_t limit) {
    return (word - ByteOnes * limit) & ~word & ByteHighs;
}

// The index in memory of the first byte marked in `marks` (not zero).
inline unsigned FirstMarked(uint64_t marks) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return unsigned(__builtin_ctzll(marks)) / 8;
#else
    uint8_t bytes[8];
    std::memcpy(bytes, &marks, sizeof bytes);
    unsigned k = 0;
    while ((bytes[k] & 0x80) == 0) ++k;
    return k;
#endif
}

#endif

#include "console/rules/script_text.h"

#include <cstring>

#include "core/byte_words.h"

namespace {

const uint8_t Escape = 0x1B;

bool Kept(uint8_t byte) {
    return (byte >= 0x20 && byte < 0x7F) || byte == '\r' || byte == '\n' || byte == '\t';
}

}  // namespace

void TakeShown(ScriptText& text, uint8_t byte, bool inSequence) {
    byte &= 0x7F;
    if (inSequence || byte == Escape || !Kept(byte)) return;
    unsigned at = (text.head + text.count) % ScriptTextCapacity;
    text.bytes[at] = byte;
    if (text.count == ScriptTextCapacity) {
        text.head = (text.head + 1) % ScriptTextCapacity;
    } else {
        ++text.count;
    }
    ++text.added;
}

void TakeShownBlock(ScriptText& text, const uint8_t* bytes, unsigned count, EscapeState state) {
    unsigned at = (text.head + text.count) % ScriptTextCapacity;
    uint64_t taken = 0;
    for (unsigned i = 0; i < count;) {
        // Printable text eight at a time while it lasts and the ring has room
        // before its end; the printable start of the word that ends it too.
        while (state == EscapeState::Normal && count - i >= 8 && ScriptTextCapacity - at >= 8) {
            uint64_t seven = LoadWord(bytes + i) & ~ByteHighs;
            uint64_t found = BytesBelow(seven, 0x20) | BytesEqual(seven, 0x7F);
            unsigned printable = found != 0 ? FirstMarked(found) : 8;
            std::memcpy(text.bytes + at, &seven, printable);
            at = (at + printable) % ScriptTextCapacity;
            i += printable;
            taken += printable;
            if (found != 0) break;
        }
        if (i == count) break;
        uint8_t byte = bytes[i++] & 0x7F;
        bool inSequence = state != EscapeState::Normal;
        switch (state) {  // as the interpreter moves, ignoring what the byte does otherwise
            case EscapeState::Normal:
                if (byte == Escape) state = EscapeState::Escape;
                break;
            case EscapeState::Escape: state = byte == 'Y' ? EscapeState::RowByte : EscapeState::Normal; break;
            case EscapeState::RowByte: state = EscapeState::ColumnByte; break;
            case EscapeState::ColumnByte: state = EscapeState::Normal; break;
        }
        if (inSequence || byte == Escape || !Kept(byte)) continue;
        text.bytes[at] = byte;
        if (++at == ScriptTextCapacity) at = 0;
        ++taken;
    }
    text.added += taken;
    if (text.count + taken >= ScriptTextCapacity) {
        text.count = ScriptTextCapacity;
        text.head = at;  // full: the oldest is where the next goes
    } else {
        text.count += unsigned(taken);
    }
}

void TextRuns(const ScriptText& text, const uint8_t** first, unsigned* firstCount, const uint8_t** second,
              unsigned* secondCount) {
    unsigned toEnd = ScriptTextCapacity - text.head;
    *first = text.bytes + text.head;
    *firstCount = text.count < toEnd ? text.count : toEnd;
    *second = text.bytes;
    *secondCount = text.count - *firstCount;
}

void ConsumeText(ScriptText& text, unsigned count) {
    if (count > text.count) count = text.count;
    text.head = (text.head + count) % ScriptTextCapacity;
    text.count -= count;
}

void ClearText(ScriptText& text) {
    text.head = 0;
    text.count = 0;
}

std::string TextSince(const ScriptText& text, uint64_t since, uint64_t* lost) {
    uint64_t taken = text.added > since ? text.added - since : 0;
    *lost = taken > ScriptTextCapacity ? taken - ScriptTextCapacity : 0;
    unsigned count = unsigned(taken - *lost);
    unsigned end = (text.head + text.count) % ScriptTextCapacity;
    unsigned start = (end + ScriptTextCapacity - count) % ScriptTextCapacity;
    std::string out;
    out.reserve(count);
    unsigned first = ScriptTextCapacity - start < count ? ScriptTextCapacity - start : count;
    out.append(reinterpret_cast<const char*>(text.bytes + start), first);
    out.append(reinterpret_cast<const char*>(text.bytes), count - first);
    return out;
}

#include "console/rules/script_text.h"

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

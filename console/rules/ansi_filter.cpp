#include "console/rules/ansi_filter.h"

#include <cstring>

#include "core/byte_words.h"

namespace {

using Stage = AnsiFilter::Stage;
using Follow = AnsiFilter::Follow;

enum : uint8_t {
    Bel = 7,
    Esc = 27,
    EightBitCsi = 0x9B,
    StringTerminator = 0x9C,
    EightBitOsc = 0x9D,
};

// How many bytes at the start of `in` are plain text: no ESC, no 0x9B (an
// ESC with bit 7) and no 0x9D. Eight at a time.
unsigned PlainRun(const uint8_t* in, unsigned count) {
    unsigned n = 0;
    for (; n + 8 <= count; n += 8) {
        uint64_t word = LoadWord(in + n);
        uint64_t found = BytesEqual(word & ~ByteHighs, Esc) | BytesEqual(word, EightBitOsc);
        if (found != 0) return n + FirstMarked(found);
    }
    while (n < count && (in[n] & 0x7F) != Esc && in[n] != EightBitOsc) ++n;
    return n;
}

// The letters after ESC the interpreter acts on.
bool TerminalEscapeLetter(uint8_t byte) {
    switch (byte) {
        case 'A':
        case 'B':
        case 'C':
        case 'D':
        case 'F':
        case 'G':
        case 'H':
        case 'I':
        case 'J':
        case 'K':
        case 'Y':
        case 'Z': return true;
        default: return false;
    }
}

// A byte for the interpreter; its escape state moves as the interpreter's
// does (which ignores bit 7).
inline void Pass(AnsiFilter& f, uint8_t*& out, uint8_t byte) {
    *out++ = byte;
    uint8_t seven = byte & 0x7F;
    switch (f.follow) {
        case Follow::Normal:
            if (seven == Esc) f.follow = Follow::Escape;
            break;
        case Follow::Escape: f.follow = seven == 'Y' ? Follow::RowByte : Follow::Normal; break;
        case Follow::RowByte: f.follow = Follow::ColumnByte; break;
        case Follow::ColumnByte: f.follow = Follow::Normal; break;
    }
}

// Not a sequence after all: what was held goes on as received.
void Release(AnsiFilter& f, uint8_t*& out) {
    for (unsigned i = 0; i < f.heldCount; ++i) Pass(f, out, f.held[i]);
    f.heldCount = 0;
    f.stage = Stage::Ground;
}

void Drop(AnsiFilter& f) {
    f.heldCount = 0;
    f.stage = Stage::Ground;
    ++f.hidden;
}

void Hold(AnsiFilter& f, uint8_t*& out, uint8_t byte, Stage stage) {
    f.held[f.heldCount++] = byte;
    f.stage = stage;
    bool csi = stage == Stage::Csi || stage == Stage::Escape;
    if (f.heldCount >= (csi ? AnsiCsiLimit : AnsiOscLimit)) Release(f, out);  // too long to be one
}

void Step(AnsiFilter& f, uint8_t*& out, uint8_t byte) {
    switch (f.stage) {
        case Stage::Ground:
            if (f.follow != Follow::Normal) {
                Pass(f, out, byte);  // an argument of the terminal's own sequence
            } else if (byte == Esc) {
                Hold(f, out, byte, Stage::Escape);
            } else if (f.eightBit && byte == EightBitCsi) {
                f.intermediates = false;
                Hold(f, out, byte, Stage::Csi);
            } else if (f.eightBit && byte == EightBitOsc) {
                Hold(f, out, byte, Stage::Osc);
            } else {
                Pass(f, out, byte);
            }
            return;
        case Stage::Escape:
            if (byte == '[') {
                f.intermediates = false;
                Hold(f, out, byte, Stage::Csi);
            } else if (byte == ']') {
                Hold(f, out, byte, Stage::Osc);
            } else {
                Release(f, out);
                Pass(f, out, byte);  // the interpreter's own escape, or one it ignores
            }
            return;
        case Stage::Csi:
            // 0x9B then a letter of the terminal's: ESC with bit 7 set.
            if (f.heldCount == 1 && f.held[0] == EightBitCsi && TerminalEscapeLetter(byte)) {
                Release(f, out);
                Pass(f, out, byte);
            } else if (byte >= 0x30 && byte <= 0x3F && !f.intermediates) {
                Hold(f, out, byte, Stage::Csi);
            } else if (byte >= 0x20 && byte <= 0x2F) {
                f.intermediates = true;
                Hold(f, out, byte, Stage::Csi);
            } else if (byte >= 0x40 && byte <= 0x7E) {
                Drop(f);
            } else {
                Release(f, out);
                Step(f, out, byte);
            }
            return;
        case Stage::Osc:
            if (byte == Bel || (f.eightBit && byte == StringTerminator)) {
                Drop(f);
            } else if (byte == Esc) {
                Hold(f, out, byte, Stage::OscEscape);
            } else if (byte < 0x20) {
                Release(f, out);
                Step(f, out, byte);
            } else {
                Hold(f, out, byte, Stage::Osc);
            }
            return;
        case Stage::OscEscape:
            if (byte == '\\') {
                Drop(f);
                return;
            }
            // The ESC began something else: the text before it goes as received.
            --f.heldCount;
            Release(f, out);
            Step(f, out, Esc);
            Step(f, out, byte);
            return;
    }
}

}  // namespace

unsigned FilterAnsi(AnsiFilter& f, const uint8_t* in, unsigned count, uint8_t* out) {
    uint8_t* start = out;
    if (!f.hide) {
        if (f.heldCount > 0) Release(f, out);
        for (unsigned i = 0; i < count;) {
            if (f.follow == Follow::Normal) {
                unsigned n = PlainRun(in + i, count - i);  // cannot move the escape state
                std::memcpy(out, in + i, n);
                out += n;
                i += n;
                if (i == count) break;
            }
            Pass(f, out, in[i++]);
        }
        return unsigned(out - start);
    }
    for (unsigned i = 0; i < count;) {
        if (f.stage == Stage::Ground && f.follow == Follow::Normal) {
            // Text: neither an escape for the interpreter nor the start of one.
            unsigned n = PlainRun(in + i, count - i);
            std::memcpy(out, in + i, n);
            out += n;
            i += n;
            if (i == count) break;
            // The terminal's own two-byte escapes, mostly: straight on, as Step would.
            uint8_t next = i + 1 < count ? in[i + 1] : 0;
            if (in[i] == Esc && next >= 'A' && next <= 'Z') {
                // A cursor address takes its row and column bytes whatever they are.
                unsigned length = next == 'Y' && count - i >= 4 ? 4 : 2;
                std::memcpy(out, in + i, length);
                out += length;
                i += length;
                f.follow = next == 'Y' && length == 2 ? Follow::RowByte : Follow::Normal;
                continue;
            }
        }
        Step(f, out, in[i++]);
    }
    return unsigned(out - start);
}

bool AdoptAnsiState(AnsiFilter& f, const AnsiFilter& from) {
    unsigned count = from.heldCount;
    uint8_t first = count > 0 ? from.held[0] : 0;
    bool sound = false;
    switch (from.stage) {
        case Stage::Ground: sound = count == 0; break;
        case Stage::Escape: sound = count == 1 && first == Esc; break;
        case Stage::Csi:
            sound = count < AnsiCsiLimit && ((count >= 2 && first == Esc && from.held[1] == '[') ||
                                             (count >= 1 && first == EightBitCsi));
            break;
        case Stage::Osc:
        case Stage::OscEscape:
            sound = count < AnsiOscLimit && ((count >= 2 && first == Esc && from.held[1] == ']') ||
                                             (count >= 1 && first == EightBitOsc));
            if (from.stage == Stage::OscEscape) sound = sound && from.held[count - 1] == Esc;
            break;
    }
    // Sequences are held only from ground, where the interpreter waits for
    // nothing; and an 8-bit opener only on an 8-bit line.
    if (from.stage != Stage::Ground && from.follow != Follow::Normal) sound = false;
    if ((first == EightBitCsi || first == EightBitOsc) && !from.eightBit) sound = false;
    if (from.stage > Stage::OscEscape || from.follow > Follow::ColumnByte || !sound) return false;
    f.eightBit = from.eightBit;
    f.stage = from.stage;
    f.follow = from.follow;
    f.intermediates = from.intermediates;
    f.heldCount = count;
    std::memcpy(f.held, from.held, count);
    return true;
}

#include "console/screen/receive.h"

#include "core/interpreter.h"
#include "core/output_queue.h"
#include "core/screen.h"
#include "link/transfer.h"

namespace {

void ForwardReply(ScreenStage& screen) {
    if (!screen.answers) {
        outputQueue.Discard();
        return;
    }
    uint8_t reply[3];
    for (unsigned i = 0; i < outputQueue.count; ++i)
        reply[i] = Originated(outputQueue.bytes[i], screen.sevenBit);
    if (!screen.pump.Queue(reply, outputQueue.count, false)) {
        screen.counters.dropped += outputQueue.count;  // a full queue drops it, as a busy one does
    }
    outputQueue.Discard();
}

// `answer`: an identify reply goes to the host and a script sees the byte;
// echoed bytes are the user's own, so a request among them is not answered.
inline void Show(ScreenStage& screen, uint8_t byte, bool answer = true) {
    if (byte == LineFeed && terminal.row == LastRow && terminal.escapeState == EscapeState::Normal) {
        screen.history.Push(&::screen.cells[0]);  // about to scroll off the top
    }
    if (answer && screen.scriptText.listening) {
        TakeShown(screen.scriptText, byte, terminal.escapeState != EscapeState::Normal);
    }
    InterpretByte(byte);
    if (outputQueue.IsEmpty()) return;
    if (answer) {
        ForwardReply(screen);
    } else {
        outputQueue.Discard();
    }
}

void Keep(const Cell* row, void* history) { static_cast<History*>(history)->Push(row); }

// A block for the screen, in runs; a running script gets its text first,
// with the escape state each byte will meet. A reply goes out at once.
void ShowBlock(ScreenStage& screen, const uint8_t* bytes, unsigned count) {
    if (screen.scriptText.listening) TakeShownBlock(screen.scriptText, bytes, count, terminal.escapeState);
    for (unsigned i = 0; i < count;) {
        i += InterpretBytes(bytes + i, count - i, Keep, &screen.history);
        if (!outputQueue.IsEmpty()) ForwardReply(screen);
    }
}

void ShowText(ScreenStage& screen, const char* text, unsigned length) {
    for (unsigned i = 0; i < length; ++i) Show(screen, uint8_t(text[i]));
}

// Full rows once, and the row being filled redrawn once a block. A block
// after a pause longer than the gap ends the row and starts a stamped one.
void ShowHex(ReceiveChain& chain, const uint8_t* bytes, unsigned count,
             const struct timespec* arrived = nullptr) {
    HexDump& dump = chain.style.dump;
    char row[HexRowCapacity + 2];
    row[0] = CarriageReturn;
    if (arrived != nullptr && dump.gapMilliseconds > 0) {
        unsigned length = HexGapStamp(dump, *arrived, row + 1, HexRowCapacity);
        if (length > 0) {
            if (dump.filled > 0) ShowText(chain.screen, "\r\n", 2);
            dump.NextRow();
            ShowText(chain.screen, row + 1, length);
            ShowText(chain.screen, "\r\n", 2);
        }
    }
    for (unsigned i = 0; i < count; ++i) {
        if (!dump.Add(bytes[i])) continue;
        unsigned length = FormatHexRow(dump, row + 1, HexRowCapacity);
        row[1 + length] = CarriageReturn;
        row[2 + length] = LineFeed;
        ShowText(chain.screen, row, length + 3);
        dump.NextRow();
    }
    if (dump.filled > 0) ShowText(chain.screen, row, 1 + FormatHexRow(dump, row + 1, HexRowCapacity));
}

void ReceivePart(ReceiveChain& chain, const uint8_t* bytes, unsigned count, const struct timespec& arrived) {
    ReceiveStyle& style = chain.style;
    for (unsigned i = 0; i < chain.rawCount; ++i) chain.raw[i]->Take(bytes, count, arrived);
    const uint8_t* text = bytes;
    unsigned textCount = count;
    if (style.maps & ReceivedMaps) {
        textCount = style.map.Apply(style.maps, bytes, count, style.mapped);
        text = style.mapped;
    }
    textCount = FilterAnsi(chain.ansi, text, textCount, style.shown);
    text = style.shown;
    for (unsigned i = 0; i < chain.textCount; ++i) chain.text[i]->Take(text, textCount, arrived);
    if (receiveMode == ReceiveMode::CaptureRaw) return;  // nothing is shown
    if (style.hex) {
        ShowHex(chain, bytes, count, &arrived);
    } else {
        ShowBlock(chain.screen, text, textCount);
    }
}

unsigned Least(ReceiveSink* const* sinks, unsigned count) {
    unsigned least = SinkNoLimit;
    for (unsigned i = 0; i < count; ++i) {
        unsigned room = sinks[i]->Room();
        if (room < least) least = room;
    }
    return least;
}

}  // namespace

bool AddSink(ReceiveChain& chain, SinkStage stage, ReceiveSink& sink) {
    ReceiveSink** sinks = stage == SinkStage::Raw ? chain.raw : chain.text;
    unsigned& count = stage == SinkStage::Raw ? chain.rawCount : chain.textCount;
    if (count == ChainSinkCapacity) return false;
    sinks[count++] = &sink;
    return true;
}

unsigned ReadAllowance(const ReceiveChain& chain, unsigned wanted) {
    unsigned raw = Least(chain.raw, chain.rawCount);
    if (raw < wanted) wanted = raw;
    unsigned text = Least(chain.text, chain.textCount);
    if (text == SinkNoLimit) return wanted;
    unsigned fits = text < AnsiFilterSlack ? 0 : (text - AnsiFilterSlack) / 2;
    return fits < wanted ? fits : wanted;
}

void ReceiveBlock(ReceiveChain& chain, const uint8_t* bytes, unsigned count, const struct timespec& arrived) {
    for (unsigned done = 0; done < count; done += MapBlockSize) {
        unsigned part = count - done < MapBlockSize ? count - done : MapBlockSize;
        ReceivePart(chain, bytes + done, part, arrived);
    }
}

void EchoSent(ReceiveChain& chain, const uint8_t* bytes, unsigned count) {
    ReceiveStyle& style = chain.style;
    for (unsigned done = 0; done < count; done += MapBlockSize) {
        unsigned part = count - done < MapBlockSize ? count - done : MapBlockSize;
        if (style.hex) {
            ShowHex(chain, bytes + done, part);
            continue;
        }
        uint8_t maps = uint8_t((style.maps & MapInLfCrlf) | MapInCrCrlf);
        unsigned n = style.echoMap.Apply(maps, bytes + done, part, style.mapped);
        for (unsigned i = 0; i < n; ++i) Show(chain.screen, style.mapped[i] & SevenBits, false);
    }
}

void SetHexView(ReceiveChain& chain, bool on) {
    ReceiveStyle& style = chain.style;
    if (style.hex == on) return;
    if (style.hex && style.dump.filled > 0) ShowText(chain.screen, "\r\n", 2);  // the last row stays as it is
    style.hex = on;
    uint32_t gap = style.dump.gapMilliseconds;
    style.dump = HexDump();
    style.dump.gapMilliseconds = gap;
    if (on && terminal.column != 0) ShowText(chain.screen, "\r\n", 2);
}

#include "console/receive.h"

#include "console/transfers.h"
#include "core/interpreter.h"
#include "core/output_queue.h"
#include "core/screen.h"
#include "link/transfer.h"

namespace {

void ForwardReply(ReceiveTargets& targets) {
    uint8_t reply[3];
    for (unsigned i = 0; i < outputQueue.count; ++i)
        reply[i] = Originated(outputQueue.bytes[i], targets.sevenBit);
    if (!targets.pump.Queue(reply, outputQueue.count, false)) {
        targets.counters.dropped += outputQueue.count;  // a full queue drops it, as a busy one does
    }
    outputQueue.Discard();
}

// `answer`: an identify reply goes to the host and a script sees the byte;
// echoed bytes are the user's own, so a request among them is not answered.
inline void Show(ReceiveTargets& targets, uint8_t byte, bool answer = true) {
    if (byte == LineFeed && terminal.row == LastRow && terminal.escapeState == EscapeState::Normal) {
        targets.history.Push(&screen.cells[0]);  // about to scroll off the top
    }
    if (answer && targets.scriptText != nullptr) {
        TakeShown(*targets.scriptText, byte, terminal.escapeState != EscapeState::Normal);
    }
    InterpretByte(byte);
    if (outputQueue.IsEmpty()) return;
    if (answer) {
        ForwardReply(targets);
    } else {
        outputQueue.Discard();
    }
}

void Keep(const Cell* row, void* history) { static_cast<History*>(history)->Push(row); }

// A block for the screen, in runs; a byte at a time while a script must see
// each byte with the escape state it met. A reply goes out at once.
void ShowBlock(ReceiveTargets& targets, const uint8_t* bytes, unsigned count) {
    if (targets.scriptText != nullptr) {
        for (unsigned i = 0; i < count; ++i) Show(targets, bytes[i] & SevenBits);
        return;
    }
    for (unsigned i = 0; i < count;) {
        i += InterpretBytes(bytes + i, count - i, Keep, &targets.history);
        if (!outputQueue.IsEmpty()) ForwardReply(targets);
    }
}

void ShowText(ReceiveTargets& targets, const char* text, unsigned length) {
    for (unsigned i = 0; i < length; ++i) Show(targets, uint8_t(text[i]));
}

// Full rows once, and the row being filled redrawn once a block. A block
// after a pause longer than the gap ends the row and starts a stamped one.
void ShowHex(ReceiveTargets& targets, const uint8_t* bytes, unsigned count,
             const struct timespec* arrived = nullptr) {
    HexDump& dump = targets.style.dump;
    char row[HexRowCapacity + 2];
    row[0] = CarriageReturn;
    if (arrived != nullptr && dump.gapMilliseconds > 0) {
        unsigned length = HexGapStamp(dump, *arrived, row + 1, HexRowCapacity);
        if (length > 0) {
            if (dump.filled > 0) ShowText(targets, "\r\n", 2);
            dump.NextRow();
            ShowText(targets, row + 1, length);
            ShowText(targets, "\r\n", 2);
        }
    }
    for (unsigned i = 0; i < count; ++i) {
        if (!dump.Add(bytes[i])) continue;
        unsigned length = FormatHexRow(dump, row + 1, HexRowCapacity);
        row[1 + length] = CarriageReturn;
        row[2 + length] = LineFeed;
        ShowText(targets, row, length + 3);
        dump.NextRow();
    }
    if (dump.filled > 0) ShowText(targets, row, 1 + FormatHexRow(dump, row + 1, HexRowCapacity));
}

void ReceivePart(ReceiveTargets& targets, const uint8_t* bytes, unsigned count,
                 const struct timespec& arrived) {
    ReceiveStyle& style = targets.style;
    if (targets.log.Active()) targets.log.ReceivedRaw(bytes, count);
    const uint8_t* text = bytes;
    unsigned textCount = count;
    if (style.maps & ReceivedMaps) {
        textCount = style.map.Apply(style.maps, bytes, count, style.mapped);
        text = style.mapped;
    }
    textCount = FilterAnsi(targets.ansi, text, textCount, style.shown);
    text = style.shown;
    if (targets.log.Active()) targets.log.ReceivedText(text, textCount, arrived);
    if (targets.marks != nullptr) MatchMarks(*targets.marks, text, textCount, arrived);
    switch (CurrentTransferModes().capture) {
        case ReceiveMode::CaptureRaw:
            for (unsigned i = 0; i < count; ++i) WriteFileByte(captureFile, bytes[i]);
            return;
        case ReceiveMode::CaptureText:
            for (unsigned i = 0; i < textCount; ++i) {
                uint8_t out[2];
                unsigned n = targets.captureLineEnds.Next(text[i] & SevenBits, out);
                for (unsigned j = 0; j < n; ++j) WriteFileByte(captureFile, out[j]);
            }
            if (!style.hex) ShowBlock(targets, text, textCount);
            break;
        case ReceiveMode::Off:
            if (!style.hex) ShowBlock(targets, text, textCount);
            break;
    }
    if (style.hex) ShowHex(targets, bytes, count, &arrived);
}

}  // namespace

void ReceiveBlock(ReceiveTargets& targets, const uint8_t* bytes, unsigned count,
                  const struct timespec& arrived) {
    for (unsigned done = 0; done < count; done += MapBlockSize) {
        unsigned part = count - done < MapBlockSize ? count - done : MapBlockSize;
        ReceivePart(targets, bytes + done, part, arrived);
    }
}

void EchoSent(ReceiveTargets& targets, const uint8_t* bytes, unsigned count) {
    ReceiveStyle& style = targets.style;
    for (unsigned done = 0; done < count; done += MapBlockSize) {
        unsigned part = count - done < MapBlockSize ? count - done : MapBlockSize;
        if (style.hex) {
            ShowHex(targets, bytes + done, part);
            continue;
        }
        uint8_t maps = uint8_t((style.maps & MapInLfCrlf) | MapInCrCrlf);
        unsigned n = style.echoMap.Apply(maps, bytes + done, part, style.mapped);
        for (unsigned i = 0; i < n; ++i) Show(targets, style.mapped[i] & SevenBits, false);
    }
}

void SetHexView(ReceiveTargets& targets, bool on) {
    ReceiveStyle& style = targets.style;
    if (style.hex == on) return;
    if (style.hex && style.dump.filled > 0) ShowText(targets, "\r\n", 2);  // the last row stays as it is
    style.hex = on;
    uint32_t gap = style.dump.gapMilliseconds;
    style.dump = HexDump();
    style.dump.gapMilliseconds = gap;
    if (on && terminal.column != 0) ShowText(targets, "\r\n", 2);
}

#include "link/transfer.h"

#include "core/interpreter.h"

FileHandle sendFile;
FileHandle captureFile;
ReceiveMode receiveMode = ReceiveMode::Off;
uint32_t characterInterval;

enum : uint8_t {
    MarkBit = 0x80,
    ArmingBit = 0x40,         // a binary send's body starts at such a byte
    BinaryTerminator = 0x80,  // ends an armed binary send
    MarkedLineFeed = 0x8A,
};

void EndSend() {
    CloseFileHandle(sendFile);
    sendState = SendState::Idle;
    SetSendItems(false);
}

void FetchSendByte() {
    uint8_t& slot = outputQueue.bytes[0];
    if (ReadFileByte(sendFile, &slot) != 1 ||
        (sendState == SendState::SendBinaryArmed && slot == BinaryTerminator)) {
        EndSend();
        return;
    }
    outputQueue.count = 1;
    if (sendState == SendState::SendBinary && (slot & ArmingBit)) sendState = SendState::SendBinaryArmed;
}

bool PrepareHead() {
    uint8_t& head = outputQueue.Head();
    // Idle and text sends mark the byte; raw and binary sends leave it.
    if (MarksOutgoingBytes(sendState)) head |= MarkBit;
    if (sendState == SendState::SendText && head == MarkedLineFeed) {
        outputQueue.Discard();
        return false;
    }
    return true;
}

void WriteCompleted() {
    if (sendState == SendState::SendText) PauseMilliseconds(characterInterval);
}

void ByteReceived(uint8_t byte) {
    if (receiveMode == ReceiveMode::CaptureRaw) {
        WriteFileByte(captureFile, byte);
        return;
    }
    byte &= 0x7F;
    if (receiveMode == ReceiveMode::CaptureText) WriteFileByte(captureFile, byte);
    InterpretByte(byte);
}

// Output queue: the bytes waiting to be written to the serial line.
//
// Holds one key sequence, one identify reply or one byte of a file being
// sent, never a mix: producers fill it only when it is empty and drop their
// bytes otherwise. The Windows program's loop drains it one byte per write;
// the Unix program moves what the interpreter queues (the identify reply)
// into its own larger buffer at once, and takes send-file bytes through it.
// `sendState` lives here because every producer tests it.
#ifndef BRISVANE_CORE_OUTPUT_QUEUE_H
#define BRISVANE_CORE_OUTPUT_QUEUE_H

#include <cstdint>

struct OutputQueue {
    uint8_t bytes[3];  // slot 0 is the head, written next
    unsigned count;    // 0..3 bytes waiting, from slot 0

    bool IsEmpty() const { return count == 0; }
    // Copies n bytes into slots 0..n-1. Meant for an empty queue; n above 3
    // is cut to 3 so nothing is written past the slots.
    void Fill(const uint8_t* sequence, unsigned n);
    // Slot 0, read or changed in place by the writer.
    uint8_t& Head() { return bytes[0]; }
    // Drops what is waiting (the head byte was not written).
    void Discard() { count = 0; }
    // The head byte has been written: shift the rest forward.
    void Advance();
};

enum class SendState : uint8_t {
    Idle = 0,             // no file send; keys and identify may queue
    SendText = 1,         // bit 7 set on every byte, line feeds dropped
    SendRaw = 2,          // bytes unchanged
    SendBinary = 3,       // bytes unchanged; no byte with bit 6 read yet
    SendBinaryArmed = 4,  // bytes unchanged; 0x80 now ends the send
};

// Bytes written in this state get bit 7 set: keys, the identify reply and
// text sends; raw and binary sends pass all eight bits.
inline bool MarksOutgoingBytes(SendState state) {
    return state == SendState::Idle || state == SendState::SendText;
}

extern OutputQueue outputQueue;
extern SendState sendState;

#endif

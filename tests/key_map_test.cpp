// Mapped keys: which sequence a key queues, and when it is swallowed.
#include <gtest/gtest.h>

#include <vector>

#include "core/output_queue.h"
#include "shell/key_map.h"
#include "tests/support/recording_display.h"

namespace {

bool shift = false;
int shiftAsked = 0;
bool ShiftHeld() {
    ++shiftAsked;
    return shift;
}

std::vector<uint8_t> Press(uint32_t virtualKey, bool withShift) {
    shift = withShift;
    outputQueue.count = 0;
    const KeyMapEntry* entry = FindMappedKey(virtualKey);
    if (entry == nullptr) return {0xEE};  // marks "not mapped"
    QueueKey(entry->key, ShiftHeld);
    return std::vector<uint8_t>(outputQueue.bytes, outputQueue.bytes + outputQueue.count);
}

typedef std::vector<uint8_t> Bytes;

TEST(KeyMap, ArrowsEditingAndKeypadKeysQueueTheirSequences) {
    ResetAll();
    EXPECT_EQ(Press(38, false), (Bytes{27, '?', 't'}));  // up
    EXPECT_EQ(Press(38, true), (Bytes{27, 'P'}));
    EXPECT_EQ(Press(39, true), (Bytes{27, 'C'}));         // right, same shifted
    EXPECT_EQ(Press(101, false), (Bytes{27, '?', 'u'}));  // keypad 5
    EXPECT_EQ(Press(46, false), (Bytes{127}));            // delete
    EXPECT_EQ(Press(46, true), (Bytes{27, '?', 'u'}));
    EXPECT_EQ(Press(34, true), (Bytes{27, '?', 'n'}));  // page down, last entry
    EXPECT_EQ(Press(33, false), (Bytes{27, 'Q'}));
}

TEST(KeyMap, UnmappedKeysAndTheWholeParameterAreCompared) {
    EXPECT_EQ(Press('A', false), Bytes{0xEE});
    EXPECT_EQ(Press(13, false), Bytes{0xEE});  // Enter goes out as a character
    EXPECT_EQ(FindMappedKey(0), nullptr);      // the ending entry is not a key
    EXPECT_EQ(FindMappedKey(0x100000026ull), nullptr);
    int mapped = 0;
    for (uint32_t vk = 1; vk < 256; ++vk) mapped += FindMappedKey(vk) != nullptr;
    EXPECT_EQ(mapped, 25);
}

TEST(KeyMap, ABusyQueueOrAFileSendSwallowsTheKeyWithoutAskingForShift) {
    ResetAll();
    const uint8_t waiting[2] = {27, 'P'};
    outputQueue.Fill(waiting, 2);
    shiftAsked = 0;
    QueueKey(TerminalKey::Down, ShiftHeld);
    EXPECT_EQ(outputQueue.count, 2u);
    EXPECT_EQ(outputQueue.bytes[1], 'P');
    EXPECT_EQ(shiftAsked, 0);

    outputQueue.count = 0;
    sendState = SendState::SendText;
    QueueKey(TerminalKey::Down, ShiftHeld);
    QueueTypedCharacter('x');
    EXPECT_TRUE(outputQueue.IsEmpty());
    sendState = SendState::Idle;
}

TEST(KeyMap, TheCharacterAfterAMappedKeyIsDropped) {
    ResetAll();
    QueueKey(TerminalKey::Keypad5, ShiftHeld);  // keypad 5, Num Lock on
    QueueTypedCharacter('5');                   // what TranslateMessage adds
    EXPECT_EQ(outputQueue.count, 3u);
    EXPECT_EQ(outputQueue.bytes[2], 'u');
    outputQueue.count = 0;
    QueueTypedCharacter(10);  // Ctrl+J
    EXPECT_EQ(outputQueue.count, 1u);
    EXPECT_EQ(outputQueue.bytes[0], 10);
}

}  // namespace

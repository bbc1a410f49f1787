#include <gtest/gtest.h>

#include "core/output_queue.h"

namespace {

TEST(OutputQueue, DrainsASequenceInOrderOneByteAtATime) {
    OutputQueue q{};
    const uint8_t sequence[3] = {27, '?', 't'};
    q.Fill(sequence, 3);
    uint8_t written[3];
    for (int i = 0; i < 3; ++i) {
        ASSERT_FALSE(q.IsEmpty());
        written[i] = q.Head();
        q.Advance();
    }
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(written[0], 27);
    EXPECT_EQ(written[1], '?');
    EXPECT_EQ(written[2], 't');
    EXPECT_EQ(q.bytes[2], 't');  // slot 2 keeps its old value
}

TEST(OutputQueue, HeadIsChangedInPlaceAndDiscardEmpties) {
    OutputQueue q{};
    const uint8_t one = 'a';
    q.Fill(&one, 1);
    q.Head() |= 0x80;
    EXPECT_EQ(q.bytes[0], 0xE1);
    q.Discard();
    EXPECT_TRUE(q.IsEmpty());
    q.Advance();  // on an empty queue: stays empty
    EXPECT_EQ(q.count, 0u);
}

TEST(OutputQueue, AnOverlongFillIsCutToTheThreeSlots) {
    struct {
        OutputQueue q;
        uint8_t guard;
    } s{};
    s.guard = 0x5A;
    const uint8_t sequence[5] = {1, 2, 3, 4, 5};
    s.q.Fill(sequence, 5);
    EXPECT_EQ(s.q.count, 3u);
    EXPECT_EQ(s.guard, 0x5A);
}

}  // namespace

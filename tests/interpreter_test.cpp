// The byte interpreter: push bytes, expect screen, cursor, display log, queue.
#include <gtest/gtest.h>

#include "core/output_queue.h"
#include "tests/support/feed.h"

namespace {

class Interpreter : public ::testing::Test {
protected:
    void SetUp() override { ResetAll(); }
    void At(int row, int column) {  // cursor placed there, hidden
        terminal.row = row;
        terminal.column = column;
    }
    void ExpectCursor(int row, int column) {
        EXPECT_EQ(terminal.row, row);
        EXPECT_EQ(terminal.column, column);
    }
};

// --- printable text -------------------------------------------------------

TEST_F(Interpreter, TextIsStoredAndDrawnAfterHidingTheCursor) {
    Feed(Address(2, 0));  // leaves the cursor shown at (2, 0)
    display.ForgetLog();
    Feed("Hi");
    EXPECT_EQ(RowText(2), "Hi");
    ExpectCursor(2, 2);
    EXPECT_EQ(Log(), "Invert 2,0 | DrawRow 2 | DrawRow 2");
    EXPECT_FALSE(terminal.cursorShown);
}

TEST_F(Interpreter, NoWrapAtTheLastColumnFurtherBytesOverwriteIt) {
    Feed(std::string(80, 'x'));
    ExpectCursor(0, 79);
    EXPECT_EQ(RowText(0), std::string(80, 'x'));
    Feed("yz");
    ExpectCursor(0, 79);
    EXPECT_EQ(CellAt(0, 79), 'z');
    EXPECT_EQ(CellAt(0, 78), 'x');
    EXPECT_EQ(RowText(1), "");
}

TEST_F(Interpreter, OtherControlsAndDeleteAreIgnored) {
    Feed("a");
    display.ForgetLog();
    FeedBytes({0, 7, 11, 12, 127, 1, 31});
    EXPECT_EQ(RowText(0), "a");
    ExpectCursor(0, 1);
    EXPECT_EQ(Log(), "");
}

TEST_F(Interpreter, BitSevenIsIgnored) {
    FeedBytes({0xC1, 0x8D, 0x8A});  // 'A', CR, LF with bit 7
    EXPECT_EQ(RowText(0), "A");
    ExpectCursor(1, 0);
}

// --- controls -------------------------------------------------------------

TEST_F(Interpreter, BackspaceShowsTheCursorAtOnceCarriageReturnLeavesItHidden) {
    At(0, 5);
    Feed("\b");
    ExpectCursor(0, 4);
    EXPECT_TRUE(terminal.cursorShown);
    EXPECT_EQ(Log(), "Invert 0,4");
    display.ForgetLog();
    Feed("\r");
    ExpectCursor(0, 0);
    EXPECT_FALSE(terminal.cursorShown);
    EXPECT_EQ(Log(), "Invert 0,4");  // the hide, nothing shown after
    display.ForgetLog();
    Feed("\b");  // at column 0 nothing at all
    EXPECT_EQ(Log(), "");
    ExpectCursor(0, 0);
}

TEST_F(Interpreter, TabStopsEveryEightUpTo72ThenEveryColumn) {
    const int from[] = {0, 7, 8, 70, 71, 72, 78, 79};
    const int to[] = {8, 8, 16, 72, 72, 73, 79, 79};
    for (int i = 0; i < 8; ++i) {
        At(3, from[i]);
        Feed("\t");
        EXPECT_EQ(terminal.column, to[i]) << "tab from " << from[i];
        EXPECT_EQ(terminal.row, 3);
    }
}

TEST_F(Interpreter, LineFeedMovesDownAndScrollsOnlyOnTheLastRow) {
    At(22, 7);
    Feed("top\n");
    ExpectCursor(23, 10);
    EXPECT_EQ(display.repaints, 0);
    Feed("\n");
    ExpectCursor(23, 10);
    EXPECT_EQ(RowText(21), "       top");
    EXPECT_EQ(display.repaints, 1);
}

// --- escape sequences -----------------------------------------------------

TEST_F(Interpreter, CursorMovesStopAtTheEdgesWithoutHidingOrScrolling) {
    Feed(Address(0, 0));
    display.ForgetLog();
    Feed(
        "\x1b"
        "A\x1b"
        "D");
    ExpectCursor(0, 0);
    EXPECT_EQ(Log(), "");  // not even the hide
    EXPECT_TRUE(terminal.cursorShown);

    At(23, 79);
    Feed(
        "\x1b"
        "B\x1b"
        "C");
    ExpectCursor(23, 79);
    EXPECT_EQ(display.repaints, 0);  // ESC B on row 23 does not scroll

    Feed(
        "\x1b"
        "A\x1b"
        "D\x1b"
        "D");
    ExpectCursor(22, 77);
    Feed(
        "\x1b"
        "B\x1b"
        "C");
    ExpectCursor(23, 78);
}

TEST_F(Interpreter, HomeThenEraseToEndOfScreenBlanksEverything) {
    Feed("abc\r\n\ndef");
    Feed(Address(9, 9));
    display.ForgetLog();
    Feed("\x1bH\x1bJ");
    ExpectCursor(0, 0);
    EXPECT_FALSE(terminal.cursorShown);
    for (Cell cell : screen.cells) ASSERT_EQ(cell, 0x0020);
    ASSERT_EQ(display.log.size(), 25u);
    EXPECT_EQ(display.log[0], "Invert 9,9");  // hidden before anything is drawn
    EXPECT_EQ(display.log[1], "DrawRow 0");
    EXPECT_EQ(display.log[24], "DrawRow 23");
}

TEST_F(Interpreter, EraseToEndOfLineKeepsTheLeftPart) {
    Feed(
        "hello world\r\x1b"
        "C\x1b"
        "C\x1b"
        "C\x1b"
        "C\x1b"
        "C\x1bK");
    EXPECT_EQ(RowText(0), "hello");
    ExpectCursor(0, 5);
}

TEST_F(Interpreter, ReverseLineFeedOnRowZeroScrollsDownAndRepaints) {
    Feed("first\r\nsecond");
    At(1, 3);
    Feed("\x1bI");
    ExpectCursor(0, 3);
    EXPECT_EQ(display.repaints, 0);
    Feed("\x1bI");
    ExpectCursor(0, 3);
    EXPECT_EQ(RowText(0), "");
    EXPECT_EQ(RowText(1), "first");
    EXPECT_EQ(RowText(2), "second");
    EXPECT_EQ(display.repaints, 1);
    EXPECT_EQ(display.log.back(), "RepaintAll");
}

TEST_F(Interpreter, GraphicsModeSubstitutesFourCharactersOnly) {
    Feed(
        "\x1b"
        "Fahikb\x1bGa");
    EXPECT_EQ(CellAt(0, 0), 0x2588);
    EXPECT_EQ(CellAt(0, 1), 0x2192);
    EXPECT_EQ(CellAt(0, 2), 0x2026);
    EXPECT_EQ(CellAt(0, 3), 0x2193);
    EXPECT_EQ(CellAt(0, 4), 'b');
    EXPECT_EQ(CellAt(0, 5), 'a');
}

// --- the escape state machine ---------------------------------------------

TEST_F(Interpreter, UnknownByteAfterEscapeIsConsumedAndTheNextIsNormal) {
    Feed("\x1bxy");
    EXPECT_EQ(RowText(0), "y");
    EXPECT_EQ(terminal.escapeState, EscapeState::Normal);
}

TEST_F(Interpreter, EscapeEscapeStartsNothing) {
    Feed("\x1b\x1b");
    EXPECT_EQ(terminal.escapeState, EscapeState::Normal);
    Feed("Y");  // a plain letter, not an address
    EXPECT_EQ(RowText(0), "Y");
}

TEST_F(Interpreter, EscapeCarriageReturnDoesNotMoveTheCursor) {
    Feed("abc\x1b\r");
    ExpectCursor(0, 3);
    EXPECT_EQ(terminal.escapeState, EscapeState::Normal);
}

TEST_F(Interpreter, EscapeInsideAnAddressIsJustACoordinate) {
    Feed("\x1bY\x1b");
    EXPECT_EQ(terminal.escapeState, EscapeState::ColumnByte);
    Feed("\x1b");  // column byte 27, below the offset: column 0
    EXPECT_EQ(terminal.escapeState, EscapeState::Normal);
    ExpectCursor(0, 0);
}

TEST_F(Interpreter, ResetAbandonsAHalfReceivedAddress) {
    Feed("\x1bY%");
    ResetScreen();
    Feed("AB");
    EXPECT_EQ(RowText(0), "AB");
    ExpectCursor(0, 2);
}

// --- direct cursor addressing ---------------------------------------------

TEST_F(Interpreter, AddressMovesAndShowsTheCursorAtOnce) {
    At(1, 1);
    ShowCursor();
    display.ForgetLog();
    Feed(Address(5, 10));
    ExpectCursor(5, 10);
    EXPECT_TRUE(terminal.cursorShown);
    EXPECT_EQ(Log(), "Invert 1,1 | Invert 5,10");
}

TEST_F(Interpreter, OverRangeColumnClampsOverRangeRowIsIgnored) {
    At(4, 4);
    FeedBytes({27, 'Y', 32 + 24, 32 + 80});
    ExpectCursor(4, 79);
    FeedBytes({27, 'Y', 127, 127});
    ExpectCursor(4, 79);
    FeedBytes({27, 'Y', 55, 111});
    ExpectCursor(23, 79);
}

TEST_F(Interpreter, CoordinateBelowTheOffsetStaysOnTheScreen) {
    At(6, 6);
    FeedBytes({27, 'Y', 31, 0});
    ExpectCursor(6, 0);  // row kept, column clamped to 0
    FeedBytes({27, 'Y', 0, 40});
    ExpectCursor(6, 8);
    Feed("ok");  // stored inside the buffer, on the kept row
    EXPECT_EQ(RowText(6), "        ok");
}

// --- identify --------------------------------------------------------------

TEST_F(Interpreter, IdentifyQueuesTheReplyOnlyWhenIdleAndEmpty) {
    Feed("\x1bZ");
    ASSERT_EQ(outputQueue.count, 3u);
    EXPECT_EQ(outputQueue.bytes[0], 27);
    EXPECT_EQ(outputQueue.bytes[1], '/');
    EXPECT_EQ(outputQueue.bytes[2], 'K');

    // A key sequence still waiting: the request is dropped, not remembered.
    const uint8_t key[2] = {27, 'P'};
    outputQueue.count = 0;
    outputQueue.Fill(key, 2);
    Feed("\x1bZ");
    EXPECT_EQ(outputQueue.count, 2u);
    EXPECT_EQ(outputQueue.bytes[1], 'P');
    outputQueue.Advance();
    outputQueue.Advance();
    EXPECT_TRUE(outputQueue.IsEmpty());

    sendState = SendState::SendRaw;  // a file send owns the queue
    Feed("\x1bZ");
    EXPECT_TRUE(outputQueue.IsEmpty());
    EXPECT_EQ(RowText(0), "");
}

}  // namespace

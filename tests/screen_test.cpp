// Screen model operations and the order of their display calls.
#include <gtest/gtest.h>

#include "tests/support/feed.h"

namespace {

class Screen : public ::testing::Test {
protected:
    void SetUp() override { ResetAll(); }
    void Put(int row, int column) {  // cursor at (row, column), shown
        terminal.row = row;
        terminal.column = column;
        ShowCursor();
        display.ForgetLog();
    }
    void FillRows() {  // row r holds the letter 'A' + r everywhere
        for (int r = 0; r < ScreenRows; ++r)
            for (int c = 0; c < ScreenColumns; ++c) screen.cells[r * ScreenColumns + c] = Cell('A' + r);
    }
};

TEST_F(Screen, ResetBlanksEverythingAndHomesTheHiddenCursor) {
    FillRows();
    terminal.row = 7;
    terminal.column = 9;
    terminal.cursorShown = true;
    terminal.graphicsMode = true;
    terminal.escapeState = EscapeState::ColumnByte;
    terminal.pendingRow = 40;
    ResetScreen();
    for (Cell cell : screen.cells) ASSERT_EQ(cell, 0x0020);
    EXPECT_EQ(terminal.row, 0);
    EXPECT_EQ(terminal.column, 0);
    EXPECT_FALSE(terminal.cursorShown);
    EXPECT_FALSE(terminal.graphicsMode);
    EXPECT_EQ(terminal.escapeState, EscapeState::Normal);
    EXPECT_EQ(terminal.pendingRow, 40u);  // left as it was
    EXPECT_EQ(Log(), "");                 // draws nothing
}

TEST_F(Screen, ScrollUpMovesRowsRepaintsOnceAndKeepsTheCursor) {
    FillRows();
    Put(23, 5);
    ScrollUp();
    EXPECT_EQ(CellAt(0, 0), 'B');
    EXPECT_EQ(CellAt(22, 79), 'X');
    EXPECT_EQ(RowText(23), "");
    EXPECT_EQ(terminal.row, 23);
    EXPECT_EQ(terminal.column, 5);
    EXPECT_FALSE(terminal.cursorShown);
    EXPECT_EQ(Log(), "RepaintAll");  // no hide first, one repaint
}

TEST_F(Screen, ScrollDownLosesTheLastRowAndDoesNotRepaint) {
    FillRows();
    ScrollDown();
    EXPECT_EQ(RowText(0), "");
    EXPECT_EQ(CellAt(1, 0), 'A');
    EXPECT_EQ(CellAt(23, 79), 'W');  // old row 22
    EXPECT_EQ(Log(), "");
}

TEST_F(Screen, EraseToEndOfLineBlanksFromTheCursorThenHidesThenDraws) {
    FillRows();
    Put(4, 0);
    EraseToEndOfLine();
    EXPECT_EQ(RowText(4), "");
    EXPECT_EQ(CellAt(3, 79), 'D');
    EXPECT_EQ(CellAt(5, 0), 'F');
    EXPECT_EQ(Log(), "Invert 4,0 | DrawRow 4");

    FillRows();
    Put(6, 79);
    EraseToEndOfLine();
    EXPECT_EQ(RowText(6), std::string(79, 'G'));
    EXPECT_EQ(Log(), "Invert 6,79 | DrawRow 6");
}

TEST_F(Screen, EraseToEndOfScreenBlanksTheRestAndDrawsEachRowInOrder) {
    FillRows();
    Put(23, 79);
    EraseToEndOfScreen();
    EXPECT_EQ(RowText(23), std::string(79, 'X'));
    EXPECT_EQ(Log(), "Invert 23,79 | DrawRow 23");

    FillRows();
    Put(21, 3);
    EraseToEndOfScreen();
    EXPECT_EQ(RowText(21), "VVV");
    EXPECT_EQ(RowText(22), "");
    EXPECT_EQ(RowText(20), std::string(80, 'U'));
    EXPECT_EQ(Log(), "Invert 21,3 | DrawRow 21 | DrawRow 22 | DrawRow 23");
}

TEST_F(Screen, EraseWithTheCursorHiddenDrawsWithoutInverting) {
    FillRows();
    terminal.row = 0;
    EraseToEndOfScreen();
    for (Cell cell : screen.cells) ASSERT_EQ(cell, 0x0020);
    EXPECT_EQ(display.log.size(), 24u);
    EXPECT_EQ(display.log.front(), "DrawRow 0");
    EXPECT_EQ(display.log.back(), "DrawRow 23");
}

TEST_F(Screen, HideCursorCallsTheDisplayOnlyWhenTheCursorIsShown) {
    HideCursor();
    EXPECT_EQ(Log(), "");
    Put(2, 3);
    HideCursor();
    HideCursor();
    EXPECT_EQ(Log(), "Invert 2,3");
    EXPECT_FALSE(terminal.cursorShown);
    EXPECT_EQ(display.InvertedCellCount(), 0);
}

}  // namespace

// A long seeded run of hostile bytes: whatever the host sends, the cursor
// stays on the screen, every cell holds something drawable, and cursorShown
// agrees with what the display has actually inverted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "core/output_queue.h"
#include "tests/support/feed.h"

namespace {

bool Drawable(Cell cell) {
    return (cell >= 0x20 && cell <= 0x7E) || cell == 0x2588 || cell == 0x2192 || cell == 0x2026 ||
           cell == 0x2193;
}

// Weighted towards the bytes that drive the state machine and its edges.
uint8_t NextByte(std::mt19937& random) {
    static const uint8_t controls[] = {8, 9, 10, 13};
    static const uint8_t commands[] = {'A', 'B', 'C', 'D', 'F', 'G', 'H', 'I',
                                       'J', 'K', 'Z', 'a', 'h', 'i', 'k'};
    static const uint8_t edges[] = {0, 31, 32, 55, 56, 57, 110, 111, 112, 127};
    unsigned pick = random() % 100;
    if (pick < 15) return 27;
    if (pick < 25) return 'Y';
    if (pick < 40) return controls[random() % sizeof controls];
    if (pick < 50) return edges[random() % sizeof edges];
    if (pick < 65) return commands[random() % sizeof commands];
    return uint8_t(random() % 128);
}

TEST(Stress, MillionsOfHostileBytesKeepTheModelSound) {
    unsigned seed = 20261207;
    if (const char* text = std::getenv("STRESS_SEED")) seed = unsigned(std::strtoul(text, nullptr, 10));
    std::mt19937 random(seed);
    ResetAll();
    display.logging = false;
    const long total = 1200000;
    long replies = 0;
    for (long i = 0; i < total; ++i) {
        InterpretByte(NextByte(random));
        ASSERT_TRUE(terminal.row >= 0 && terminal.row <= 23) << "byte " << i << " seed " << seed;
        ASSERT_TRUE(terminal.column >= 0 && terminal.column <= 79) << "byte " << i << " seed " << seed;
        ASSERT_EQ(terminal.cursorShown, display.inverted[terminal.row][terminal.column]) << "byte " << i;
        ASSERT_EQ(display.invertedCount, terminal.cursorShown ? 1 : 0) << "byte " << i;
        for (Cell cell : screen.cells) {
            if (!Drawable(cell)) FAIL() << "cell " << cell << " after byte " << i << " seed " << seed;
        }
        // Sometimes the line drains the queue, as writes complete.
        if (!outputQueue.IsEmpty() && random() % 4 == 0) {
            ASSERT_EQ(outputQueue.count, 3u);
            ASSERT_EQ(outputQueue.bytes[0], 27);
            outputQueue.count = 0;
            ++replies;
        }
        // Now and then the focused window shows the cursor, as the loop does.
        if (!terminal.cursorShown && random() % 8 == 0) ShowCursor();
    }
    EXPECT_GT(replies, 1000);
    EXPECT_GT(display.repaints, 1000);
}

// The block interpreter against the byte one, on the same hostile stream
// with text, floods of lines and bottom-row cursor addressing mixed in, cut into the same blocks: after
// every block the screen and terminal agree, and the same rows scrolled off.
TEST(Stress, BlocksEndAsByteByByteDoes) {
    std::mt19937 random(20261208);
    std::vector<uint8_t> stream;
    std::vector<unsigned> marks;
    static const uint8_t ends[] = {13, 10, 10, 10, 10, 10, 10, 9, 0, 127};
    while (stream.size() < 600000) {
        unsigned pick = random() % 10;
        if (pick < 4) stream.push_back(NextByte(random));
        if (pick == 3 && random() % 2 == 0) {
            // A full-screen program writing its last line, mostly, between line feeds.
            static const uint8_t rows[] = {55, 55, 55, 55 | 128, 54, 31, 56, 127};
            static const uint8_t moves[] = {'B', 'C', 'D', 'F', 'G', 'K', 'K', 'A', 'Z', 'H'};
            const uint8_t line[] = {27,
                                    'Y',
                                    rows[random() % sizeof rows],
                                    uint8_t(32 + random() % 90),
                                    'a',
                                    'k',
                                    8,
                                    27,
                                    moves[random() % sizeof moves],
                                    'x',
                                    27,
                                    'K',
                                    13,
                                    10};
            // Cut short now and then, and the block cut there: every state at a block's end.
            unsigned length = random() % 3 == 0 ? 4 + random() % (sizeof line - 4) : sizeof line;
            stream.insert(stream.end(), line, line + length);
            if (random() % 4 == 0) marks.push_back(unsigned(stream.size()));
        }
        for (unsigned n = pick < 4 ? 0 : random() % (pick < 7 ? 100 : 8000); n > 0; --n) {
            bool end = pick >= 7 && random() % 20 == 0;  // a flood of lines, some with bit 7 set
            uint8_t text = uint8_t(32 + random() % 95) | (random() & 128);
            stream.push_back(end ? ends[random() % sizeof ends] : text);
        }
    }
    std::vector<unsigned> cuts;
    for (size_t at = 0; at < stream.size(); at += 1 + random() % 8192) cuts.push_back(unsigned(at));
    cuts.push_back(unsigned(stream.size()));
    cuts.insert(cuts.end(), marks.begin(), marks.end());
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    std::vector<std::pair<ScreenBuffer, TerminalState>> byByte;
    std::vector<Cell> scrolledByByte, scrolled;
    ResetAll();
    display.logging = false;
    for (size_t b = 1; b < cuts.size(); ++b) {
        for (unsigned i = cuts[b - 1]; i < cuts[b]; ++i) {
            bool scrolls = terminal.row == LastRow && terminal.escapeState == EscapeState::Normal;
            if ((stream[i] & 0x7F) == 10 && scrolls) {
                scrolledByByte.insert(scrolledByByte.end(), screen.cells, screen.cells + ScreenColumns);
            }
            InterpretByte(stream[i]);
            outputQueue.count = 0;
        }
        if (!terminal.cursorShown && b % 3 == 0) ShowCursor();
        byByte.push_back({screen, terminal});
    }
    ResetAll();
    display.logging = false;
    auto keep = [](const Cell* row, void* into) {
        auto& rows = *static_cast<std::vector<Cell>*>(into);
        rows.insert(rows.end(), row, row + ScreenColumns);
    };
    for (size_t b = 1; b < cuts.size(); ++b) {
        for (unsigned i = cuts[b - 1]; i < cuts[b]; outputQueue.count = 0) {
            i += InterpretBytes(&stream[i], cuts[b] - i, keep, &scrolled);
            ASSERT_TRUE(i == cuts[b] || outputQueue.count == 3) << "stopped without a reply";
        }
        if (!terminal.cursorShown && b % 3 == 0) ShowCursor();
        const ScreenBuffer& cells = byByte[b - 1].first;
        const TerminalState& t = byByte[b - 1].second;
        ASSERT_EQ(std::memcmp(screen.cells, cells.cells, sizeof screen.cells), 0) << "block " << b;
        ASSERT_TRUE(terminal.row == t.row && terminal.column == t.column &&
                    terminal.cursorShown == t.cursorShown && terminal.escapeState == t.escapeState &&
                    terminal.graphicsMode == t.graphicsMode)
            << "block " << b;
    }
    EXPECT_GT(scrolled.size() / ScreenColumns, 10000u);
    EXPECT_TRUE(scrolled == scrolledByByte);
}

}  // namespace

// Throughput of the byte interpreter on typical host output.
#include <benchmark/benchmark.h>

#include <string>

#include "core/interpreter.h"
#include "core/screen.h"
#include "core/output_queue.h"

namespace {

void Run(benchmark::State& state, const std::string& stream) {
    ResetScreen();
    for (auto _ : state) {
        for (unsigned char b : stream) InterpretByte(b);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

// The same a block at a time, as the Unix program receives; scrolled rows
// go nowhere.
void RunBlocks(benchmark::State& state, const std::string& stream) {
    ResetScreen();
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(stream.data());
    unsigned count = unsigned(stream.size());
    for (auto _ : state) {
        for (unsigned i = 0; i < count; outputQueue.count = 0) {
            i += InterpretBytes(bytes + i, count - i, nullptr, nullptr);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

// Lines of text, each ended by CR, written without line feeds so nothing scrolls.
std::string PrintableText() {
    std::string s;
    for (int line = 0; line < 64; ++line) {
        for (int c = 0; c < 79; ++c) s += char(' ' + (line * 7 + c) % 95);
        s += '\r';
    }
    return s;
}

// What a full-screen editor sends: address a line, erase it, write it.
std::string EditorMix() {
    std::string s;
    for (int line = 0; line < 64; ++line) {
        int row = line % 24;
        s += "\x1bY";
        s += char(32 + row);
        s += char(32 + 4);
        s += "\x1bK";
        s += "    int value = compute(row, column); // comment " + std::to_string(line);
        if (line % 8 == 0) s += "\x1bH\x1bJ";
    }
    return s;
}

// Line feeds on the last row: every one scrolls the screen.
std::string Scrolling() {
    std::string s = "\x1bY\x37 ";
    for (int line = 0; line < 64; ++line) s += "scrolling output line\r\n";
    return s;
}

void BM_PrintableText(benchmark::State& state) { Run(state, PrintableText()); }
void BM_EditorMix(benchmark::State& state) { Run(state, EditorMix()); }
void BM_Scrolling(benchmark::State& state) { Run(state, Scrolling()); }

void BM_PrintableTextBlocks(benchmark::State& state) { RunBlocks(state, PrintableText()); }
void BM_EditorMixBlocks(benchmark::State& state) { RunBlocks(state, EditorMix()); }
void BM_ScrollingBlocks(benchmark::State& state) { RunBlocks(state, Scrolling()); }

BENCHMARK(BM_PrintableText);
BENCHMARK(BM_EditorMix);
BENCHMARK(BM_Scrolling);
BENCHMARK(BM_PrintableTextBlocks);
BENCHMARK(BM_EditorMixBlocks);
BENCHMARK(BM_ScrollingBlocks);

}  // namespace

BENCHMARK_MAIN();

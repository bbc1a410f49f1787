// Coverage-guided search for a recording that breaks its reader: a crash, a
// read outside the bytes, an event past the end, time going backwards, or a
// loop that does not move on, a line's label that finds no line. The header and the events are read as a
// replay reads them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "console/rules/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    RecordingHeader header;
    const char* problem = nullptr;
    unsigned long long offset = ReadRecordingHeader(bytes, size, &header, &problem);
    if (offset == 0) {
        if (problem == nullptr) std::abort();
        return 0;
    }
    if (offset > size || header.lines == 0 || header.lines > RecordingMaxLines) std::abort();
    // Each line is found by its label (the first of a label given twice).
    for (unsigned k = 0; k < header.lines; ++k) {
        int found = RecordingLineIndex(header, header.line[k].label);
        if (found < 0 || unsigned(found) > k) std::abort();
    }
    uint64_t time = 0;
    RecordEvent event;
    for (;;) {
        unsigned long long before = offset;
        uint64_t last = time;
        EventRead read = ReadEvent(bytes, size, &offset, header.lines, &time, &event);
        if (read != EventRead::Event) {
            if (offset != before || time != last) std::abort();
            break;
        }
        if (offset <= before || offset > size || time < last || event.line >= header.lines) std::abort();
        if (event.payload < bytes || event.payload + event.length > bytes + size) std::abort();
    }
    return 0;
}

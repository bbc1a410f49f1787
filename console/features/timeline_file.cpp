#include "console/features/timeline_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

bool TimelineFile::Open(const char* path, const Timeline& timeline, const LogFileMode& mode,
                        const LogRotation& rotation, char* problem, unsigned capacity) {
    Close();
    PlainFile opened = OpenLogFile(path, mode, true, &writer_.fd);
    if (opened == PlainFile::Failed) {
        std::snprintf(problem, capacity, "--timeline %s: cannot open it: %s", path, std::strerror(errno));
    } else if (opened != PlainFile::Opened) {
        std::snprintf(problem, capacity, "--timeline %s: %s (give a file, or /dev/null)", path,
                      PlainFileProblem(opened, 0));
    }
    if (opened != PlainFile::Opened) return false;
    writer_.Began(path, rotation, mode);
    next_ = timeline.End();
    failing_ = false;
    return true;
}

void TimelineFile::Take(const Timeline& timeline, const TimelineStyle& style, StampCache* cache) {
    if (next_ < timeline.Oldest()) next_ = timeline.Oldest();  // more than the ring in one pass: gone
    if (!Active()) {
        next_ = timeline.End();
        return;
    }
    char text[StampCapacity + 2 * TimelineTextMax + 1];
    for (; next_ < timeline.End(); ++next_) {
        unsigned length = FormatTimelineNumber(timeline, next_, style, text, sizeof text - 1, cache);
        text[length++] = '\n';
        for (unsigned i = 0; i < length; ++i) writer_.Put(uint8_t(text[i]));
    }
}

bool TimelineFile::WriteOut(char* problem, unsigned capacity) {
    if (writer_.TakeProblem(problem, capacity)) return true;  // a rotation failed
    bool wrote = writer_.length > 0;
    int failure = writer_.Flush();
    if (failure == 0) {
        if (wrote) failing_ = false;
        return false;
    }
    if (failing_) return false;
    failing_ = true;
    std::snprintf(problem, capacity, "--timeline %s: cannot write: %s (rows are lost to it until it can)",
                  writer_.Path(), std::strerror(failure));
    return true;
}

void TimelineFile::Close() {
    if (writer_.fd < 0) return;
    writer_.Flush();
    close(writer_.fd);
    writer_.fd = -1;
}

// --timeline FILE: the timeline's rows as a text log, one "STAMP LABEL
// TEXT" line each, as the timeline view shows them uncut. The file is
// opened to append and made as a log is (a regular file or /dev/null,
// never waited on, private: log_file.h). Rows gather in the writer's
// buffer; the caller writes them out once a pass. A failed write (a full
// disk) is said once until a later write-out goes through, and nothing
// stops: rows written while it fails are lost to the file only.
#ifndef BRISVANE_CONSOLE_TIMELINE_FILE_H
#define BRISVANE_CONSOLE_TIMELINE_FILE_H

#include <cstdint>

#include "console/features/log_file.h"
#include "console/rules/log_rotation.h"
#include "console/rules/timeline.h"

class TimelineFile {
public:
    TimelineFile() = default;
    TimelineFile(const TimelineFile&) = delete;
    TimelineFile& operator=(const TimelineFile&) = delete;
    ~TimelineFile() { Close(); }

    // Opens `path`; false with why in `problem` when it is refused. Rows
    // from `timeline`'s End() on are the file's.
    bool Open(const char* path, const Timeline& timeline, const LogFileMode& mode,
              const LogRotation& rotation, char* problem, unsigned capacity);
    bool Active() const { return writer_.fd >= 0; }

    // Formats the rows appended since the last call into the buffer.
    void Take(const Timeline& timeline, const TimelineStyle& style, StampCache* cache = nullptr);
    // Writes out what waits; true with `problem` when there is something to say.
    bool WriteOut(char* problem, unsigned capacity);
    // Writes out and closes (a failure then is not said).
    void Close();

private:
    LogWriter writer_;
    uint64_t next_ = 0;
    bool failing_ = false;
};

#endif

#include "console/program/stamps.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/program/session.h"
#include "console/features/plain_file.h"

bool StartStamps(Session& c, char* problem, unsigned capacity) {
    const ConsoleOptions& o = c.options;
    PlainFile marks = o.marksJson[0] != '\0' ? CheckPlainFile(o.marksJson, true) : PlainFile::Opened;
    if (marks != PlainFile::Opened) {
        std::snprintf(problem, capacity, "--marks-json %s: %s (give a file, or /dev/null)", o.marksJson,
                      PlainFileProblem(marks, errno));
        return false;
    }
    c.features.log.SetStamps(o.timestamps, o.stampStyle, o.stampSent);
    c.style.dump.gapMilliseconds = o.hexGap;
    for (unsigned i = 0; i < o.markCount; ++i) AddMark(c.features.marks, o.marks[i], o.markDeadlines[i]);
    return true;
}

void CycleStamps(Session& c) {
    if (!c.features.log.Active()) {
        Say(c.notice, "no text log to stamp (--log FILE)");
        return;
    }
    Say(c.notice, "log timestamps: %s", c.features.log.NextStamps());
}

void AddLastMark(const Session& c, char* text, unsigned capacity) {
    char mark[LabelCapacity + 64];
    FormatLastMark(c.features.marks, c.label, mark, sizeof mark);
    size_t used = std::strlen(text);
    if (mark[0] != '\0' && used + 1 < capacity)
        std::snprintf(text + used, capacity - used, " mark %s |", mark);
}

bool FinishStamps(Session& c, char* problem, unsigned capacity) {
    if (c.features.batch.on && c.features.marks.count > 0) PrintMarks(c.features.marks, c.label, stderr);
    if (c.options.marksJson[0] == '\0') return true;
    // The first line's file (the command line's) holds every line's marks;
    // a later line's own (its profile's) holds its own.
    LineMarks lines[LinesMax] = {{c.label, &c.features.marks}};
    unsigned count = 1;
    if (c.all != nullptr && c.all->count > 1 && c.all->lines[0] == &c) {
        for (count = 0; count < c.all->count; ++count)
            lines[count] = {c.all->lines[count]->label, &c.all->lines[count]->features.marks};
    }
    return WriteMarksJson(lines, count, c.options.marksJson, problem, capacity);
}

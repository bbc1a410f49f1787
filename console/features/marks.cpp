#include "console/features/marks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "console/features/plain_file.h"

namespace {

double Seconds(const struct timespec& from, const struct timespec& to) {
    double seconds = double(to.tv_sec - from.tv_sec) + double(to.tv_nsec - from.tv_nsec) / 1e9;
    return seconds < 0 ? 0 : seconds;
}

void Reach(Marks& marks, Mark& mark, const struct timespec& at) {
    if (!marks.started) StartMarks(marks, at);
    mark.reached = true;
    mark.seconds = Seconds(marks.start, at);
    mark.sincePrevious = mark.seconds - (marks.last >= 0 ? marks.marks[marks.last].seconds : 0);
    marks.last = int(&mark - marks.marks);
}

// The longest k < length with `tail` ending in the pattern's first k bytes.
unsigned Carried(const Mark& mark, const uint8_t* tail, unsigned tailLength) {
    for (unsigned k = tailLength < mark.length ? tailLength : mark.length - 1; k > 0; --k) {
        const uint8_t* from = tail + tailLength - k;
        if (from[0] == uint8_t(mark.pattern[0]) && std::memcmp(from, mark.pattern, k) == 0) return k;
    }
    return 0;
}

void Match(Marks& marks, Mark& mark, const uint8_t* text, unsigned count, const struct timespec& arrived) {
    // A pattern begun in the last block: its start and this block's first bytes.
    uint8_t window[2 * MarkTextCapacity];
    unsigned windowLength = 0;
    if (mark.matched > 0) {
        std::memcpy(window, mark.pattern, mark.matched);
        unsigned more = count < mark.length - 1 ? count : mark.length - 1;
        std::memcpy(window + mark.matched, text, more);
        windowLength = mark.matched + more;
        if (memmem(window, windowLength, mark.pattern, mark.length) != nullptr) {
            Reach(marks, mark, arrived);
            return;
        }
    }
    if (memmem(text, count, mark.pattern, mark.length) != nullptr) {
        Reach(marks, mark, arrived);
        return;
    }
    if (count >= mark.length - 1 || windowLength == 0) {
        mark.matched = Carried(mark, text, count);
    } else {
        mark.matched = Carried(mark, window, windowLength);
    }
}

void JsonString(FILE* out, const char* text) {
    std::fputc('"', out);
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text); *at != 0; ++at) {
        if (*at == '"' || *at == '\\') {
            std::fprintf(out, "\\%c", *at);
        } else if (*at < 0x20 || *at >= 0x7F) {
            std::fprintf(out, "\\u%04x", *at);
        } else {
            std::fputc(*at, out);
        }
    }
    std::fputc('"', out);
}

// {"line": ..., "name": ...}: one mark's fields and its closing brace.
void WriteMark(FILE* out, const char* label, const Mark& mark) {
    if (label[0] != '\0') {
        std::fputs("\"line\": ", out);
        JsonString(out, label);
        std::fputs(", ", out);
    }
    std::fputs("\"name\": ", out);
    JsonString(out, mark.name);
    std::fputs(", \"pattern\": ", out);
    if (mark.pattern[0] != '\0') {
        JsonString(out, mark.pattern);
    } else {
        std::fputs("null", out);
    }
    if (mark.reached) {
        std::fprintf(out, ", \"seconds\": %.6f, \"since_previous\": %.6f}", mark.seconds, mark.sincePrevious);
    } else {
        std::fputs(", \"seconds\": null, \"since_previous\": null}", out);
    }
}

}  // namespace

bool AddMark(Marks& marks, const char* pattern, double deadline) {
    size_t length = std::strlen(pattern);
    if (length == 0 || length >= MarkTextCapacity || marks.count == MaxMarks) return false;
    Mark& mark = marks.marks[marks.count++];
    std::memset(&mark, 0, sizeof mark);
    std::memcpy(mark.name, pattern, length + 1);
    std::memcpy(mark.pattern, pattern, length + 1);
    mark.length = unsigned(length);
    mark.deadline = deadline;
    ++marks.pending;
    return true;
}

void StartMarks(Marks& marks, const struct timespec& at) {
    if (marks.started) return;
    marks.started = true;
    marks.start = at;
}

void MatchPending(Marks& marks, const uint8_t* text, unsigned count, const struct timespec& arrived) {
    for (unsigned i = 0; i < marks.count; ++i) {
        Mark& mark = marks.marks[i];
        if (mark.reached || mark.length == 0) continue;
        Match(marks, mark, text, count, arrived);
        if (mark.reached) --marks.pending;
    }
}

bool ReachMark(Marks& marks, const char* name, const struct timespec& at) {
    if (marks.count == MaxMarks) return false;
    Mark& mark = marks.marks[marks.count++];
    std::memset(&mark, 0, sizeof mark);
    std::snprintf(mark.name, sizeof mark.name, "%s", name);
    Reach(marks, mark, at);
    return true;
}

void FormatLastMark(const Marks& marks, const char* label, char* text, unsigned capacity) {
    if (marks.last < 0) {
        text[0] = '\0';
        return;
    }
    const Mark& mark = marks.marks[marks.last];
    std::snprintf(text, capacity, "%s%s%.40s %.3f s", label, label[0] != '\0' ? ": " : "", mark.name,
                  mark.seconds);
}

void PrintMarks(const Marks& marks, const char* label, FILE* out) {
    const char* colon = label[0] != '\0' ? ": " : "";
    for (unsigned i = 0; i < marks.count; ++i) {
        const Mark& mark = marks.marks[i];
        char late[48] = "";
        if (MarkMissed(mark)) std::snprintf(late, sizeof late, ", late: due by %g s", mark.deadline);
        if (mark.reached) {
            std::fprintf(out, "brisvane: mark %s%s'%s' %.3f s (+%.3f s)%s\n", label, colon, mark.name,
                         mark.seconds, mark.sincePrevious, late);
        } else {
            std::fprintf(out, "brisvane: mark %s%s'%s' not reached%s\n", label, colon, mark.name, late);
        }
    }
}

bool WriteMarksJson(const LineMarks* lines, unsigned count, const char* path, char* problem,
                    unsigned capacity) {
    // Opened without waiting: what was not a plain file at start may be one now.
    int fd;
    PlainFile opened = OpenPlainFile(path, O_WRONLY | O_CREAT | O_TRUNC, true, &fd);
    if (opened != PlainFile::Opened) {
        std::snprintf(problem, capacity, "--marks-json %s: %s", path, PlainFileProblem(opened, errno));
        return false;
    }
    FILE* out = fdopen(fd, "w");
    if (out == nullptr) {
        std::snprintf(problem, capacity, "--marks-json %s: %s", path, std::strerror(errno));
        close(fd);
        return false;
    }
    std::fputs("[", out);
    unsigned written = 0;
    for (unsigned n = 0; n < count; ++n) {
        for (unsigned i = 0; i < lines[n].marks->count; ++i) {
            std::fputs(written++ == 0 ? "\n  {" : ",\n  {", out);
            WriteMark(out, lines[n].label, lines[n].marks->marks[i]);
        }
    }
    std::fputs(written > 0 ? "\n]\n" : "]\n", out);
    bool failed = std::ferror(out) != 0;
    if (std::fclose(out) != 0 || failed) {
        std::snprintf(problem, capacity, "--marks-json %s: %s", path, std::strerror(errno));
        return false;
    }
    return true;
}

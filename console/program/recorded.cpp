#include "console/program/recorded.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "console/program/console.h"
#include "console/program/send.h"
#include "console/program/served.h"
#include "core/screen.h"

namespace {

RecordSource SourceOf(SendSource source) {
    switch (source) {
        case SendSource::Key:
        case SendSource::HexInput:
        case SendSource::BatchInput: return RecordSource::Key;
        case SendSource::Paste: return RecordSource::Paste;
        case SendSource::Script:
        case SendSource::ScriptRaw: return RecordSource::Script;
        case SendSource::WebKey:
        case SendSource::WebPaste: return RecordSource::Page;
        case SendSource::ShareClient:
        case SendSource::Attached:
        case SendSource::AttachedTyped:
        case SendSource::AttachedText: return RecordSource::Client;
        default: return RecordSource::Other;
    }
}

}  // namespace

bool StartRecording(Console& c, const char* version, char* message, unsigned capacity, bool* usage) {
    *usage = false;
    if (c.options.recordPath[0] == '\0') return true;
    RecordingHeader header = {};
    std::snprintf(header.program, sizeof header.program, "brisvane %s", version);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm utc;
    char when[32] = "";
    if (gmtime_r(&now.tv_sec, &utc) != nullptr) strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(header.started, sizeof header.started, "%s.%06ldZ", when, long(now.tv_nsec / 1000));
    header.lines = 1;
    std::snprintf(header.line[0].label, sizeof header.line[0].label, "line");
    std::snprintf(header.line[0].settings, sizeof header.line[0].settings, "%.63s", c.options.settingsText);
    std::snprintf(header.line[0].device, sizeof header.line[0].device, "%.255s",
                  c.options.device[0] != '\0' ? c.options.device : c.options.attach);
    header.maps = c.options.maps;
    header.ansiHidden = !c.options.ansiShown;
    header.sevenBit = c.options.sevenBit;
    int error = 0;
    PlainFile opened =
        c.features.recorder.Open(c.options.recordPath, header, {c.options.logMaxBytes, c.options.logKeep},
                                 ServedLogMode(c.options), &error);
    if (opened == PlainFile::Opened) return true;
    *usage = opened != PlainFile::Failed;
    std::snprintf(message, capacity, "--record %s: %s", c.options.recordPath,
                  PlainFileProblem(opened, error));
    return false;
}

void RecordSent(Console& c, SendSource source, const uint8_t* bytes, unsigned count) {
    c.features.recorder.Sent(SourceOf(source), 0, bytes, count);
}

void RecordWritten(Console& c, RecordSource source, const uint8_t* bytes, unsigned count) {
    c.features.recorder.Sent(source, 0, bytes, count);
}

void RecordText(Console& c, RecordKind kind, const char* text) { c.features.recorder.Text(kind, 0, text); }

void RecordLineControl(Console& c, RecordControl control, bool on) {
    const uint8_t payload[2] = {uint8_t(control), uint8_t(on ? 1 : 0)};
    c.features.recorder.Event(RecordKind::Control, 0, payload, 2);
}

void RecordPass(Console& c) {
    Recorder& r = c.features.recorder;
    if (!r.Active()) return;
    const Marks& marks = c.features.marks;
    for (unsigned i = 0; i < marks.count && i < 32; ++i) {
        if (marks.marks[i].reached && (c.features.recordedMarks & (1u << i)) == 0) {
            c.features.recordedMarks |= 1u << i;
            r.Text(RecordKind::Mark, 0, marks.marks[i].name);
        }
    }
    r.WriteOut();
    char text[NoticeCapacity];
    if (r.TakeProblem(text, sizeof text)) Say(c.notice, "%s", text);
}

int ReplayRecording(Console& c) {
    const char* path = c.options.replayPath;
    int fd = -1;
    PlainFile opened = OpenPlainFile(path, O_RDONLY, false, &fd);
    if (opened != PlainFile::Opened) {
        std::fprintf(stderr, "brisvane: --replay %s: %s\n", path, PlainFileProblem(opened, errno));
        return opened == PlainFile::Failed ? 1 : 2;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || status.st_size < 0) {
        std::fprintf(stderr, "brisvane: --replay %s: %s\n", path, std::strerror(errno));
        close(fd);
        return 1;
    }
    unsigned long long size = (unsigned long long)status.st_size;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size + 1]);
    unsigned long long got = 0;
    while (bytes && got < size) {
        ssize_t n = read(fd, bytes.get() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += (unsigned long long)n;
    }
    close(fd);
    if (!bytes) {
        std::fprintf(stderr, "brisvane: --replay %s: no memory for %llu bytes\n", path, size);
        return 1;
    }
    RecordingHeader header;
    const char* problem = "";
    unsigned long long offset = ReadRecordingHeader(bytes.get(), got, &header, &problem);
    if (offset == 0) {
        std::fprintf(stderr, "brisvane: --replay %s: %s\n", path, problem);
        return 2;
    }
    c.style.maps = header.maps;
    c.ansi.hide = header.ansiHidden;
    c.options.sevenBit = header.sevenBit;
    c.chain.screen.answers = false;  // nothing goes anywhere: this is a picture
    ResetScreen();
    uint64_t at = c.options.replayAt < 0 ? UINT64_MAX : uint64_t(c.options.replayAt * 1e6 + 0.5);
    uint64_t time = 0, last = 0;
    bool pastEnd = false;
    RecordEvent event;
    EventRead read;
    struct timespec arrived = {};
    while ((read = ReadEvent(bytes.get(), got, &offset, header.lines, &time, &event)) == EventRead::Event) {
        if (event.time > at) {
            pastEnd = false;
            break;
        }
        pastEnd = true;
        last = event.time;
        if (event.kind == RecordKind::Received && event.line == 0) {
            ReceiveBlock(c.chain, event.payload, event.length, arrived);
        }
    }
    if (read == EventRead::Torn || read == EventRead::Broken) {
        std::fprintf(stderr,
                     "brisvane: --replay %s: the recording %s at byte %llu (%.3f s): shown up to there\n",
                     path, read == EventRead::Torn ? "ends in an event cut short" : "is broken", offset,
                     double(last) / 1e6);
    } else if (c.options.replayAt >= 0 && pastEnd && read == EventRead::End && at > last) {
        std::fprintf(stderr, "brisvane: --replay %s: the recording ends at %.3f s: its last screen\n", path,
                     double(last) / 1e6);
    }
    PrintScreen(c.ui.display, screen.cells, stdout, true);
    return 0;
}

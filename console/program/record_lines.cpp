#include "console/program/record_lines.h"

#include <cstdio>
#include <ctime>

#include "console/program/served.h"
#include "console/program/session.h"

namespace {

// A line's part of a recording's header: its label, settings and device.
void DescribeLine(const Session& s, RecordingHeader::Line* line) {
    std::snprintf(line->label, sizeof line->label, "%s", s.label[0] != '\0' ? s.label : "line");
    std::snprintf(line->settings, sizeof line->settings, "%.63s", s.options.settingsText);
    std::snprintf(line->device, sizeof line->device, "%.255s",
                  s.options.device[0] != '\0' ? s.options.device : s.options.attach);
}

bool OpenRecording(std::unique_ptr<Session>* lines, unsigned count, unsigned which, const char* version,
                   char* message, unsigned capacity, bool* usage) {
    Session& c = *lines[which];
    RecordingHeader header = {};
    std::snprintf(header.program, sizeof header.program, "brisvane %s", version);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm utc;
    char when[32] = "";
    if (gmtime_r(&now.tv_sec, &utc) != nullptr) strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(header.started, sizeof header.started, "%s.%06ldZ", when, long(now.tv_nsec / 1000));
    // The first line's file holds every line that names no file of its own.
    for (unsigned i = which; i < count && header.lines < RecordingMaxLines; ++i) {
        Session& s = *lines[i];
        if (i != which && (which != 0 || s.options.recordPath[0] != '\0')) continue;
        RecordingHeader::Line& line = header.line[header.lines];
        DescribeLine(s, &line);
        // A later line that draws otherwise than the first says how.
        line.maps = s.options.maps;
        line.ansiHidden = !s.options.ansiShown;
        line.sevenBit = s.options.sevenBit;
        line.drawn = line.maps != c.options.maps || line.ansiHidden != !c.options.ansiShown ||
                     line.sevenBit != c.options.sevenBit;
        s.features.recording = &c.features.recorder;
        s.features.recordedLine = uint8_t(header.lines++);
    }
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

}  // namespace

bool StartRecordings(std::unique_ptr<Session>* lines, unsigned count, const char* version, char* message,
                     unsigned capacity, bool* usage) {
    *usage = false;
    for (unsigned i = 0; i < count; ++i) {
        if (lines[i]->options.recordPath[0] == '\0') continue;
        if (!OpenRecording(lines, count, i, version, message, capacity, usage)) return false;
    }
    return true;
}

int64_t RecordedLinesDue(const Session& c) {
    return c.features.recording->Active() && c.link.state == LinkState::Open ? c.features.recordedPollAt
                                                                             : NoDeadline;
}

Reaction PollRecordedLines(Session& c, int64_t now) {
    const int64_t Every = 100;  // ms: a change is in the recording within it, at its time give or take
    c.features.recordedPollAt = now + Every;
    Recorder& r = *c.features.recording;
    ModemLines modem = {};
    if (c.link.line->ReadModemLines(&modem) == ControlResult::Done) {
        int bits =
            (modem.cts ? 0x10 : 0) | (modem.dsr ? 0x20 : 0) | (modem.ri ? 0x40 : 0) | (modem.dcd ? 0x80 : 0);
        if (bits != c.features.recordedModem) {
            c.features.recordedModem = bits;
            const uint8_t payload = uint8_t(bits);
            r.Event(RecordKind::Modem, c.features.recordedLine, &payload, 1);
        }
    }
    LineErrorCounts errors = {};
    LineErrorCounts& was = c.features.recordedErrors;
    if (c.link.line->ReadErrorCounts(&errors) == ControlResult::Done &&
        (errors.framing != was.framing || errors.overrun != was.overrun || errors.parity != was.parity ||
         errors.breaks != was.breaks)) {
        was = errors;
        char text[96];
        std::snprintf(text, sizeof text, "framing %u overrun %u parity %u break %u", unsigned(errors.framing),
                      unsigned(errors.overrun), unsigned(errors.parity), unsigned(errors.breaks));
        r.Text(RecordKind::Errors, c.features.recordedLine, text);
    }
    return Nothing;
}

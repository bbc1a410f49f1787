#include "console/program/recorded.h"

#include "console/screen/display.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "console/program/session.h"
#include "console/program/prompt.h"
#include "console/rules/cast.h"
#include "console/rules/snapshot.h"
#include "console/rules/wire.h"
#include "core/screen.h"

void RecordWritten(Session& c, RecordSource source, const uint8_t* bytes, unsigned count) {
    c.features.recording->Sent(source, c.features.recordedLine, bytes, count);
}

void RecordText(Session& c, RecordKind kind, const char* text) {
    if (kind == RecordKind::Up) c.features.recordedModem = -1;  // the inputs again, as they are now
    c.features.recording->Text(kind, c.features.recordedLine, text);
}

void RecordLineControl(Session& c, RecordControl control, bool on) {
    const uint8_t payload[2] = {uint8_t(control), uint8_t(on ? 1 : 0)};
    c.features.recording->Event(RecordKind::Control, c.features.recordedLine, payload, 2);
}

namespace {

const uint64_t SnapshotEvery = 2u << 20;  // received bytes between two snapshots

// The screen and chain state now, as a Snapshot event's payload.
std::string SnapshotPayload(Session& c) {
    std::string payload(8, '\0');
    uint64_t rows = c.ui.history.End();
    for (int i = 0; i < 8; ++i) payload[size_t(i)] = char(rows >> (56 - 8 * i));
    static History none;  // no rows: a seek fills the history by replaying
    SnapshotCursor cursor;
    BeginSnapshot(cursor, none, {&c.ansi, &c.style.map, &c.style.maps});
    uint8_t block[16384];
    unsigned n;
    while ((n = FillSnapshot(cursor, none, block, sizeof block)) > 0)
        payload.append(reinterpret_cast<char*>(block), n);
    return payload;
}

}  // namespace

void RecordPass(Session& c) {
    Recorder& r = *c.features.recording;
    if (!r.Active()) return;
    if (c.counters.received >= c.features.recordedSnapshotAt + SnapshotEvery) {
        c.features.recordedSnapshotAt = c.counters.received;
        std::string payload = SnapshotPayload(c);
        r.Event(RecordKind::Snapshot, c.features.recordedLine,
                reinterpret_cast<const uint8_t*>(payload.data()), unsigned(payload.size()));
    }
    const Marks& marks = c.features.marks;
    for (unsigned i = 0; i < marks.count && i < 32; ++i) {
        if (marks.marks[i].reached && (c.features.recordedMarks & (1u << i)) == 0) {
            c.features.recordedMarks |= 1u << i;
            r.Text(RecordKind::Mark, c.features.recordedLine, marks.marks[i].name);
        }
    }
    r.WriteOut();
    char text[NoticeCapacity];
    if (r.TakeProblem(text, sizeof text)) Say(c.notice, "%s", text);
}

namespace {

// A recording read whole, its header taken apart: false with the message
// said and *status the exit status.
struct Loaded {
    std::unique_ptr<uint8_t[]> bytes;
    unsigned long long size = 0, events = 0;
    RecordingHeader header;
    uint8_t shown = 0;  // the line shown: --input's, else the first
};

bool Load(const char* option, const char* path, const char* label, Loaded* loaded, int* status) {
    int fd = -1;
    PlainFile opened = OpenPlainFile(path, O_RDONLY, false, &fd);
    if (opened != PlainFile::Opened) {
        std::fprintf(stderr, "brisvane: %s %s: %s\n", option, path, PlainFileProblem(opened, errno));
        *status = opened == PlainFile::Failed ? 1 : 2;
        return false;
    }
    struct stat status_;
    if (fstat(fd, &status_) != 0 || status_.st_size < 0) {
        std::fprintf(stderr, "brisvane: %s %s: %s\n", option, path, std::strerror(errno));
        close(fd);
        *status = 1;
        return false;
    }
    unsigned long long size = (unsigned long long)status_.st_size;
    loaded->bytes.reset(new (std::nothrow) uint8_t[size + 1]);
    unsigned long long got = 0;
    while (loaded->bytes && got < size) {
        ssize_t n = read(fd, loaded->bytes.get() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += (unsigned long long)n;
    }
    close(fd);
    if (!loaded->bytes) {
        std::fprintf(stderr, "brisvane: %s %s: no memory for %llu bytes\n", option, path, size);
        *status = 1;
        return false;
    }
    loaded->size = got;
    const char* problem = "";
    loaded->events = ReadRecordingHeader(loaded->bytes.get(), got, &loaded->header, &problem);
    if (loaded->events == 0) {
        std::fprintf(stderr, "brisvane: %s %s: %s\n", option, path, problem);
        *status = 2;
        return false;
    }
    int shown = RecordingLineIndex(loaded->header, label);
    if (shown < 0) {
        std::fprintf(stderr, "brisvane: --input %s: the recording %s has no line of that label\n", label,
                     path);
        *status = 2;
        return false;
    }
    loaded->shown = uint8_t(shown);
    ShowRecordedLine(&loaded->header, loaded->shown);
    return true;
}

// A local clock time (seconds after midnight) as seconds after the
// recording's start (UTC in its header): on the start's own day, or the
// next one when the time is earlier than the start.
bool ClockToSeconds(const char* started, double clock, double* seconds) {
    struct tm utc = {};
    double fraction = 0;
    int used = 0;
    if (std::sscanf(started, "%d-%d-%dT%d:%d:%d%n", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec, &used) != 6)
        return false;
    if (started[used] == '.') fraction = std::strtod(started + used, nullptr);
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    time_t start = timegm(&utc);
    struct tm local;
    if (start == time_t(-1) || localtime_r(&start, &local) == nullptr) return false;
    local.tm_hour = int(clock / 3600);
    local.tm_min = int(clock / 60) % 60;
    local.tm_sec = int(clock) % 60;
    local.tm_isdst = -1;
    time_t then = mktime(&local);
    if (then == time_t(-1)) return false;
    double at = double(then - start) + (clock - double(int(clock))) - fraction;
    if (at < -1) at += 86400;  // after midnight
    *seconds = at > 0 ? at : 0;
    return true;
}

// The screen as the live session drew it: its maps and ANSI rule.
void FreshScreen(Session& c, const RecordingHeader& header) {
    c.style.maps = header.maps;
    c.ansi.hide = header.ansiHidden;
    c.options.sevenBit = header.sevenBit;
    c.chain.screen.answers = false;  // nothing goes anywhere: this is a picture
    ResetScreen();
}

void SayWhereItStopped(const char* option, const char* path, EventRead read, unsigned long long offset,
                       uint64_t last) {
    if (read != EventRead::Torn && read != EventRead::Broken) return;
    std::fprintf(stderr, "brisvane: %s %s: the recording %s at byte %llu (%.3f s): shown up to there\n",
                 option, path, read == EventRead::Torn ? "ends in an event cut short" : "is broken", offset,
                 double(last) / 1e6);
}

// Restores a Snapshot event's screen and chain state; false when it does
// not parse (the replay then goes on from where it stood). *rows: the live
// history's row count at it.
bool RestoreRecordedSnapshot(Session& c, const RecordEvent& event, uint64_t* rows) {
    if (event.length < 8) return false;
    uint64_t count = 0;
    for (int i = 0; i < 8; ++i) count = count << 8 | event.payload[i];
    static History scratch;
    std::unique_ptr<WireDecoder> decoder(new WireDecoder());
    SnapshotRestore restore;
    unsigned done = 8;
    while (done < event.length || decoder->Pending() > 0) {
        done += decoder->Feed(event.payload + done, event.length - done);
        WireMessage message;
        const char* problem = nullptr;
        WireStatus status = decoder->Next(&message, &problem);
        if (status != WireStatus::Message) return false;
        if (!RestoreSnapshot(restore, message, scratch, {&c.ansi, &c.style.map, &c.style.maps})) return false;
        if (restore.complete) break;
    }
    *rows = count;
    return restore.complete;
}

// Where to start drawing `time` from: the last snapshot at or before it
// (its offset, its time, the live history's rows then), going back further
// while fewer than `historyRows` rows lie between, so the history comes out
// whole. Offset 0: from the start.
struct Start {
    unsigned long long offset = 0;  // the snapshot event's own offset
    uint64_t clock = 0;             // the time before it
};

Start SnapshotBefore(const uint8_t* bytes, unsigned long long size, unsigned long long events, unsigned lines,
                     uint8_t line, uint64_t time, uint32_t historyRows) {
    struct Seen {
        unsigned long long offset;
        uint64_t clock, rows;
    };
    std::vector<Seen> seen;
    unsigned long long offset = events;
    uint64_t clock = 0;
    RecordEvent event;
    for (;;) {
        unsigned long long at = offset;
        uint64_t before = clock;
        if (ReadEvent(bytes, size, &offset, lines, &clock, &event) != EventRead::Event || event.time > time)
            break;
        if (event.kind == RecordKind::Snapshot && event.line == line && event.length >= 8) {
            uint64_t rows = 0;
            for (int i = 0; i < 8; ++i) rows = rows << 8 | event.payload[i];
            seen.push_back({at, before, rows});
        }
    }
    if (seen.empty()) return {};
    size_t k = seen.size() - 1;
    size_t j = k;
    while (j > 0 && seen[k].rows - seen[j].rows < historyRows) --j;
    if (seen[k].rows - seen[j].rows < historyRows && historyRows > 0 && seen[j].rows < historyRows) return {};
    return {seen[j].offset, seen[j].clock};
}

}  // namespace

int ReplayRecording(Session& c) {
    const char* path = c.options.replayPath;
    Loaded loaded;
    int status = 0;
    if (!Load("--replay", path, c.options.inputLabel, &loaded, &status)) return status;
    const RecordingHeader& header = loaded.header;
    unsigned long long offset = loaded.events;
    FreshScreen(c, header);
    if (c.options.replayClock >= 0 &&
        !ClockToSeconds(header.started, c.options.replayClock, &c.options.replayAt)) {
        std::fprintf(stderr,
                     "brisvane: --replay %s: the recording's start time is unknown: give --at in seconds\n",
                     path);
        return 2;
    }
    uint64_t at = c.options.replayAt < 0 ? UINT64_MAX : uint64_t(c.options.replayAt * 1e6 + 0.5);
    uint64_t time = 0, last = 0;
    bool pastEnd = false;
    // Only the screen is printed: the last snapshot before the time will do.
    Start start =
        SnapshotBefore(loaded.bytes.get(), loaded.size, loaded.events, header.lines, loaded.shown, at, 0);
    if (start.offset != 0) {
        offset = start.offset;
        time = start.clock;
    }
    RecordEvent event;
    EventRead read;
    struct timespec arrived = {};
    while ((read = ReadEvent(loaded.bytes.get(), loaded.size, &offset, header.lines, &time, &event)) ==
           EventRead::Event) {
        if (event.time > at) {
            pastEnd = false;
            break;
        }
        pastEnd = true;
        last = event.time;
        uint64_t rows;
        if (event.kind == RecordKind::Received && event.line == loaded.shown) {
            ReceiveBlock(c.chain, event.payload, event.length, arrived);
        } else if (event.kind == RecordKind::Snapshot && event.line == loaded.shown && start.offset != 0) {
            start.offset = 0;                                 // the one it starts from
            if (!RestoreRecordedSnapshot(c, event, &rows)) {  // from the very start, then
                FreshScreen(c, header);
                offset = loaded.events;
                time = 0;
            }
        }
    }
    SayWhereItStopped("--replay", path, read, offset, last);
    if (c.options.replayAt >= 0 && pastEnd && read == EventRead::End && at > last) {
        std::fprintf(stderr, "brisvane: --replay %s: the recording ends at %.3f s: its last screen\n", path,
                     double(last) / 1e6);
    }
    Display display;  // only its rules for the graphics cells: nothing is drawn
    PrintScreen(display, screen.cells, stdout, true);
    return 0;
}

int ExportCast(Session& c) {
    const char* path = c.options.castPath;
    Loaded loaded;
    int status = 0;
    if (!Load("--export-cast", path, c.options.inputLabel, &loaded, &status)) return status;
    FreshScreen(c, loaded.header);
    struct tm started = {};
    long long timestamp = 0;
    if (sscanf(loaded.header.started, "%d-%d-%dT%d:%d:%d", &started.tm_year, &started.tm_mon,
               &started.tm_mday, &started.tm_hour, &started.tm_min, &started.tm_sec) == 6) {
        started.tm_year -= 1900;
        started.tm_mon -= 1;
        timestamp = (long long)timegm(&started);
    }
    std::string out = CastHeader(timestamp);
    std::unique_ptr<Cell[]> shown(new Cell[ScreenCells]);
    bool drawn = false;
    int row = -1, column = -1;
    uint64_t time = 0, last = 0, frameAt = 0;
    bool pending = false;
    unsigned long long offset = loaded.events;
    RecordEvent event;
    EventRead read;
    struct timespec arrived = {};
    // A frame after each burst: when the next event is a frame's time away,
    // or every 100 ms during a flood.
    auto frame = [&](uint64_t at) {
        bool moved = terminal.row != row || terminal.column != column;
        std::string drawing =
            CastFrame(drawn ? shown.get() : nullptr, screen.cells, terminal.row, terminal.column, moved);
        if (!drawing.empty()) out += CastLine(double(at) / 1e6, "o", drawing);
        std::memcpy(shown.get(), screen.cells, sizeof screen.cells);
        drawn = true;
        row = terminal.row;
        column = terminal.column;
        pending = false;
        frameAt = at;
    };
    while ((read = ReadEvent(loaded.bytes.get(), loaded.size, &offset, loaded.header.lines, &time, &event)) ==
           EventRead::Event) {
        if (pending && (event.time - last > 16667 || event.time - frameAt >= 100000)) frame(last);
        last = event.time;
        if (event.line != loaded.shown) continue;
        if (event.kind == RecordKind::Received) {
            ReceiveBlock(c.chain, event.payload, event.length, arrived);
            pending = true;
        } else if (event.kind == RecordKind::Mark) {
            out += CastLine(double(event.time) / 1e6, "m",
                            std::string(reinterpret_cast<const char*>(event.payload), event.length));
        }
        if (out.size() > (1u << 20)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    if (pending || !drawn) frame(last);
    SayWhereItStopped("--export-cast", path, read, offset, last);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

bool MakeReplayLine(Session& c, std::shared_ptr<ReplayTape> tape, unsigned index) {
    std::unique_ptr<ReplayLine> line(new ReplayLine(std::move(tape), index, c.label));
    c.link.replay = line.get();
    c.link.line = std::move(line);
    std::snprintf(c.options.device, sizeof c.options.device, "%.*s", int(sizeof c.options.device - 1),
                  c.link.line->Name());
    return true;
}

void ReplayOpened(Session& c) {
    if (c.link.replay == nullptr) return;
    const RecordingHeader& header = c.link.replay->Header();
    c.style.maps = header.maps;
    c.ansi.hide = header.ansiHidden;
    c.options.sevenBit = header.sevenBit;
    c.chain.screen.answers = false;  // nobody hears a recording's answers
}

namespace {

bool Replaying(Session& c) {
    if (c.link.replay != nullptr) return true;
    Say(c.notice, "only a replay (--replay) has a time to move in");
    return false;
}

// That moment's screen and history, drawn afresh: from the last snapshot
// far enough back for the history to come out whole, else from the start.
// The chain's sinks (logs, captures) are left out: they had these bytes.
void Seek(Session& c, uint64_t time) {
    ReplayLine& replay = *c.link.replay;
    replay.SeekTo(time);
    const RecordingHeader& header = replay.Header();
    FreshScreen(c, header);
    c.ui.history.Allocate(c.ui.history.Capacity());
    c.ui.view.open = false;
    c.ansi.stage = AnsiFilter::Stage::Ground;  // a stream from its start
    c.ansi.follow = AnsiFilter::Follow::Normal;
    c.ansi.intermediates = false;
    c.ansi.heldCount = 0;
    unsigned rawSinks = c.chain.rawCount, textSinks = c.chain.textCount;
    c.chain.rawCount = c.chain.textCount = 0;
    Start start = SnapshotBefore(replay.Bytes(), replay.Size(), replay.FirstEvent(), header.lines,
                                 replay.Shown(), replay.Position(), c.ui.history.Capacity());
    unsigned long long offset = start.offset != 0 ? start.offset : replay.FirstEvent();
    uint64_t clock = start.clock, rows;
    RecordEvent event;
    struct timespec arrived = {};
    while (offset < replay.Next() && ReadEvent(replay.Bytes(), replay.Size(), &offset, header.lines, &clock,
                                               &event) == EventRead::Event) {
        if (event.line != replay.Shown()) continue;
        if (event.kind == RecordKind::Received) {
            ReceiveBlock(c.chain, event.payload, event.length, arrived);
        } else if (event.kind == RecordKind::Snapshot && start.offset != 0) {
            start.offset = 0;
            if (!RestoreRecordedSnapshot(c, event, &rows)) {  // then from the very start
                FreshScreen(c, header);
                offset = replay.FirstEvent();
                clock = 0;
            }
        }
    }
    c.chain.rawCount = rawSinks;
    c.chain.textCount = textSinks;
    c.chain.screen.answers = false;
    c.ui.redraw = true;
    Say(c.notice, "replay at %.1f s of %.1f s", double(replay.Position()) / 1e6,
        double(replay.Length()) / 1e6);
}

// Every line of the replay to `time`, each its own screen then; the line
// the core held before is its again after.
void SeekAll(Session& c, uint64_t time) {
    const LineTable* all = c.all;
    if (all == nullptr || all->current == nullptr || all->count < 2) {
        Seek(c, time);
        return;
    }
    Session* was = *all->current;
    for (unsigned i = 0; i < all->count; ++i) {
        Session& s = *all->lines[i];
        if (s.link.replay == nullptr || s.link.state != LinkState::Open) continue;
        EnterLine(all->current, s);
        Seek(s, time);
    }
    if (was != nullptr) EnterLine(all->current, *was);
}

const uint64_t Step = 10000000;  // 10 s

}  // namespace

Reaction ReplayPause(Session& c, int64_t) {
    if (!Replaying(c)) return Nothing;
    ReplayHold(c, !c.link.replay->Paused());
    return Nothing;
}

void ReplayHold(Session& c, bool paused) {
    if (c.link.replay == nullptr) return;
    const LineTable* all = c.all;
    for (unsigned i = 0; all != nullptr && i < all->count; ++i) {
        Session& s = *all->lines[i];
        if (s.link.replay != nullptr && &s != &c) s.link.replay->Pause(paused);
    }
    c.link.replay->Pause(paused);
    Say(c.notice, "replay %s at %.1f s", paused ? "paused" : "goes on",
        double(c.link.replay->Position()) / 1e6);
}

void ReplaySeek(Session& c, uint64_t time) {
    if (c.link.replay != nullptr) SeekAll(c, time);
}

Reaction ReplayBack(Session& c, int64_t) {
    if (!Replaying(c)) return Nothing;
    uint64_t at = c.link.replay->Position();
    SeekAll(c, at > Step ? at - Step : 0);
    return Nothing;
}

Reaction ReplayForward(Session& c, int64_t) {
    if (!Replaying(c)) return Nothing;
    SeekAll(c, c.link.replay->Position() + Step);
    return Nothing;
}

Reaction ReplayPreviousMark(Session& c, int64_t) {
    if (!Replaying(c)) return Nothing;
    uint64_t at = c.link.replay->Position();
    const std::vector<uint64_t>& marks = c.link.replay->Marks();
    // Just after a mark, the one before it: a second's grace to step back past it.
    for (size_t i = marks.size(); i-- > 0;) {
        if (marks[i] + 1000000 < at) {
            SeekAll(c, marks[i]);
            return Nothing;
        }
    }
    Say(c.notice, "no mark before %.1f s", double(at) / 1e6);
    return Nothing;
}

Reaction ReplayNextMark(Session& c, int64_t) {
    if (!Replaying(c)) return Nothing;
    uint64_t at = c.link.replay->Position();
    for (uint64_t mark : c.link.replay->Marks()) {
        if (mark > at) {
            SeekAll(c, mark);
            return Nothing;
        }
    }
    Say(c.notice, "no mark after %.1f s", double(at) / 1e6);
    return Nothing;
}

Reaction AskForReplayTime(Session& c, int64_t) {
    if (!Replaying(c)) return Nothing;
    OpenPrompt(c.ui.prompt, "replay: go to seconds", "");
    c.ui.promptFor = PromptPurpose::ReplayTime;
    return Nothing;
}

void ReplayTimeAnswered(Session& c, const char* text) {
    char* end = nullptr;
    double seconds = std::strtod(text, &end);
    if (c.link.replay == nullptr || end == text || *end != '\0' || !(seconds >= 0)) {
        Say(c.notice, "replay: give seconds from the start, such as 12.5");
        return;
    }
    SeekAll(c, uint64_t(seconds * 1e6));
}

bool ReplayStatus(const Session& c, char* text, unsigned capacity) {
    if (c.link.replay == nullptr) return false;
    std::snprintf(text, capacity, "replay %.1f/%.1f s%s", double(c.link.replay->Position()) / 1e6,
                  double(c.link.replay->Length()) / 1e6, c.link.replay->Paused() ? " paused" : "");
    return true;
}

// The console's recording (--record) and its replay (--replay): what main,
// the loop and the line's controls call, so each gains a line.
//
// Recording: the received bytes come through the recorder's sink; the rest
// is told here as it happens (sent bytes with what sent them, controls,
// settings, the line lost and back, marks), each under the line's index
// (record_lines.h). Replay with --at and --batch draws one recorded line's
// received bytes (the first's, or --input's) up to a time on a fresh
// screen, with the live session's maps and ANSI rule from its header, and
// prints the screen's 24 rows: the screen the live session showed then.
#ifndef BRISVANE_CONSOLE_RECORDED_H
#define BRISVANE_CONSOLE_RECORDED_H

#include <cstdint>
#include <memory>

#include "console/features/log_file.h"
#include "console/rules/reaction.h"
#include "console/rules/recording.h"

struct Session;
struct ReplayTape;

void RecordWritten(Session& console, RecordSource source, const uint8_t* bytes, unsigned count);
void RecordText(Session& console, RecordKind kind, const char* text);
void RecordLineControl(Session& console, RecordControl control, bool on);
// Once a pass: marks reached since, and what waits goes to the file.
void RecordPass(Session& console);
// The replay of --replay: its exit status (0, 1 when the file cannot be
// read, 2 for a recording this program cannot read at all).
int ReplayRecording(Session& console);
// --export-cast: the recording as an asciicast on standard output, the
// screen drawn with xterm sequences after each burst, marks as markers.
int ExportCast(Session& console);

// The interactive replay (--replay without --batch): each line of the
// program is a ReplayLine on one tape, line `index` of the recording. Menu
// commands: pause or go on, back or on 10 s, the previous or next mark (of
// any line), a time asked for; each moves every line of the replay (the
// session's table) to the same moment. A seek draws each line's screen of
// that moment afresh from the recording, then plays on from there.
bool MakeReplayLine(Session& console, std::shared_ptr<ReplayTape> tape, unsigned index);
void ReplayOpened(Session& console);
Reaction ReplayPause(Session& console, int64_t now);
Reaction ReplayBack(Session& console, int64_t now);
Reaction ReplayForward(Session& console, int64_t now);
Reaction ReplayPreviousMark(Session& console, int64_t now);
Reaction ReplayNextMark(Session& console, int64_t now);
Reaction AskForReplayTime(Session& console, int64_t now);
void ReplayTimeAnswered(Session& console, const char* text);
// The same seek and pause for a browser page (--web): to `time` µs of the
// recording (past its end: the end), paused or playing on. Nothing when
// this is not a replay.
void ReplaySeek(Session& console, uint64_t time);
void ReplayHold(Session& console, bool paused);
// "replay 12.3/60.0 s, paused" for the status line; false when not a replay.
bool ReplayStatus(const Session& console, char* text, unsigned capacity);

#endif

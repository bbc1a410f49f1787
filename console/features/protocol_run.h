// A protocol transfer (XMODEM, YMODEM, ZMODEM) carried out by an outside
// command, lrzsz's sx/sb/sz or rx/rb/rz unless the options name others.
// The command's stdin and stdout are pipes that the loop joins to the line:
// what the line receives goes to its stdin (and nowhere else), what it
// writes goes out through the output pump's stage, so a local device and a
// network line (which keeps its own Telnet escaping) are served alike. Its
// stderr is a third pipe, read for progress. It runs in a session of its
// own with no descriptor of ours but the three pipes, so it can neither
// draw on the screen nor touch the line behind our back.
//
// Nothing blocks: the pipes are non-blocking and polled with the rest; the
// buffers live in the record, made once. One transfer at a time. The child
// is reaped with waitpid(WNOHANG) on the pass after SIGCHLD wakes the loop
// (the signal pipe), not by polling; its session is its own process group,
// so a cancel ends whatever it started too. An exit status that cannot be
// read (the child was reaped behind our back) is a failure, never a success.
#ifndef BRISVANE_CONSOLE_PROTOCOL_RUN_H
#define BRISVANE_CONSOLE_PROTOCOL_RUN_H

#include <cstdint>
#include <poll.h>
#include <sys/types.h>

#include "console/rules/notice.h"
#include "console/rules/options.h"
#include "console/rules/output_pump.h"
#include "console/features/protocol_progress.h"
#include "console/rules/schedule.h"

enum class Protocol : uint8_t { Xmodem, Ymodem, Zmodem };
enum class ProtocolDirection : uint8_t { Send, Receive };

const unsigned ProtocolInputCapacity = 16384;
const unsigned ProtocolPollCount = 3;

struct ProtocolRun {
    bool active = false;
    Protocol protocol = Protocol::Ymodem;
    ProtocolDirection direction = ProtocolDirection::Send;
    pid_t child = -1;
    int input = -1;         // the child's stdin: what the line received
    int output = -1;        // its stdout: for the line
    int errors = -1;        // its stderr: progress
    bool lineGone = false;  // its output goes nowhere; it has until giveUpAt to end
    int64_t giveUpAt = 0;
    int64_t cancelAgainAt = NoDeadline;  // the cancel sequence goes out a second time
    bool exited = false;
    int status = 0;           // as waitpid gives it, once exited
    bool statusLost = false;  // it ended, but how could not be read
    uint64_t movedBytes = 0;  // progress.bytes when it last changed
    int64_t movedAt = 0;      // and when
    uint64_t size = 0;        // of the file sent
    uint64_t carried = 0,
             carriedSeen = 0;        // bytes moved between the line and the child, and at the last pass
    int64_t busyAt = 0;              // when a pass last saw bytes move
    char folder[PathCapacity] = "";  // where a receive puts its files
    ProtocolProgress progress = {};
    ProgressReader reader;
    uint8_t pending[ProtocolInputCapacity];  // line bytes the child has not taken yet
    unsigned pendingLength = 0, pendingWritten = 0;

    ProtocolRun() = default;
    ProtocolRun(const ProtocolRun&) = delete;
    ProtocolRun& operator=(const ProtocolRun&) = delete;
    ~ProtocolRun();  // a command still running is killed and reaped, its pipes closed
};

// "xmodem", "ymodem", "zmodem".
const char* ProtocolName(Protocol protocol);

// The command line for a protocol and direction from the option's text
// "SEND,RECEIVE" (each words split at blanks, no quoting) into `words`
// (at most `capacity`, null-ended), with `file` last when given. Returns
// the number of words, 0 when the option's text has none for it.
unsigned ProtocolCommand(const char* optionText, ProtocolDirection direction, const char* file, char* buffer,
                         unsigned bufferCapacity, char** words, unsigned capacity);

// Starts the command for a transfer: a send of the file at `path`, or a
// receive into `folder` (rx is given `path`, the name asked for). Says why
// it could not start ("install lrzsz" when the default command is missing);
// nothing has gone on the line then.
bool StartProtocol(ProtocolRun& run, Protocol protocol, ProtocolDirection direction, const char* optionText,
                   const char* folder, const char* path, Notice& notice);

// The pipes to poll now, into `fds` (ProtocolPollCount at most); `stageEmpty`
// says the pump can take more of the child's output. Returns how many.
// While bytes move, each pass reads the child's progress anyway, so its
// stderr is polled only once they have been still ProgressQuietMilliseconds:
// a line of progress per block would otherwise wake the loop once more per
// block, a third more wake-ups in a transfer that waits on each reply.
const int64_t ProgressQuietMilliseconds = 100;
unsigned ProtocolPollFds(const ProtocolRun& run, bool stageEmpty, int64_t now, struct pollfd* fds);

// False while line bytes wait for the child: the line is not read then.
inline bool ProtocolTakesInput(const ProtocolRun& run) { return !run.active || run.pendingLength == 0; }
// Room for the next line bytes (null while some wait), then how many came.
uint8_t* ProtocolInputRoom(ProtocolRun& run, unsigned* capacity);
void ProtocolReceived(ProtocolRun& run, unsigned count);

// Moves the child's output into the pump's empty stage.
void FeedProtocolOutput(ProtocolRun& run, OutputPump& pump);

// One pass: writes waiting line bytes to the child, reads its stderr, reaps
// it. Once it has ended and its output has gone to the line, says how it
// went ("ymodem: sent image.bin, 1,048,576 bytes" or "ymodem: failed: ...")
// and the transfer is over.
void ServeProtocol(ProtocolRun& run, OutputPump& pump, Notice& notice, int64_t now);

// The line went away: the child's input ends and its output is dropped. It
// may still end by itself (the host's end closed the connection after the
// last acknowledgement); if it has not within a second, it is cancelled.
void ProtocolLineGone(ProtocolRun& run, int64_t now);

// When the loop must look again without a wake-up of its own: the end of
// the grace after the line went away, the cancel sequence's repeat, or the
// moment the progress is to say it has stalled.
// (The child's end wakes the loop through SIGCHLD.)
int64_t ProtocolDeadline(const ProtocolRun& run, int64_t now);

// How long nothing has moved, in whole seconds, once it is at least
// ProtocolStallSeconds; else 0.
const unsigned ProtocolStallSeconds = 5;
unsigned ProtocolStalledSeconds(const ProtocolRun& run, int64_t now);

// Ends a running transfer at once: the child's process group is killed and
// the child reaped, what it had not written is dropped, and the cancel
// sequence (8 CAN, then 8 Backspace to wipe them from a shell's line) is
// queued for the line, unless the line went away. It goes out again half a
// second later: a receiver that flushes its input after each block can
// lose the first one behind the block it was reading. `why` is said:
// "ymodem: cancelled"...
void CancelProtocol(ProtocolRun& run, OutputPump& pump, Notice& notice, const char* why, int64_t now);

#endif

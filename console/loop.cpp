#include "console/loop.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include "console/display.h"
#include "console/keys.h"
#include "console/local_line.h"
#include "console/options.h"
#include "console/session.h"
#include "console/signals.h"
#include "console/files.h"
#include "console/transfers.h"
#include "core/output_queue.h"
#include "link/transfer.h"

static const int FrameMilliseconds = 16;
static const int RetryMilliseconds = 500;
static const int WriteRoundsPerPass = 16;  // then input gets its turn again

static uint8_t readBlock[16384];
static uint8_t outBuffer[4096];
static unsigned outLength;
static unsigned outWritten;
static bool headHeld;  // outBuffer holds the queue's head, advanced once written
static int64_t lastFlush;
static int64_t nextRetry;

static int64_t NowMilliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

static void LineLost() {
    CloseLine(session.line);
    session.line = -1;
    outLength = outWritten = 0;
    headHeld = false;
    outputQueue.Discard();
    if (sendState != SendState::Idle) {
        EndSend();
        ShowMessage("the send ended: the device went away");
    }
    if (!options.reconnect) {
        session.quit = true;
        session.exitCode = 1;
        return;
    }
    nextRetry = NowMilliseconds() + RetryMilliseconds;
    MarkStatusChanged();
}

static void TryReconnect() {
    char message[256];
    OpenFailure failure;
    int line = OpenLine(options.device, options.line, options.hardwareFlow, message, sizeof message, &failure);
    if (line < 0) {
        nextRetry = NowMilliseconds() + RetryMilliseconds;
        return;
    }
    session.line = line;
    MarkStatusChanged();
}

// Takes the next bytes to write from the output queue. Keys and the identify
// reply keep the queue busy until written, as the shared rules expect; a file
// send is taken a block at a time.
static bool FillOutput() {
    outLength = outWritten = 0;
    for (;;) {
        if (sendState != SendState::Idle && outputQueue.IsEmpty()) {
            FetchSendByte();
            if (!outputQueue.IsEmpty()) ++progress.sendDone;
        }
        if (outputQueue.IsEmpty()) return outLength > 0;
        if (!PrepareHead()) continue;  // a text send's line feed
        outBuffer[outLength++] = outputQueue.Head();
        if (sendState == SendState::Idle) {
            headHeld = true;
            return true;
        }
        outputQueue.Advance();
        // A text byte is followed by its pause, so it goes out alone.
        if (sendState == SendState::SendText || outLength == sizeof outBuffer) return true;
    }
}

static void WriteFinished() {
    if (headHeld) {
        outputQueue.Advance();
        headHeld = false;
    }
    WriteCompleted();
}

static bool MoreToWrite() {
    return outWritten < outLength || sendState != SendState::Idle || !outputQueue.IsEmpty();
}

static void PumpOutput() {
    if (session.line < 0) return;
    for (int round = 0; round < WriteRoundsPerPass; ++round) {
        if (outWritten == outLength && !FillOutput()) return;
        ssize_t n = write(session.line, outBuffer + outWritten, outLength - outWritten);
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR) LineLost();
            return;
        }
        outWritten += unsigned(n);
        if (sendState != SendState::Idle) MarkStatusChanged();  // progress
        if (outWritten < outLength) return;  // the rest when the line takes it
        WriteFinished();
    }
}

// What was captured is on disk before the program waits again.
static void CaptureWritten(unsigned count) {
    progress.captured += count;
    MarkStatusChanged();
    int failure = FlushFileBuffers();
    if (failure != 0) {
        char text[sizeof session.message];
        std::snprintf(text, sizeof text, "capture: writing the file failed: %s", std::strerror(failure));
        ShowMessage(text);
    }
}

static const int ReadsPerPass = 16;  // then keys and the frame get their turn
static bool lineMayHaveMore;          // the last pass stopped reading with input left

// Reads until the line has nothing more (or the pass's share is used up), so
// a flood costs one read per block and no extra wake-ups.
static void ReadLine() {
    lineMayHaveMore = false;
    for (int i = 0; i < ReadsPerPass; ++i) {
        ssize_t n = read(session.line, readBlock, sizeof readBlock);
        if (n > 0) {
            for (ssize_t j = 0; j < n; ++j) ByteReceived(readBlock[j]);
            if (receiveMode != ReceiveMode::Off) CaptureWritten(unsigned(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) LineLost();
        return;
    }
    lineMayHaveMore = true;
}

static bool ShiftHeldFor;  // the translated key's Shift, handed to QueueKey
static bool KeyShift() { return ShiftHeldFor; }

static void SendKey(const TranslatedKey& key) {
    if (session.line < 0) return;  // nothing reaches a missing device
    if (sendState != SendState::Idle) {
        ShowMessage("keys are not sent while a file is being sent");
        return;
    }
    if (key.action == KeyAction::Byte) {
        QueueTypedCharacter(key.byte);
    } else if (key.action == KeyAction::Sequence) {
        ShiftHeldFor = key.shifted;
        QueueKey(key.key, KeyShift);
    }
}

static void ReadKeys() {
    wint_t code;
    int kind;
    while ((kind = wget_wch(stdscr, &code)) != ERR) {
        if (kind == KEY_CODE_YES && code == KEY_RESIZE) continue;  // SIGWINCH handles it
        if (TransferAsking()) {
            TransferKey(int(code), kind == KEY_CODE_YES);
            continue;
        }
        TranslatedKey key = TranslateKey(int(code), kind == KEY_CODE_YES);
        if (key.action == KeyAction::Ignore) continue;
        if (session.message[0] != '\0') {
            session.message[0] = '\0';
            MarkStatusChanged();
        }
        MenuCommand command = MenuKey(options.prefixKey, key);
        if (command == MenuCommand::PassKey) {
            SendKey(key);
            // Out at once, so keys typed or pasted together are not dropped
            // behind one another while the line is free.
            PumpOutput();
        } else {
            RunMenuCommand(command);
        }
        if (session.quit) return;
    }
}

static void HandleSignals(int signalPipe) {
    int number;
    while ((number = NextSignal(signalPipe)) != 0) {
        if (number == SIGWINCH) {
            ResizeDisplay();
        } else {
            session.quit = true;
            session.exitCode = 128 + number;
        }
    }
}

// Leaving during a capture: what the host sent before is still read and
// written, for as long as the line keeps delivering (at most a second).
static void DrainLineForCapture() {
    int64_t deadline = NowMilliseconds() + 1000;
    while (receiveMode != ReceiveMode::Off && session.line >= 0 && NowMilliseconds() < deadline) {
        struct pollfd probe = {session.line, POLLIN, 0};
        if (poll(&probe, 1, 20) <= 0 || (probe.revents & POLLIN) == 0) return;
        ssize_t n = read(session.line, readBlock, sizeof readBlock);
        if (n <= 0) return;
        for (ssize_t j = 0; j < n; ++j) ByteReceived(readBlock[j]);
        CaptureWritten(unsigned(n));
    }
}

void RunConsoleLoop(int signalPipe) {
    lastFlush = NowMilliseconds() - FrameMilliseconds;
    while (!session.quit) {
        PumpOutput();

        int64_t now = NowMilliseconds();
        // At most one flush a frame: a lone change shows at once, a flood
        // costs a few dozen redraws a second.
        if (DisplayPending() && now - lastFlush >= FrameMilliseconds) {
            FlushDisplay();
            lastFlush = now;
        }

        int timeout = -1;
        if (DisplayPending()) timeout = lineMayHaveMore ? 0 : int(lastFlush + FrameMilliseconds - now);
        if (session.line < 0) {
            int untilRetry = int(nextRetry - now);
            if (timeout < 0 || untilRetry < timeout) timeout = untilRetry;
        }
        if (timeout < -1) timeout = 0;

        struct pollfd fds[3] = {
            {STDIN_FILENO, POLLIN, 0},
            {signalPipe, POLLIN, 0},
            {session.line, short(POLLIN | (MoreToWrite() ? POLLOUT : 0)), 0},
        };
        int count = session.line >= 0 ? 3 : 2;
        if (poll(fds, nfds_t(count), timeout) < 0 && errno != EINTR) {
            session.quit = true;
            session.exitCode = 1;
            break;
        }
        if (fds[1].revents & POLLIN) HandleSignals(signalPipe);
        if (fds[0].revents & POLLIN) ReadKeys();
        // A hung-up terminal also reads as ready; without this the loop spins.
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            session.quit = true;  // the user's terminal is gone
            session.exitCode = 128 + SIGHUP;
        }
        if (session.quit) break;
        if (count == 3 && session.line >= 0) {
            if (fds[2].revents & POLLIN) {
                ReadLine();
            } else if (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                LineLost();
            }
        }
        if (session.line < 0 && !session.quit && NowMilliseconds() >= nextRetry) TryReconnect();
    }
    DrainLineForCapture();
}

#include "console/features/protocol_run.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console/line/clock.h"
#include "console/rules/options.h"
#include "console/rules/schedule.h"
#include "console/rules/counters.h"

extern char** environ;

namespace {

const unsigned MaxWords = 32;
const int64_t GraceMilliseconds = 1000;
const uint8_t Cancel = 0x18, Backspace = 0x08;
const unsigned CancelCount = 8;
const int64_t CancelAgainMilliseconds = 500;

void ClosePipe(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

void CloseAll(ProtocolRun& run) {
    ClosePipe(run.input);
    ClosePipe(run.output);
    ClosePipe(run.errors);
    run.pendingLength = run.pendingWritten = 0;
}

bool IsLrzsz(const char* command) {
    static const char* const Names[] = {"sx", "sb", "sz", "rx", "rb", "rz"};
    for (const char* name : Names) {
        if (std::strcmp(command, name) == 0) return true;
    }
    return false;
}

const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

void ReadErrors(ProtocolRun& run) {
    uint8_t block[512];
    while (run.errors >= 0) {
        ssize_t got = read(run.errors, block, sizeof block);
        if (got > 0) {
            run.reader.Take(run.progress, block, unsigned(got));
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            run.reader.Finish(run.progress);
            ClosePipe(run.errors);
        } else if (errno == EAGAIN) {
            return;
        }
    }
}

void WriteInput(ProtocolRun& run) {
    while (run.pendingWritten < run.pendingLength && run.input >= 0) {
        ssize_t wrote =
            write(run.input, run.pending + run.pendingWritten, run.pendingLength - run.pendingWritten);
        if (wrote > 0) {
            run.pendingWritten += unsigned(wrote);
        } else if (wrote < 0 && errno == EINTR) {
            continue;
        } else if (wrote < 0 && errno == EAGAIN) {
            return;
        } else {
            ClosePipe(run.input);  // it stopped reading: what it missed is not its business now
        }
    }
    run.pendingLength = run.pendingWritten = 0;
}

void QueueCancel(OutputPump& pump) {
    uint8_t sequence[2 * CancelCount];
    std::memset(sequence, Cancel, CancelCount);
    std::memset(sequence + CancelCount, Backspace, CancelCount);
    pump.Queue(sequence, sizeof sequence, false);
}

void Reap(ProtocolRun& run) {
    if (run.exited || run.child < 0) return;
    int status;
    pid_t got;
    do {
        got = waitpid(run.child, &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == run.child) {
        run.exited = true;
        run.status = status;
    } else if (got < 0) {  // ECHILD: gone, and how it went is lost
        run.exited = true;
        run.statusLost = true;
    }
}

void SayOutcome(ProtocolRun& run, Notice& notice) {
    const char* name = ProtocolName(run.protocol);
    ProtocolProgress& p = run.progress;
    bool succeeded = !run.statusLost && WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
    if (!succeeded) {
        char why[64];
        if (run.statusLost) {
            std::snprintf(why, sizeof why, "its exit status was lost");
        } else if (WIFSIGNALED(run.status)) {
            std::snprintf(why, sizeof why, "killed by signal %d", WTERMSIG(run.status));
        } else {
            std::snprintf(why, sizeof why, "exit status %d", WEXITSTATUS(run.status));
        }
        if (p.message[0] != '\0') {
            Say(notice, "%s: failed: %s (%s)", name, p.message, why);
        } else {
            Say(notice, "%s: failed: %s", name, why);
        }
        return;
    }
    uint64_t bytes = run.direction == ProtocolDirection::Send ? run.size : p.bytes;
    if (run.direction == ProtocolDirection::Receive && p.file[0] != '\0') {
        char path[PathCapacity];
        struct stat status;
        if (ResolvePath(run.folder, p.file, path, sizeof path) && stat(path, &status) == 0) {
            bytes = uint64_t(status.st_size);
        }
    }
    char count[32];
    FormatCount(bytes, count, sizeof count);
    Say(notice, "%s: %s %s, %s bytes", name, run.direction == ProtocolDirection::Send ? "sent" : "received",
        p.file[0] != '\0' ? p.file : "nothing", count);
}

}  // namespace

const char* ProtocolName(Protocol protocol) {
    switch (protocol) {
        case Protocol::Xmodem: return "xmodem";
        case Protocol::Ymodem: return "ymodem";
        case Protocol::Zmodem: return "zmodem";
    }
    return "";
}

unsigned ProtocolCommand(const char* optionText, ProtocolDirection direction, const char* file, char* buffer,
                         unsigned bufferCapacity, char** words, unsigned capacity) {
    const char* comma = std::strchr(optionText, ',');
    const char* start = direction == ProtocolDirection::Send ? optionText : comma != nullptr ? comma + 1 : "";
    size_t length = direction == ProtocolDirection::Send && comma != nullptr ? size_t(comma - optionText)
                                                                             : std::strlen(start);
    if (length >= bufferCapacity) return 0;
    std::memcpy(buffer, start, length);
    buffer[length] = '\0';
    unsigned count = 0;
    char* at = buffer;
    while (count + 2 < capacity) {
        while (*at == ' ' || *at == '\t') *at++ = '\0';
        if (*at == '\0') break;
        words[count++] = at;
        while (*at != '\0' && *at != ' ' && *at != '\t') ++at;
    }
    if (count == 0) return 0;
    if (file != nullptr) words[count++] = const_cast<char*>(file);
    words[count] = nullptr;
    return count;
}

bool StartProtocol(ProtocolRun& run, Protocol protocol, ProtocolDirection direction, const char* optionText,
                   const char* folder, const char* path, Notice& notice) {
    const char* name = ProtocolName(protocol);
    char buffer[PathCapacity];
    char* words[MaxWords];
    if (ProtocolCommand(optionText, direction, path, buffer, sizeof buffer, words, MaxWords) == 0) {
        Say(notice, "%s: no %s command (see --%s-cmd)", name,
            direction == ProtocolDirection::Send ? "send" : "receive", name);
        return false;
    }
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        Say(notice, "%s: cannot make pipes: %s", name, std::strerror(errno));
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
            if (fd >= 0) close(fd);
        }
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // Nothing else of ours: not the line, not the terminal, not a log.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (folder[0] != '\0') posix_spawn_file_actions_addchdir_np(&actions, folder);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);  // ignored here, and inherited so
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    // A session of its own: no controlling terminal to draw on or be stopped by.
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);
    pid_t child = -1;
    int failure = posix_spawnp(&child, words[0], &actions, &attributes, words, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (failure != 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        if (failure == ENOENT && IsLrzsz(words[0])) {
            Say(notice, "%s: %s not found: install lrzsz", name, words[0]);
        } else {
            Say(notice, "%s: cannot run %s: %s", name, words[0], std::strerror(failure));
        }
        return false;
    }
    for (int fd : {in[1], out[0], err[0]}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    run.active = true;
    run.protocol = protocol;
    run.direction = direction;
    run.child = child;
    run.input = in[1];
    run.output = out[0];
    run.errors = err[0];
    run.exited = false;
    run.lineGone = false;
    run.cancelAgainAt = NoDeadline;
    run.status = 0;
    run.statusLost = false;
    run.movedBytes = 0;
    run.movedAt = MonotonicMilliseconds();
    run.busyAt = run.movedAt;
    run.carried = run.carriedSeen = 0;
    run.pendingLength = run.pendingWritten = 0;
    run.progress = ProtocolProgress();
    run.reader = ProgressReader();
    std::snprintf(run.folder, sizeof run.folder, "%s", folder);
    run.size = 0;
    struct stat status;
    if (direction == ProtocolDirection::Send && path != nullptr && stat(path, &status) == 0) {
        run.size = uint64_t(status.st_size);
        run.progress.total = run.size;
    }
    if (path != nullptr) std::snprintf(run.progress.file, sizeof run.progress.file, "%s", BaseName(path));
    Forget(notice);  // the progress says it: room for it on the status line
    return true;
}

unsigned ProtocolPollFds(const ProtocolRun& run, bool stageEmpty, int64_t now, struct pollfd* fds) {
    unsigned count = 0;
    if (!run.active) return 0;
    // Not polled while it cannot be taken: a hang-up would wake the loop for nothing.
    if (run.output >= 0 && (stageEmpty || run.lineGone)) fds[count++] = {run.output, POLLIN, 0};
    if (run.errors >= 0 && now - run.busyAt >= ProgressQuietMilliseconds)
        fds[count++] = {run.errors, POLLIN, 0};
    if (run.input >= 0 && run.pendingWritten < run.pendingLength) fds[count++] = {run.input, POLLOUT, 0};
    return count;
}

uint8_t* ProtocolInputRoom(ProtocolRun& run, unsigned* capacity) {
    if (run.pendingLength != 0) return nullptr;
    *capacity = sizeof run.pending;
    return run.pending;
}

void ProtocolReceived(ProtocolRun& run, unsigned count) {
    run.pendingLength = count;
    run.pendingWritten = 0;
    run.carried += count;
    if (run.input < 0) run.pendingLength = 0;  // nobody reads them
    WriteInput(run);
}

void FeedProtocolOutput(ProtocolRun& run, OutputPump& pump) {
    if (!run.active || run.lineGone || run.output < 0 || !pump.StageEmpty()) return;
    unsigned room;
    uint8_t* stage = pump.StageRoom(&room);
    ssize_t got;
    do {
        got = read(run.output, stage, room);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        pump.Staged(unsigned(got), false);
        run.carried += uint64_t(got);
    } else if (got == 0 || errno != EAGAIN) {
        ClosePipe(run.output);
    }
}

void ServeProtocol(ProtocolRun& run, OutputPump& pump, Notice& notice, int64_t now) {
    if (now >= run.cancelAgainAt) {
        run.cancelAgainAt = NoDeadline;
        QueueCancel(pump);
    }
    if (!run.active) return;
    WriteInput(run);
    ReadErrors(run);
    if (run.carried != run.carriedSeen) {
        run.carriedSeen = run.carried;
        run.busyAt = now;
    }
    if (run.progress.bytes != run.movedBytes) {
        run.movedBytes = run.progress.bytes;
        run.movedAt = now;
    }
    if (run.lineGone) {
        uint8_t dropped[4096];
        while (run.output >= 0 && read(run.output, dropped, sizeof dropped) > 0) {}
        Reap(run);
        if (!run.exited && now >= run.giveUpAt) {
            CancelProtocol(run, pump, notice, "failed: the line went away", now);
            return;
        }
        if (!run.exited) return;
        ClosePipe(run.output);  // nothing of it can go out now
    }
    Reap(run);
    // Over once it is gone and what it wrote has been taken for the line.
    if (!run.exited || !pump.StageEmpty()) return;
    if (run.output >= 0) {
        struct pollfd probe = {run.output, POLLIN, 0};
        if (poll(&probe, 1, 0) > 0 && (probe.revents & POLLIN)) return;  // more for the pump first
    }
    ReadErrors(run);
    run.reader.Finish(run.progress);
    CloseAll(run);
    run.active = false;
    run.child = -1;
    SayOutcome(run, notice);
}

void ProtocolLineGone(ProtocolRun& run, int64_t now) {
    if (!run.active || run.lineGone) return;
    run.lineGone = true;
    run.giveUpAt = now + GraceMilliseconds;
    ClosePipe(run.input);
    run.pendingLength = run.pendingWritten = 0;
}

int64_t ProtocolDeadline(const ProtocolRun& run, int64_t now) {
    if (!run.active) return run.cancelAgainAt;
    if (run.lineGone) return run.giveUpAt;
    // A stall is said when it begins, then each second it lasts.
    int64_t stall = run.movedAt + int64_t(ProtocolStallSeconds) * 1000;
    if (now >= stall) stall = now + 1000 - (now - run.movedAt) % 1000;
    // The look at its progress once the bytes are still (see ProtocolPollFds).
    int64_t quiet = run.busyAt + ProgressQuietMilliseconds;
    if (run.errors >= 0 && now < quiet && quiet < stall) return quiet;
    return stall;
}

unsigned ProtocolStalledSeconds(const ProtocolRun& run, int64_t now) {
    if (!run.active || run.exited || now - run.movedAt < int64_t(ProtocolStallSeconds) * 1000) return 0;
    return unsigned((now - run.movedAt) / 1000);
}

ProtocolRun::~ProtocolRun() {
    if (!exited && child > 0) {
        kill(child, SIGKILL);
        int status;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    }
    CloseAll(*this);
}

void CancelProtocol(ProtocolRun& run, OutputPump& pump, Notice& notice, const char* why, int64_t now) {
    if (!run.active) return;
    if (run.child > 0) {
        kill(-run.child, SIGKILL);  // its group: what it started goes too
        int status;
        while (!run.exited && waitpid(run.child, &status, 0) < 0 && errno == EINTR) {}
    }
    CloseAll(run);
    run.active = false;
    run.child = -1;
    if (!run.lineGone) {  // else no host hears it
        QueueCancel(pump);
        run.cancelAgainAt = now + CancelAgainMilliseconds;
    }
    Say(notice, "%s: %s", ProtocolName(run.protocol), why);
}

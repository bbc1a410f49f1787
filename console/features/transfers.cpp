#include "console/features/transfers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "console/rules/keys.h"
#include "console/features/plain_file.h"
#include "console/rules/options.h"
#include "core/output_queue.h"
#include "link/file_io_posix.h"

namespace {

// Names the file as the user typed it: the status line has no room for more.
void CannotOpen(Notice& notice, const char* name, const char* reason) {
    Say(notice, "cannot open file: %.100s: %s", name, reason);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool InUse(const Transfers& t, const struct stat& status) {
    return (sendState != SendState::Idle && SameFile(status, t.sendStatus)) ||
           (receiveMode != ReceiveMode::Off && SameFile(status, t.captureStatus));
}

void CopyName(char* name, size_t capacity, const char* text) {
    size_t length = std::strlen(text);
    if (length < capacity) {
        std::memcpy(name, text, length + 1);
        return;
    }
    // The end of a long name says more than its start.
    std::memcpy(name, "...", 3);
    std::memcpy(name + 3, text + length - (capacity - 4), capacity - 3);
}

void OpenCapture(Transfers& t, const char* path, int flags, Notice& notice) {
    int fd;
    PlainFile opened = OpenPlainFile(path, O_WRONLY | O_CREAT | flags, false, &fd);
    struct stat status;
    if (opened != PlainFile::Opened || fstat(fd, &status) != 0) {
        CannotOpen(notice, t.pendingName, PlainFileProblem(opened, errno));
        if (fd >= 0) close(fd);
        return;
    }
    t.captureStatus = status;
    t.captureAppends = (flags & O_APPEND) != 0;
    t.captureLineEnds = UnixLineEnds();
    CopyName(t.captureName, sizeof t.captureName, t.pendingName);
    captureFile = fd;
    receiveMode = t.pendingCapture;
    t.pendingCapture = ReceiveMode::Off;
}

// The one-line report of a failed capture write.
void CaptureFailed(const Transfers& t, int error, unsigned long long holds, char* text, unsigned capacity) {
    std::snprintf(text, capacity, "capture %s: %s; holds %llu bytes, the rest is lost", t.captureName,
                  std::strerror(error), holds);
}

// The bytes the capture file holds now, for a message about a failure.
unsigned long long FileHolds(int fd) {
    struct stat status;
    if (fstat(fd, &status) == 0) return (unsigned long long)status.st_size;
    return (unsigned long long)BytesWrittenTo(fd);
}

}  // namespace

void StartSend(Transfers& t, const char* home, const char* name, Notice& notice) {
    SendState mode = t.pendingSend;
    t.pendingSend = SendState::Idle;
    char path[PathCapacity];
    if (!ResolvePath(home, name, path, sizeof path)) {
        CannotOpen(notice, name, std::strerror(ENAMETOOLONG));
        return;
    }
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        CannotOpen(notice, name, std::strerror(errno));
        if (fd >= 0) close(fd);
        return;
    }
    const char* refusal = !S_ISREG(status.st_mode)
                              ? (S_ISDIR(status.st_mode) ? std::strerror(EISDIR) : "not a plain file")
                          : InUse(t, status) ? "it is in use by the other transfer"
                                             : nullptr;
    if (refusal != nullptr) {
        CannotOpen(notice, name, refusal);
        close(fd);
        return;
    }
    fcntl(fd, F_SETFL, 0);  // blocking reads from here on: it is a plain file
    t.sendStatus = status;
    t.sendTotal = uint64_t(status.st_size);
    t.sendDone = 0;
    t.sendLineEnds = TextLineEnds();
    CopyName(t.sendName, sizeof t.sendName, name);
    sendFile = fd;
    sendState = mode;  // the loop feeds the pump from here
}

void ChooseCapture(Transfers& t, const char* home, const char* name, Notice& notice) {
    std::snprintf(t.pendingName, sizeof t.pendingName, "%s", name);
    if (!ResolvePath(home, name, t.pendingPath, sizeof t.pendingPath)) {
        CannotOpen(notice, name, std::strerror(ENAMETOOLONG));
        t.pendingCapture = ReceiveMode::Off;
        return;
    }
    struct stat status;
    if (stat(t.pendingPath, &status) != 0) {
        OpenCapture(t, t.pendingPath, O_EXCL, notice);
        return;
    }
    const char* refusal = S_ISDIR(status.st_mode)    ? PlainFileProblem(PlainFile::Folder, 0)
                          : !S_ISREG(status.st_mode) ? PlainFileProblem(PlainFile::NotPlain, 0)
                          : InUse(t, status)         ? "it is in use by the other transfer"
                                                     : nullptr;
    if (refusal != nullptr) {
        CannotOpen(notice, name, refusal);
        t.pendingCapture = ReceiveMode::Off;
        return;
    }
    t.askingOverwrite = true;  // never truncate silently
}

void OverwriteKey(Transfers& t, int code, bool isKeyCode, Notice& notice) {
    char letter = isKeyCode ? 0 : char(code | 0x20);
    if (letter == 'o' || letter == 'a') {
        t.askingOverwrite = false;
        OpenCapture(t, t.pendingPath, letter == 'o' ? O_TRUNC : O_APPEND, notice);
    } else if (letter == 'c' || (!isKeyCode && code == EscapeKey)) {
        t.askingOverwrite = false;
        t.pendingCapture = ReceiveMode::Off;
        Say(notice, "capture cancelled");
    }
}

void OverwriteQuestion(const Transfers& t, char* text, unsigned capacity) {
    std::snprintf(text, capacity, "%s exists: o overwrite, a append, c cancel", t.pendingName);
}

void EndSendCommand(Transfers& t, Notice& notice) {
    (void)t;
    if (sendState == SendState::Idle) {
        Say(notice, "no send is running");
        return;
    }
    EndSend();
    Say(notice, "send ended");
}

void EndCaptureCommand(Transfers& t, Notice& notice) {
    if (receiveMode == ReceiveMode::Off) {
        Say(notice, "no capture is running");
        return;
    }
    char text[NoticeCapacity];
    EndCapture(t, text, sizeof text);
    Say(notice, "%s", text);
}

bool EndCapture(Transfers& t, char* text, unsigned capacity) {
    uint8_t held[1];
    if (t.captureLineEnds.Finish(held) == 1) WriteFileByte(captureFile, held[0]);
    int failure = FlushFileBuffers();
    unsigned long long holds = FileHolds(captureFile);
    unsigned long long written = BytesWrittenTo(captureFile);
    int closing = CloseWrittenFile(captureFile);
    if (failure == 0) failure = closing;
    receiveMode = ReceiveMode::Off;
    if (failure != 0) {
        CaptureFailed(t, failure, holds, text, capacity);
    } else if (t.captureAppends) {
        std::snprintf(text, capacity, "capture ended: %llu bytes added to %s", written, t.captureName);
    } else {
        std::snprintf(text, capacity, "capture ended: %llu bytes in %s", written, t.captureName);
    }
    return failure == 0;
}

bool FeedSend(Transfers& t, OutputPump& pump, int64_t now, uint32_t interval, bool sevenBit, bool served) {
    if (sendState == SendState::Idle || !pump.StageEmpty()) return false;
    bool paced = sendState == SendState::SendText && interval > 0;
    bool lineDelay = sendState == SendState::SendText && pump.LineDelay() > 0;
    // Text for a served line: its bit-7 rule, not ours, marks the text.
    bool typed = served && sendState == SendState::SendText;
    if ((paced || lineDelay) && now < pump.NextPaced()) return false;
    unsigned room;
    uint8_t* stage = pump.StageRoom(&room);
    unsigned count = 0;
    bool ended = false, lineEnd = false;
    while (count < room) {
        FetchSendByte();
        if (sendState == SendState::Idle) {
            ended = true;
            break;
        }
        ++t.sendDone;
        bool text = sendState == SendState::SendText;
        if (text) outputQueue.Head() = t.sendLineEnds.Next(outputQueue.Head());
        uint8_t unmarked = outputQueue.Head();
        bool marked = MarksOutgoingBytes(sendState);
        if (!PrepareHead()) continue;  // the LF of a CR LF pair
        uint8_t byte = outputQueue.Head();
        outputQueue.Discard();
        stage[count++] = typed ? unmarked : marked && sevenBit ? uint8_t(byte & SevenBits) : byte;
        if (lineDelay && (byte & SevenBits) == CarriageReturn) {
            lineEnd = true;  // the line delay follows
            break;
        }
        if (paced) break;
    }
    pump.Staged(count, paced, lineEnd, typed ? StageRules::Text : StageRules::Exact);
    return ended;
}

void CaptureWritten(Transfers& t, Notice& notice) {
    int failure = FlushFileBuffers();
    if (failure == 0) return;
    // A gap in the file would pass for the host's own output: the capture
    // ends here, and the file keeps what reached it.
    char text[NoticeCapacity];
    CaptureFailed(t, failure, FileHolds(captureFile), text, sizeof text);
    CloseFileHandle(captureFile);
    receiveMode = ReceiveMode::Off;
    Say(notice, "%s", text);
}

bool CloseTransfers(Transfers& t, char* text, unsigned capacity) {
    bool ok = true;
    if (receiveMode != ReceiveMode::Off) ok = EndCapture(t, text, capacity);
    if (sendState != SendState::Idle) {
        CloseFileHandle(sendFile);
        sendState = SendState::Idle;
    }
    return ok;
}

// The console has no menu items to grey: the status line follows sendState.
void SetSendItems(bool) {}

// The shared rules' text-send pause. The console paces text sends by
// deadlines and never calls WriteCompleted; this is here for the linker.
void PauseMilliseconds(uint32_t) {}

TransferModes CurrentTransferModes() {
    return {sendState, receiveMode, receiveMode != ReceiveMode::Off ? BytesWrittenTo(captureFile) : 0};
}

void ResetTransferModes() {
    sendState = SendState::Idle;
    receiveMode = ReceiveMode::Off;
    outputQueue.count = 0;
}

void AbandonSend() {
    if (sendState != SendState::Idle) EndSend();
}

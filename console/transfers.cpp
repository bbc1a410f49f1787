#include "console/transfers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/display.h"
#include "console/files.h"
#include "console/options.h"
#include "console/prompt.h"
#include "console/session.h"

TransferProgress progress;

namespace {

enum class Asking : uint8_t { Nothing, SendName, CaptureName, Overwrite };

Asking asking = Asking::Nothing;
SendState pendingSend;
ReceiveMode pendingCapture;
char pendingPath[PathCapacity];
char question[PathCapacity + 64];
bool haveSendFile, haveCaptureFile;
struct stat sendStatus, captureStatus;  // to refuse a file already in use

const char* SendModeName(SendState mode) {
    switch (mode) {
        case SendState::SendText: return "text";
        case SendState::SendRaw: return "raw";
        default: return "binary";
    }
}

// Names the file as the user typed it: the status line has no room for more.
void CannotOpen(const char* reason) {
    char text[sizeof session.message];
    std::snprintf(text, sizeof text, "cannot open file: %.100s: %s", prompt.text, reason);
    ShowMessage(text);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A file in use by the other transfer is refused, as sharing would lose data.
bool InUse(const struct stat& status) {
    if ((haveSendFile && sendState != SendState::Idle && SameFile(status, sendStatus)) ||
        (haveCaptureFile && receiveMode != ReceiveMode::Off && SameFile(status, captureStatus))) {
        CannotOpen("it is in use by the other transfer");
        return true;
    }
    return false;
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

void StartSend() {
    char path[PathCapacity];
    if (!ResolvePath(options.homeDirectory, prompt.text, path, sizeof path)) {
        CannotOpen(std::strerror(ENAMETOOLONG));
        return;
    }
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        CannotOpen(std::strerror(errno));
        if (fd >= 0) close(fd);
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        CannotOpen(S_ISDIR(status.st_mode) ? std::strerror(EISDIR) : "not a plain file");
        close(fd);
        return;
    }
    if (InUse(status)) {
        close(fd);
        return;
    }
    fcntl(fd, F_SETFL, 0);  // blocking reads from here on
    sendStatus = status;
    haveSendFile = true;
    progress.sendTotal = uint64_t(status.st_size);
    progress.sendDone = 0;
    CopyName(progress.sendName, sizeof progress.sendName, prompt.text);
    sendFile = fd;
    sendState = pendingSend;  // the loop fetches the first byte
    MarkStatusChanged();
}

void OpenCapture(const char* path, int flags) {
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | flags, 0666);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        CannotOpen(std::strerror(errno));
        if (fd >= 0) close(fd);
        return;
    }
    captureStatus = status;
    haveCaptureFile = true;
    progress.captured = 0;
    CopyName(progress.captureName, sizeof progress.captureName, prompt.text);
    captureFile = fd;
    receiveMode = pendingCapture;
    MarkStatusChanged();
}

void ChooseCaptureFile() {
    if (!ResolvePath(options.homeDirectory, prompt.text, pendingPath, sizeof pendingPath)) {
        CannotOpen(std::strerror(ENAMETOOLONG));
        return;
    }
    struct stat status;
    if (stat(pendingPath, &status) != 0) {
        OpenCapture(pendingPath, O_EXCL);
        return;
    }
    if (S_ISDIR(status.st_mode)) {
        CannotOpen(std::strerror(EISDIR));
        return;
    }
    if (InUse(status)) return;
    // Never truncate silently: ask first.
    asking = Asking::Overwrite;
    std::snprintf(question, sizeof question, "%s exists: o overwrite, a append, c cancel", prompt.text);
    MarkStatusChanged();
}

}  // namespace

void BeginSend(SendState mode) {
    if (sendState != SendState::Idle) {
        ShowMessage("a send is running: the menu key then s e ends it");
        return;
    }
    pendingSend = mode;
    asking = Asking::SendName;
    char label[48];
    std::snprintf(label, sizeof label, "send %s file", SendModeName(mode));
    OpenPrompt(label);
    MarkStatusChanged();
}

void BeginCapture(ReceiveMode mode) {
    if (receiveMode != ReceiveMode::Off) {
        ShowMessage("a capture is running: the menu key then r e ends it");
        return;
    }
    pendingCapture = mode;
    asking = Asking::CaptureName;
    OpenPrompt(mode == ReceiveMode::CaptureRaw ? "capture raw to file" : "capture text to file");
    MarkStatusChanged();
}

void EndSendCommand() {
    if (sendState == SendState::Idle) {
        ShowMessage("no send is running");
        return;
    }
    EndSend();
    ShowMessage("send ended");
}

void EndCaptureCommand() {
    if (receiveMode == ReceiveMode::Off) {
        ShowMessage("no capture is running");
        return;
    }
    int failure = FlushFileBuffers();
    CloseFileHandle(captureFile);
    receiveMode = ReceiveMode::Off;
    char text[sizeof session.message];
    if (failure != 0) {
        std::snprintf(text, sizeof text, "capture ended, but writing it failed: %s", std::strerror(failure));
    } else {
        std::snprintf(text, sizeof text, "capture ended: %llu bytes in %s",
                      (unsigned long long)progress.captured, progress.captureName);
    }
    ShowMessage(text);
}

bool TransferAsking() { return asking != Asking::Nothing; }

void TransferKey(int code, bool isKeyCode) {
    MarkStatusChanged();
    if (asking == Asking::Overwrite) {
        char letter = isKeyCode ? 0 : char(code | 0x20);
        if (letter == 'o' || letter == 'a') {
            asking = Asking::Nothing;
            OpenCapture(pendingPath, letter == 'o' ? O_TRUNC : O_APPEND);
        } else if (letter == 'c' || code == 27) {
            asking = Asking::Nothing;
            ShowMessage("capture cancelled");
        }
        return;
    }
    PromptResult result = PromptKey(code, isKeyCode);
    if (result == PromptResult::Editing) return;
    Asking was = asking;
    asking = Asking::Nothing;
    if (result == PromptResult::Cancelled || prompt.text[0] == '\0') return;
    if (was == Asking::SendName) {
        StartSend();
    } else {
        ChooseCaptureFile();
    }
}

const char* TransferQuestion(int* cursorColumn) {
    if (asking == Asking::Overwrite) {
        *cursorColumn = -1;
        return question;
    }
    if (asking == Asking::Nothing) return "";
    // Show the end of a long name: that is where typing happens.
    const unsigned room = 78 - unsigned(std::strlen(prompt.label)) - 2;
    const char* shown = prompt.text;
    if (prompt.length > room) shown += prompt.length - room;
    std::snprintf(question, sizeof question, "%s: %s", prompt.label, shown);
    *cursorColumn = 1 + int(std::strlen(question));
    return question;
}

void CloseTransfers() {
    if (receiveMode != ReceiveMode::Off) {
        FlushFileBuffers();
        CloseFileHandle(captureFile);
    }
    if (sendState != SendState::Idle) CloseFileHandle(sendFile);
}

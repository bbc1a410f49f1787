#include "console/session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "console/display.h"
#include "console/options.h"
#include "console/transfers.h"
#include "core/screen.h"
#include "link/key_sequences.h"
#include "link/transfer.h"

ConsoleSession session = {-1, false, 0, {0}};

void ShowMessage(const char* text) {
    std::snprintf(session.message, sizeof session.message, "%s", text);
    MarkStatusChanged();
}

// The Send items have no menu to grey here; the status line shows the state.
void SetSendItems(bool busy) {
    if (!busy) {
        char text[sizeof session.message];
        std::snprintf(text, sizeof text, "send finished: %llu bytes", (unsigned long long)progress.sendDone);
        ShowMessage(text);
    }
    MarkStatusChanged();
}

void RunMenuCommand(MenuCommand command) {
    switch (command) {
        case MenuCommand::PassKey:
        case MenuCommand::Opened:
        case MenuCommand::Cancelled:
            MarkStatusChanged();
            break;
        case MenuCommand::SendPrefix:
            if (session.line >= 0) QueueTypedCharacter(options.prefixKey);
            MarkStatusChanged();
            break;
        case MenuCommand::Exit:
            session.quit = true;
            session.exitCode = 0;
            break;
        case MenuCommand::Clear:
            ResetScreen();
            RepaintAll();
            MarkStatusChanged();
            break;
        case MenuCommand::SendRaw: BeginSend(SendState::SendRaw); break;
        case MenuCommand::SendBinary: BeginSend(SendState::SendBinary); break;
        case MenuCommand::SendText: BeginSend(SendState::SendText); break;
        case MenuCommand::SendEnd: EndSendCommand(); break;
        case MenuCommand::ReceiveRaw: BeginCapture(ReceiveMode::CaptureRaw); break;
        case MenuCommand::ReceiveText: BeginCapture(ReceiveMode::CaptureText); break;
        case MenuCommand::ReceiveEnd: EndCaptureCommand(); break;
    }
}

// Appends to the status text, cut to fit.
static void Add(char* text, unsigned capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
static void Add(char* text, unsigned capacity, const char* format, ...) {
    size_t used = std::strlen(text);
    if (used + 1 >= capacity) return;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text + used, capacity - used, format, arguments);
    va_end(arguments);
}

int ComposeStatus(char* text, unsigned capacity) {
    text[0] = '\0';
    const char* prompt = MenuPrompt();
    if (prompt[0] != '\0') {
        Add(text, capacity, " %s", prompt);
        return -1;
    }
    int cursor = -1;
    const char* question = TransferQuestion(&cursor);
    if (question[0] != '\0') {
        Add(text, capacity, " %s", question);
        return cursor;
    }
    // What runs comes first: a long device name is cut, not the news.
    if (session.line < 0) Add(text, capacity, " disconnected, waiting for %s |", options.device);
    if (sendState != SendState::Idle) {
        Add(text, capacity, " send %s %llu/%llu |", progress.sendName,
            (unsigned long long)progress.sendDone, (unsigned long long)progress.sendTotal);
    }
    if (receiveMode != ReceiveMode::Off) {
        Add(text, capacity, " capture %s %llu |", progress.captureName,
            (unsigned long long)progress.captured);
    }
    if (session.message[0] != '\0') {
        Add(text, capacity, " %s |", session.message);
    }
    char prefix[16];
    FormatPrefixKey(options.prefixKey, prefix, sizeof prefix);
    if (session.line >= 0) Add(text, capacity, " %s %s |", options.device, options.settingsText);
    Add(text, capacity, " %s: menu", prefix);
    return -1;
}

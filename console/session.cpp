#include "console/session.h"

#include <cstdio>
#include <cstring>

#include "console/display.h"
#include "console/options.h"
#include "core/screen.h"
#include "link/key_sequences.h"
#include "link/transfer.h"

ConsoleSession session = {-1, false, 0, {0}};

void ShowMessage(const char* text) {
    std::snprintf(session.message, sizeof session.message, "%s", text);
    MarkStatusChanged();
}

// The Send items have no menu to grey here; the status line shows the state.
void SetSendItems(bool) { MarkStatusChanged(); }

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
        default:
            ShowMessage("not yet: file transfers come in a later version");
            break;
    }
}

void ComposeStatus(char* text, unsigned capacity) {
    char prefix[16];
    FormatPrefixKey(options.prefixKey, prefix, sizeof prefix);
    const char* state = "";
    char stateText[PathCapacity + 64];
    if (session.line < 0) {
        std::snprintf(stateText, sizeof stateText, " | disconnected, waiting for %s", options.device);
        state = stateText;
    }
    const char* prompt = MenuPrompt();
    if (prompt[0] != '\0') {
        std::snprintf(text, capacity, " %s", prompt);
    } else if (session.message[0] != '\0') {
        std::snprintf(text, capacity, " %s%s | %s", options.device, state, session.message);
    } else {
        std::snprintf(text, capacity, " %s %s%s | %s: menu", options.device, options.settingsText,
                      state, prefix);
    }
}

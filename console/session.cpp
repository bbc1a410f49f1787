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
    const char* prompt = MenuPrompt();
    if (prompt[0] != '\0') {
        std::snprintf(text, capacity, " %s", prompt);
        return;
    }
    char prefix[16];
    FormatPrefixKey(options.prefixKey, prefix, sizeof prefix);
    char state[PathCapacity + 64];
    if (session.line < 0) {
        std::snprintf(state, sizeof state, "disconnected, waiting for %s", options.device);
    } else {
        std::snprintf(state, sizeof state, "%s %s", options.device, options.settingsText);
    }
    const char* last = session.message[0] != '\0' ? session.message : "menu";
    std::snprintf(text, capacity, " %s | %s%s%s", state, session.message[0] ? "" : prefix,
                  session.message[0] ? "" : ": ", last);
}

#include "console/menu.h"

MenuLevel menuLevel = MenuLevel::Closed;

static char LowerLetter(const TranslatedKey& key) {
    if (key.action != KeyAction::Byte) return 0;
    uint8_t b = key.byte;
    return char((b >= 'A' && b <= 'Z') ? b - 'A' + 'a' : b);
}

static MenuCommand Close(MenuCommand command) {
    menuLevel = MenuLevel::Closed;
    return command;
}

MenuCommand MenuKey(uint8_t prefixKey, const TranslatedKey& key) {
    bool isPrefix = key.action == KeyAction::Byte && key.byte == prefixKey;
    char letter = LowerLetter(key);
    switch (menuLevel) {
        case MenuLevel::Closed:
            if (!isPrefix) return MenuCommand::PassKey;
            menuLevel = MenuLevel::Top;
            return MenuCommand::Opened;
        case MenuLevel::Top:
            if (isPrefix) return Close(MenuCommand::SendPrefix);
            switch (letter) {
                case 'x': return Close(MenuCommand::Exit);
                case 'c': return Close(MenuCommand::Clear);
                case 's': menuLevel = MenuLevel::Send; return MenuCommand::Opened;
                case 'r': menuLevel = MenuLevel::Receive; return MenuCommand::Opened;
                default: return Close(MenuCommand::Cancelled);
            }
        case MenuLevel::Send:
            switch (letter) {
                case 'r': return Close(MenuCommand::SendRaw);
                case 'b': return Close(MenuCommand::SendBinary);
                case 't': return Close(MenuCommand::SendText);
                case 'e': return Close(MenuCommand::SendEnd);
                default: return Close(MenuCommand::Cancelled);
            }
        case MenuLevel::Receive:
            switch (letter) {
                case 'r': return Close(MenuCommand::ReceiveRaw);
                case 't': return Close(MenuCommand::ReceiveText);
                case 'e': return Close(MenuCommand::ReceiveEnd);
                default: return Close(MenuCommand::Cancelled);
            }
    }
    return Close(MenuCommand::Cancelled);
}

const char* MenuPrompt() {
    switch (menuLevel) {
        case MenuLevel::Top: return "menu: x exit  c clear  s send  r receive  (prefix again: send it)";
        case MenuLevel::Send: return "send: r raw  b binary  t text  e end";
        case MenuLevel::Receive: return "receive: r raw  t text  e end";
        default: return "";
    }
}

#include "console/menu.h"

namespace {

MenuCommand Close(MenuLevel& level, MenuCommand command) {
    level = MenuLevel::Closed;
    return command;
}

// Letters of the submenus, either case.
char LowerLetter(char letter) { return letter >= 'A' && letter <= 'Z' ? char(letter - 'A' + 'a') : letter; }

MenuCommand TopCommand(MenuLevel& level, char letter) {
    if (letter == 'D') return Close(level, MenuCommand::PulseDtr);  // d toggles
    switch (LowerLetter(letter)) {
        case 'x': return Close(level, MenuCommand::Exit);
        case 'c': return Close(level, MenuCommand::Clear);
        case 'l': return Close(level, MenuCommand::Redraw);
        case 'h': return Close(level, MenuCommand::History);
        case 'b': return Close(level, MenuCommand::Break);
        case 'd': return Close(level, MenuCommand::ToggleDtr);
        case 't': return Close(level, MenuCommand::ToggleRts);
        case 'm': return Close(level, MenuCommand::ModemLines);
        case 'p': return Close(level, MenuCommand::LineSettings);
        case 'f': return Close(level, MenuCommand::ToggleFlow);
        case 'a': return Close(level, MenuCommand::ToggleAnsi);
        case '7': return Close(level, MenuCommand::ToggleSevenBit);
        case 's': level = MenuLevel::Send; return MenuCommand::Opened;
        case 'r': level = MenuLevel::Receive; return MenuCommand::Opened;
        default: return Close(level, MenuCommand::Cancelled);
    }
}

}  // namespace

MenuCommand MenuKey(MenuLevel& level, uint8_t prefixKey, const TranslatedKey& key) {
    bool isPrefix = key.action == KeyAction::Byte && key.byte == prefixKey;
    char letter = key.action == KeyAction::Byte ? char(key.byte) : '\0';
    switch (level) {
        case MenuLevel::Closed:
            if (!isPrefix) return MenuCommand::PassKey;
            level = MenuLevel::Top;
            return MenuCommand::Opened;
        case MenuLevel::Top:
            if (isPrefix) return Close(level, MenuCommand::SendPrefix);
            return TopCommand(level, letter);
        case MenuLevel::Send:
            switch (LowerLetter(letter)) {
                case 'r': return Close(level, MenuCommand::SendRaw);
                case 'b': return Close(level, MenuCommand::SendBinary);
                case 't': return Close(level, MenuCommand::SendText);
                case 'e': return Close(level, MenuCommand::SendEnd);
                default: return Close(level, MenuCommand::Cancelled);
            }
        case MenuLevel::Receive:
            switch (LowerLetter(letter)) {
                case 'r': return Close(level, MenuCommand::ReceiveRaw);
                case 't': return Close(level, MenuCommand::ReceiveText);
                case 'e': return Close(level, MenuCommand::ReceiveEnd);
                default: return Close(level, MenuCommand::Cancelled);
            }
    }
    return Close(level, MenuCommand::Cancelled);
}

const char* MenuPrompt(MenuLevel level) {
    switch (level) {
        case MenuLevel::Top:
            return "menu: x exit  c clear  s send  r receive  h history  l redraw  p settings  "
                   "f flow  b break  d dtr  t rts  D reset  m modem  a ansi  7 7-bit  (prefix again: send it)";
        case MenuLevel::Send: return "send: r raw  b binary  t text  e end";
        case MenuLevel::Receive: return "receive: r raw  t text  e end";
        default: return "";
    }
}

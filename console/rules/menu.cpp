#include "console/rules/menu.h"

#include <cstdio>
#include <cstring>

namespace {

char OtherCase(char letter) {
    if (letter >= 'a' && letter <= 'z') return char(letter - 'a' + 'A');
    if (letter >= 'A' && letter <= 'Z') return char(letter - 'A' + 'a');
    return letter;
}

const MenuEntry* Find(const MenuTable& table, MenuLevel level, char letter) {
    for (unsigned i = 0; i < table.count; ++i) {
        const MenuEntry& e = table.entries[i];
        if (e.level == level && e.letter == letter) return &e;
    }
    return nullptr;
}

MenuStep Close(MenuLevel& level, MenuStepKind kind, const MenuEntry* entry = nullptr) {
    level = MenuLevel::Closed;
    return {kind, entry};
}

// Appends "x exit" (with two spaces before it unless first) if it fits.
// How a letter is shown: Tab by its name.
const char* LetterName(char letter, char* name) {
    if (letter == '\t') return "Tab";
    name[0] = letter;
    name[1] = '\0';
    return name;
}

bool AddItem(char* text, unsigned capacity, int width, char letter, const char* words) {
    size_t used = std::strlen(text);
    const char* gap = used > 0 && text[used - 1] == ':' ? " " : "  ";
    size_t item = std::strlen(gap) + 2 + std::strlen(words);
    if (used + item > size_t(width) || used + item + 1 > capacity) return false;
    char name[2];
    std::snprintf(text + used, capacity - used, "%s%s %s", gap, LetterName(letter, name), words);
    return true;
}

const char* LevelName(MenuLevel level) {
    switch (level) {
        case MenuLevel::Send: return "send:";
        case MenuLevel::Receive: return "receive:";
        default: return "menu:";
    }
}

// The letter that opens `level` from the top ("s" for Send).
char OpeningLetter(const MenuTable& table, MenuLevel level) {
    for (unsigned i = 0; i < table.count; ++i) {
        if (table.entries[i].run == nullptr && table.entries[i].opens == level)
            return table.entries[i].letter;
    }
    return '?';
}

}  // namespace

MenuStep MenuKey(MenuLevel& level, uint8_t prefixKey, const TranslatedKey& key, const MenuTable& table) {
    bool isPrefix = key.action == KeyAction::Byte && key.byte == prefixKey;
    if (level == MenuLevel::Closed) {
        if (!isPrefix) return {MenuStepKind::PassKey, nullptr};
        level = MenuLevel::Top;
        return {MenuStepKind::Opened, nullptr};
    }
    if (isPrefix && level == MenuLevel::Top) return Close(level, MenuStepKind::SendPrefix);
    // Left and Right are the replay's steps back and on, as < and >.
    bool arrow =
        key.action == KeyAction::Sequence && (key.key == TerminalKey::Left || key.key == TerminalKey::Right);
    if (!arrow && (key.action != KeyAction::Byte || key.byte == 0 || key.byte >= 0x80)) {
        return Close(level, MenuStepKind::Cancelled);
    }
    char letter = arrow ? (key.key == TerminalKey::Left ? '<' : '>') : char(key.byte);
    const MenuEntry* entry = Find(table, level, letter);
    if (entry == nullptr) entry = Find(table, level, OtherCase(letter));
    if (entry == nullptr) return Close(level, MenuStepKind::Cancelled);
    if (entry->run == nullptr) {
        level = entry->opens;
        return {MenuStepKind::Opened, nullptr};
    }
    return Close(level, MenuStepKind::Run, entry);
}

void ComposeMenuLine(MenuLevel level, const MenuTable& table, int width, char* text, unsigned capacity) {
    text[0] = '\0';
    if (level == MenuLevel::Closed || capacity == 0) return;
    const char help[] = "  ? help";
    bool top = level == MenuLevel::Top;
    int room = width - 1 - (top ? int(sizeof help - 1) : 0);  // the status line starts with a space
    std::snprintf(text, capacity, "%s", LevelName(level));
    for (unsigned i = 0; i < table.count; ++i) {
        const MenuEntry& e = table.entries[i];
        if (e.level != level || e.letter == '?' || e.words == nullptr) continue;
        if (!AddItem(text, capacity, room, e.letter, e.words)) break;
    }
    if (top) {
        size_t used = std::strlen(text);
        if (used + sizeof help <= capacity) std::snprintf(text + used, capacity - used, "%s", help);
    }
}

int ComposeHelpPage(const MenuTable& table, const char* prefixName, char* rows, int rowCount, int columns) {
    const int stride = columns + 1;
    for (int r = 0; r < rowCount; ++r) rows[r * stride] = '\0';
    if (rowCount < 3) return 0;
    std::snprintf(rows, size_t(stride), " The menu key (%s), then: (any key goes back)", prefixName);

    // Every entry that does something, then the prefix twice; opening
    // entries show as the first key of their submenu's lines.
    const int MaxItems = 64;
    char items[MaxItems][96];
    int count = 0;
    for (unsigned i = 0; i < table.count && count < MaxItems - 1; ++i) {
        const MenuEntry& e = table.entries[i];
        if (e.run == nullptr || e.help == nullptr) continue;
        char keys[16], name[2];
        if (e.level == MenuLevel::Top) {
            std::snprintf(keys, sizeof keys, "%s", e.letter == '1' ? "1-9" : LetterName(e.letter, name));
        } else {
            std::snprintf(keys, sizeof keys, "%c %c", OpeningLetter(table, e.level), e.letter);
        }
        std::snprintf(items[count++], sizeof items[0], "%-4s %s", keys, e.help);
    }
    std::snprintf(items[count++], sizeof items[0], "%-4s %s", "menu", "key again: send it to the host");

    int available = rowCount - 2;  // the title and a blank row
    int columnCount = count <= available ? 1 : 2;
    int perColumn = (count + columnCount - 1) / columnCount;
    if (perColumn > available) perColumn = available;  // cut rather than overflow
    int columnWidth = columnCount == 1 ? columns : columns / 2;
    for (int k = 0; k < count && k < perColumn * columnCount; ++k) {
        int row = 2 + k % perColumn;
        int column = k / perColumn;
        char* line = rows + row * stride;
        size_t used = std::strlen(line);
        int start = column * columnWidth;
        while (int(used) < start) line[used++] = ' ';
        line[used] = '\0';
        std::snprintf(line + used, size_t(stride) - used, "  %.*s", columnWidth - 3, items[k]);
    }
    return 2 + perColumn;
}

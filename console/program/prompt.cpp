#include "console/program/prompt.h"

#include "console/rules/keys.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <dirent.h>
#include <sys/stat.h>

namespace {

enum : int { Backspace = 8, Tab = 9, Delete = 127, CtrlC = 3, CtrlG = 7, CtrlU = 21, Space = 32 };

void Append(Prompt& prompt, const char* bytes, unsigned count) {
    if (prompt.length + count >= sizeof prompt.text) return;
    std::memcpy(prompt.text + prompt.length, bytes, count);
    prompt.length += count;
    prompt.text[prompt.length] = '\0';
}

void DeleteLastCharacter(Prompt& prompt) {
    // A UTF-8 character's continuation bytes go with it.
    while (prompt.length > 0 && (uint8_t(prompt.text[prompt.length - 1]) & 0xC0) == 0x80) --prompt.length;
    if (prompt.length > 0) --prompt.length;
    prompt.text[prompt.length] = '\0';
}

}  // namespace

void OpenPrompt(Prompt& prompt, const char* label, const char* initial) {
    prompt.active = true;
    std::snprintf(prompt.label, sizeof prompt.label, "%s", label);
    SetPromptText(prompt, initial);
}

void SetPromptText(Prompt& prompt, const char* text) {
    std::snprintf(prompt.text, sizeof prompt.text, "%s", text);
    prompt.length = unsigned(std::strlen(prompt.text));
}

PromptResult PromptKey(Prompt& prompt, int code, bool isKeyCode) {
    if (isKeyCode) {
        if (code == KEY_BACKSPACE || code == KEY_LEFT) DeleteLastCharacter(prompt);
        if (code == KEY_UP) return PromptResult::Up;
        if (code == KEY_DOWN) return PromptResult::Down;
        if (code != KEY_ENTER) return PromptResult::Editing;
        code = '\r';
    }
    switch (code) {
        case '\r':
        case '\n': prompt.active = false; return PromptResult::Accepted;
        case EscapeKey:
        case CtrlC:
        case CtrlG: prompt.active = false; return PromptResult::Cancelled;
        case Backspace:
        case Delete: DeleteLastCharacter(prompt); return PromptResult::Editing;
        case CtrlU: SetPromptText(prompt, ""); return PromptResult::Editing;
        case Tab: return PromptResult::Tab;
        default: break;
    }
    if (code < Space) return PromptResult::Editing;
    char bytes[MB_LEN_MAX];
    std::mbstate_t state = {};
    size_t count = std::wcrtomb(bytes, wchar_t(code), &state);
    if (count != size_t(-1)) Append(prompt, bytes, unsigned(count));
    return PromptResult::Editing;
}

unsigned CompleteFileName(const char* base, char* text, unsigned capacity, char* names,
                          unsigned namesCapacity) {
    const char* slash = std::strrchr(text, '/');
    size_t folderLength = slash != nullptr ? size_t(slash - text) + 1 : 0;
    const char* name = text + folderLength;
    size_t nameLength = std::strlen(name);

    char folderText[PathCapacity];
    char folder[PathCapacity];
    std::snprintf(folderText, sizeof folderText, "%.*s", int(folderLength), text);
    if (!ResolvePath(base, folderLength > 0 ? folderText : ".", folder, sizeof folder)) return 0;
    DIR* directory = opendir(folder);
    if (directory == nullptr) return 0;

    char shared[NAME_MAX + 1] = "";
    size_t sharedLength = 0;
    unsigned matches = 0;
    size_t listed = 0;
    if (names != nullptr && namesCapacity > 0) names[0] = '\0';
    while (const struct dirent* entry = readdir(directory)) {
        const char* candidate = entry->d_name;
        if (std::strcmp(candidate, ".") == 0 || std::strcmp(candidate, "..") == 0) continue;
        if (candidate[0] == '.' && name[0] != '.') continue;  // hidden unless asked for
        if (std::strncmp(candidate, name, nameLength) != 0) continue;
        if (names != nullptr && listed + 1 < namesCapacity) {
            int n = std::snprintf(names + listed, namesCapacity - listed, "%s%s", listed > 0 ? "  " : "",
                                  candidate);
            listed = n < 0 ? namesCapacity : std::min(size_t(namesCapacity) - 1, listed + size_t(n));
        }
        if (matches++ == 0) {
            std::snprintf(shared, sizeof shared, "%s", candidate);
            sharedLength = std::strlen(shared);
        } else {
            size_t i = 0;
            while (i < sharedLength && shared[i] == candidate[i]) ++i;
            sharedLength = i;
            shared[i] = '\0';
        }
    }
    closedir(directory);
    if (matches == 0) return 0;

    char completed[PathCapacity];
    int n = std::snprintf(completed, sizeof completed, "%s%s", folderText, shared);
    if (n < 0 || unsigned(n) >= sizeof completed) return matches;
    if (matches == 1) {
        char path[PathCapacity];
        struct stat status;
        if (ResolvePath(base, completed, path, sizeof path) && stat(path, &status) == 0 &&
            S_ISDIR(status.st_mode) && unsigned(n) + 1 < sizeof completed) {
            completed[n] = '/';
            completed[n + 1] = '\0';
        }
    }
    if (std::strlen(completed) < capacity) std::strcpy(text, completed);
    return matches;
}

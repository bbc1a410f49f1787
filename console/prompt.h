// A one-line editor on the status line, for file names: characters (UTF-8 in
// a UTF-8 locale), Backspace, Ctrl-U to clear, Tab to complete a name from
// the folder it is relative to, Enter to accept, Escape to cancel.
#ifndef BRISVANE_CONSOLE_PROMPT_H
#define BRISVANE_CONSOLE_PROMPT_H

#include "console/options.h"

enum class PromptResult { Editing, Accepted, Cancelled };

struct Prompt {
    bool active;
    char label[48];  // "send raw file"
    char text[PathCapacity];
    unsigned length;
};

extern Prompt prompt;

void OpenPrompt(const char* label);
// One key (as curses gave it) while the prompt is open. The prompt closes on
// Accepted and Cancelled; `prompt.text` keeps the accepted text.
PromptResult PromptKey(int code, bool isKeyCode);

// Completes the last name of `text` from the entries of its folder (taken
// relative to `base` unless `text` is absolute): to the whole name when one
// entry matches (with a '/' for a folder), else to what all matches share.
// Returns the number of matching entries.
unsigned CompleteFileName(const char* base, char* text, unsigned capacity);

// `text` relative to `base` (the current folder when `base` is empty) unless
// absolute. Returns false when the result does not fit.
bool ResolvePath(const char* base, const char* text, char* path, unsigned capacity);

#endif

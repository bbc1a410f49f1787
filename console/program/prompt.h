// A one-line editor on the status line, for file names, search text and
// line settings: characters (UTF-8 in a UTF-8 locale), Backspace, Ctrl-U to
// clear, Enter to accept, Escape (or Ctrl-C, Ctrl-G) to cancel. Tab, Up and
// Down are handed back to the caller, which completes a file name or steps
// through speeds. Also the file-name completion the prompts use (ResolvePath,
// which the completion builds on, is console/rules/options.h's).
#ifndef BRISVANE_CONSOLE_PROMPT_H
#define BRISVANE_CONSOLE_PROMPT_H

#include "console/rules/options.h"

enum class PromptResult { Editing, Accepted, Cancelled, Tab, Up, Down };

struct Prompt {
    bool active;
    char label[48];  // "send raw file"
    char text[PathCapacity];
    unsigned length;
};

void OpenPrompt(Prompt& prompt, const char* label, const char* initial);
void SetPromptText(Prompt& prompt, const char* text);
// One key (as curses gave it). The prompt closes on Accepted and Cancelled;
// `prompt.text` keeps the accepted text.
PromptResult PromptKey(Prompt& prompt, int code, bool isKeyCode);

// Completes the last name of `text` from the entries of its folder: to the
// whole name when one entry matches (with a '/' for a folder), else to what
// all matches share. Returns the number of matching entries, and lists
// their names in `names` (two spaces apart, cut to fit) when given.
unsigned CompleteFileName(const char* base, char* text, unsigned capacity, char* names,
                          unsigned namesCapacity);

#endif

// A message on the status line: what a command did, or why it was refused.
// It stays until the next key.
#ifndef BRISVANE_CONSOLE_NOTICE_H
#define BRISVANE_CONSOLE_NOTICE_H

const unsigned NoticeCapacity = 256;

struct Notice {
    char text[NoticeCapacity];  // empty: nothing to say
};

// Replaces the message, cut to fit.
void Say(Notice& notice, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Forget(Notice& notice);

#endif

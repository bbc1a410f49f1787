// A message on the status line: what a command did, or why it was refused.
// It stays until the next key; a hint that must outlive typing (the host
// seeing bit 7) stays until its expiry time instead.
#ifndef BRISVANE_CONSOLE_NOTICE_H
#define BRISVANE_CONSOLE_NOTICE_H

#include <cstdint>

const unsigned NoticeCapacity = 256;

struct Notice {
    char text[NoticeCapacity];  // empty: nothing to say
    int64_t expires;            // monotonic ms; 0: until the next key
};

// Replaces the message, cut to fit; it stays until the next key.
void Say(Notice& notice, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The same, gone by itself at `expires`.
void SayUntil(Notice& notice, int64_t expires, const char* format, ...) __attribute__((format(printf, 3, 4)));
void Forget(Notice& notice);

#endif

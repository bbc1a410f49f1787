// UUCP lock files, the lock other serial programs look for: a file
// LCK..NAME in the lock folder holding the owner's PID as ten characters,
// right-aligned, and a newline. NAME is the last part of the device path as
// given; for a link (a /dev/serial/by-id name) the device it points to gets
// a lock file too. A lock whose owner is alive means busy; a stale one is
// removed. Where the folder cannot be written, no lock file is made and
// nothing is said: the other locks still hold.
#ifndef BRISVANE_CONSOLE_UUCP_LOCK_H
#define BRISVANE_CONSOLE_UUCP_LOCK_H

#include <sys/types.h>

const unsigned LockPathCapacity = 1200;

struct UucpLock {
    char paths[2][LockPathCapacity];  // the lock files this program made
    unsigned count = 0;
};

enum class LockResult { Taken, Busy };

// The lock file names for `device` ("LCK..ttyUSB0"), and for `resolved`
// when it names another device (a link's target; null or empty: none).
// Returns how many (1 or 2) were written to `names`.
unsigned UucpLockNames(const char* device, const char* resolved, char names[2][256]);

// The owner in a lock file's text: ten characters with the PID, or the
// four-byte binary form older programs write. False when it holds none.
bool ParseLockOwner(const char* text, unsigned length, pid_t* pid);

// Takes the lock files for `device` in `folder` (normally /run/lock). On
// Busy, *holder is the owner's PID and nothing is held.
LockResult TakeUucpLock(const char* folder, const char* device, UucpLock* lock, pid_t* holder);
// Removes the lock files this program made; safe when none are held.
void ReleaseUucpLock(UucpLock* lock);

#endif

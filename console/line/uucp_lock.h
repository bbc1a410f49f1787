// UUCP lock files, the lock other serial programs look for: a file
// LCK..NAME in the lock folder holding the owner's PID as ten characters,
// right-aligned, and a newline. NAME comes from the device's real path,
// links resolved, so a /dev/serial/by-id name and the device it points to
// share one lock: the path after /dev/ (after the leading / for a device
// elsewhere), each further / made _ ("ttyUSB0" for /dev/ttyUSB0, "pts_3"
// for /dev/pts/3). A lock whose owner is alive means busy; a stale one is
// removed. Where the folder cannot be written, no lock file is made and
// nothing is said: the other locks still hold.
#ifndef BRISVANE_CONSOLE_UUCP_LOCK_H
#define BRISVANE_CONSOLE_UUCP_LOCK_H

#include <sys/types.h>

const unsigned LockPathCapacity = 1200;

struct UucpLock {
    char paths[1][LockPathCapacity];  // the lock file this program made
    unsigned count = 0;
};

enum class LockResult { Taken, Busy };

// The lock file's name for a device whose real path is `resolved`
// ("LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3). A name
// too long for `capacity` is cut.
void UucpLockName(const char* resolved, char* name, unsigned capacity);

// The owner in a lock file's text: ten characters with the PID, or the
// four-byte binary form older programs write. False when it holds none.
bool ParseLockOwner(const char* text, unsigned length, pid_t* pid);

// Takes the lock files for `device` in `folder` (normally /run/lock). On
// Busy, *holder is the owner's PID and nothing is held.
LockResult TakeUucpLock(const char* folder, const char* device, UucpLock* lock, pid_t* holder);
// Removes the lock files this program made; safe when none are held.
void ReleaseUucpLock(UucpLock* lock);

#endif

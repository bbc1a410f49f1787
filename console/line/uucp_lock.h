// UUCP lock files, the lock other serial programs look for: a file
// LCK..NAME in the lock folder holding the owner's PID as ten characters,
// right-aligned, and a newline. Other programs name it from the path they
// were given, so a device is locked under two names: its real node's, links
// resolved, and the name it was given (a /dev/serial/by-id link, a link in a
// lab's own folder) when that differs. A live lock under either means busy;
// a stale one is removed. Where the folder cannot be written, no lock file
// is made and nothing is said: the other locks still hold.
#ifndef BRISVANE_CONSOLE_UUCP_LOCK_H
#define BRISVANE_CONSOLE_UUCP_LOCK_H

#include <sys/types.h>

const unsigned LockPathCapacity = 1200;

struct UucpLock {
    char paths[2][LockPathCapacity];  // the lock files this program made
    unsigned count = 0;
};

enum class LockResult { Taken, Busy };

// The lock file's name for the device path `path`, as other programs make
// it: under /dev/ the rest with each / made _ ("LCK..ttyUSB0" for
// /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3), elsewhere its last part
// ("LCK..board1" for /lab/board1). A name too long for `capacity` is cut.
void UucpLockName(const char* path, char* name, unsigned capacity);

// The owner in a lock file's text: ten characters with the PID, or the
// four-byte binary form older programs write. False when it holds none.
bool ParseLockOwner(const char* text, unsigned length, pid_t* pid);

// Takes the lock files for `device` (as given) in `folder` (normally
// /run/lock). On Busy, *holder is the owner's PID and nothing is held.
LockResult TakeUucpLock(const char* folder, const char* device, UucpLock* lock, pid_t* holder);
// Removes the lock files this program made; safe when none are held.
void ReleaseUucpLock(UucpLock* lock);

#endif

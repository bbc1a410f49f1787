#include "console/line/uucp_lock.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char LockPrefix[] = "LCK..";
const unsigned OwnerTextLength = 11;  // "%10d\n"

bool OwnerAlive(pid_t pid) {
    if (pid <= 0) return false;
    if (pid == getpid()) return false;  // ours, left by an earlier open
    return kill(pid, 0) == 0 || errno == EPERM;
}

// Reads the owner of an existing lock file; -1 when unreadable or empty.
pid_t ReadOwner(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return -1;
    char text[64];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    pid_t pid;
    return n > 0 && ParseLockOwner(text, unsigned(n), &pid) ? pid : -1;
}

enum class Made { Yes, Busy, Skipped };

Made MakeLockFile(const char* path, pid_t* holder) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            char text[OwnerTextLength + 1];
            std::snprintf(text, sizeof text, "%10d\n", int(getpid()));
            bool written = write(fd, text, OwnerTextLength) == ssize_t(OwnerTextLength);
            close(fd);
            if (written) return Made::Yes;
            unlink(path);
            return Made::Skipped;
        }
        if (errno != EEXIST) return Made::Skipped;  // no lock folder we may write
        pid_t owner = ReadOwner(path);
        if (OwnerAlive(owner)) {
            *holder = owner;
            return Made::Busy;
        }
        unlink(path);  // stale: its owner is gone
    }
    return Made::Skipped;
}

}  // namespace

void UucpLockName(const char* path, char* name, unsigned capacity) {
    const char* part = path;
    if (std::strncmp(part, "/dev/", 5) == 0) {
        part += 5;
        while (*part == '/') ++part;
    } else if (const char* slash = std::strrchr(part, '/')) {
        part = slash + 1;
    }
    int n = std::snprintf(name, capacity, "%s%s", LockPrefix, part);
    unsigned length = n < 0 ? 0 : unsigned(n) < capacity ? unsigned(n) : capacity - 1;
    for (unsigned i = sizeof LockPrefix - 1; i < length; ++i) {
        if (name[i] == '/') name[i] = '_';
    }
}

bool ParseLockOwner(const char* text, unsigned length, pid_t* pid) {
    if (length == sizeof(int32_t)) {  // the old binary form
        int32_t binary;
        std::memcpy(&binary, text, sizeof binary);
        *pid = pid_t(binary);
        return binary > 0;
    }
    unsigned i = 0;
    while (i < length && text[i] == ' ') ++i;
    long value = 0;
    unsigned digits = 0;
    while (i < length && text[i] >= '0' && text[i] <= '9' && digits < 10) {
        value = value * 10 + (text[i++] - '0');
        ++digits;
    }
    if (digits == 0 || value <= 0 || value > INT_MAX) return false;
    *pid = pid_t(value);
    return true;
}

LockResult TakeUucpLock(const char* folder, const char* device, UucpLock* lock, pid_t* holder) {
    ReleaseUucpLock(lock);
    char resolved[PATH_MAX];
    // A device not there yet (waiting for it) is named as given.
    if (realpath(device, resolved) == nullptr) std::snprintf(resolved, sizeof resolved, "%s", device);
    char names[2][256];
    UucpLockName(resolved, names[0], sizeof names[0]);
    UucpLockName(device, names[1], sizeof names[1]);
    unsigned count = std::strcmp(names[0], names[1]) == 0 ? 1 : 2;
    for (unsigned i = 0; i < count; ++i) {
        char path[LockPathCapacity];
        std::snprintf(path, sizeof path, "%s/%s", folder, names[i]);
        switch (MakeLockFile(path, holder)) {
            case Made::Yes: std::snprintf(lock->paths[lock->count++], LockPathCapacity, "%s", path); break;
            case Made::Busy: ReleaseUucpLock(lock); return LockResult::Busy;
            case Made::Skipped: break;
        }
    }
    return LockResult::Taken;
}

void ReleaseUucpLock(UucpLock* lock) {
    for (unsigned i = 0; i < lock->count; ++i) unlink(lock->paths[i]);
    lock->count = 0;
}

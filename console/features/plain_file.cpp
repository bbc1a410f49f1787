#include "console/features/plain_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsNullDevice(const struct stat& status) {
    struct stat null;
    return S_ISCHR(status.st_mode) && stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
           status.st_rdev == null.st_rdev;
}

}  // namespace

PlainFile OpenPlainFile(const char* path, int flags, bool allowNull, int* fd, unsigned mode) {
    *fd = -1;
    // Non-blocking, so that a FIFO's open does not wait for its other end.
    int opened = open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    struct stat status;
    if (opened < 0) {
        // A FIFO without a reader refuses a non-blocking writer (ENXIO):
        // say what it is rather than why it refused.
        int error = errno;
        bool named = stat(path, &status) == 0;
        errno = error;
        if (error == EISDIR || (named && S_ISDIR(status.st_mode))) return PlainFile::Folder;
        if (named && !S_ISREG(status.st_mode) && !(allowNull && IsNullDevice(status)))
            return PlainFile::NotPlain;
        return PlainFile::Failed;
    }
    PlainFile result = PlainFile::Opened;
    if (fstat(opened, &status) != 0) {
        result = PlainFile::Failed;
    } else if (S_ISDIR(status.st_mode)) {
        result = PlainFile::Folder;
    } else if (!S_ISREG(status.st_mode) && !(allowNull && IsNullDevice(status))) {
        result = PlainFile::NotPlain;
    }
    if (result != PlainFile::Opened) {
        int error = errno;
        close(opened);
        errno = error;
        return result;
    }
    *fd = opened;
    return result;
}

PlainFile CheckPlainFile(const char* path, bool allowNull) {
    struct stat status;
    if (stat(path, &status) != 0) return errno == ENOENT ? PlainFile::Opened : PlainFile::Failed;
    if (S_ISDIR(status.st_mode)) return PlainFile::Folder;
    if (!S_ISREG(status.st_mode) && !(allowNull && IsNullDevice(status))) return PlainFile::NotPlain;
    return PlainFile::Opened;
}

const char* PlainFileProblem(PlainFile result, int error) {
    switch (result) {
        case PlainFile::Opened: return "";
        case PlainFile::Failed: return std::strerror(error);
        case PlainFile::Folder: return "is a folder, not a file";
        case PlainFile::NotPlain: return "not a plain file";
    }
    return "";
}

#include "console/features/log_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// path.n into `out`; false when it does not fit.
bool Numbered(const char* path, unsigned n, char* out, unsigned capacity) {
    int length = std::snprintf(out, capacity, "%s.%u", path, n);
    return length > 0 && unsigned(length) < capacity;
}

}  // namespace

PlainFile OpenLogFile(const char* path, const LogFileMode& mode, bool allowNull, int* fd) {
    PlainFile opened = OpenPlainFile(path, O_WRONLY | O_CREAT | O_APPEND, allowNull, fd, mode.mode);
    struct stat status;
    if (opened != PlainFile::Opened || fstat(*fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != geteuid())
        return opened;
    unsigned wanted = mode.mode;
    // Without the group the file stays ours alone.
    if (mode.group >= 0 && gid_t(mode.group) != status.st_gid &&
        fchown(*fd, uid_t(-1), gid_t(mode.group)) != 0)
        wanted = 0600;
    if ((status.st_mode & 07777) != wanted) fchmod(*fd, wanted);
    return opened;
}

int RotateLogFiles(const char* path, unsigned keep) {
    char from[4096], to[4096];
    if (keep == 0) return unlink(path) == 0 || errno == ENOENT ? 0 : errno;
    if (!Numbered(path, keep, to, sizeof to)) return ENAMETOOLONG;
    // The oldest kept falls off by being renamed over.
    for (unsigned n = keep - 1; n >= 1; --n) {
        if (!Numbered(path, n, from, sizeof from) || !Numbered(path, n + 1, to, sizeof to))
            return ENAMETOOLONG;
        if (rename(from, to) != 0 && errno != ENOENT) return errno;
    }
    if (!Numbered(path, 1, to, sizeof to)) return ENAMETOOLONG;
    if (rename(path, to) != 0 && errno != ENOENT) return errno;
    return 0;
}

void LogWriter::Began(const char* path, const LogRotation& rotation, const LogFileMode& mode) {
    if (path != path_) std::snprintf(path_, sizeof path_, "%s", path);
    rotation_ = rotation;
    mode_ = mode;
    struct stat status;
    regular_ = fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    size_ = regular_ ? uint64_t(status.st_size) : 0;
    lineEnded_ = true;  // a file appended to is taken to end a line
    written = 0;
}

bool LogWriter::Write(const uint8_t* bytes, unsigned count) {
    unsigned done = 0;
    while (done < count) {
        ssize_t n = write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (failure == 0) failure = n < 0 ? errno : EIO;
            break;
        }
        done += unsigned(n);
    }
    written += done;
    size_ += done;
    if (done > 0) lineEnded_ = bytes[done - 1] == '\n';
    return done == count;
}

// The file is closed before any rename, and the new one opened at the
// same name.
bool LogWriter::Rotate() {
    close(fd);
    fd = -1;
    int failed = RotateLogFiles(path_, rotation_.keep);
    if (failed != 0) {
        std::snprintf(problem_, sizeof problem_, "log %s: cannot rotate: %s", path_, std::strerror(failed));
        return false;
    }
    PlainFile opened = OpenLogFile(path_, mode_, false, &fd);
    if (opened != PlainFile::Opened) {
        std::snprintf(problem_, sizeof problem_, "log %s: cannot open it anew: %s", path_,
                      PlainFileProblem(opened, errno));
        return false;
    }
    Began(path_, rotation_, mode_);
    return true;
}

void LogWriter::WriteOut() {
    unsigned at = 0;
    while (at < length && fd >= 0) {
        LogRotation rotation = rotation_;
        if (!regular_) rotation.maxBytes = 0;  // /dev/null never grows
        LogCut cut = CutLogWrite(rotation, size_, lineEnded_, bytes_ + at, length - at);
        // A failed write is the writer's own failure path: no rotation on top.
        if (cut.write > 0 && !Write(bytes_ + at, cut.write)) break;
        at += cut.write;
        if (cut.rotate && !Rotate()) break;
    }
    length = 0;
}

bool LogWriter::TakeProblem(char* text, unsigned capacity) {
    if (problem_[0] == '\0') return false;
    std::snprintf(text, capacity, "%s", problem_);
    problem_[0] = '\0';
    return true;
}

bool LogWriter::Reopen(char* text, unsigned capacity) {
    if (fd >= 0) close(fd);
    PlainFile opened = OpenLogFile(path_, mode_, false, &fd);
    if (opened != PlainFile::Opened) {
        std::snprintf(text, capacity, "cannot make it again: %s", PlainFileProblem(opened, errno));
        return false;
    }
    Began(path_, rotation_, mode_);
    return true;
}

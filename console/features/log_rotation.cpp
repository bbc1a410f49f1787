#include "console/features/log_rotation.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/features/plain_file.h"

namespace {

// path.n into `out`; false when it does not fit.
bool Numbered(const char* path, unsigned n, char* out, unsigned capacity) {
    int length = std::snprintf(out, capacity, "%s.%u", path, n);
    return length > 0 && unsigned(length) < capacity;
}

}  // namespace

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

Rotated RotateIfDue(const LogRotation& rotation, const char* path, BufferedWriter& writer, char* problem,
                    unsigned capacity) {
    if (rotation.maxBytes == 0 || writer.fd < 0) return Rotated::No;
    writer.WriteOut();
    if (writer.failure != 0) return Rotated::No;  // the writer's own failure path says it
    struct stat status;
    if (fstat(writer.fd, &status) != 0 || uint64_t(status.st_size) < rotation.maxBytes) return Rotated::No;
    // /dev/null and the like never grow; a plain file only is rotated.
    if (!S_ISREG(status.st_mode)) return Rotated::No;
    close(writer.fd);
    writer.fd = -1;
    int failure = RotateLogFiles(path, rotation.keep);
    if (failure != 0) {
        std::snprintf(problem, capacity, "log %s: cannot rotate: %s", path, std::strerror(failure));
        return Rotated::Failed;
    }
    PlainFile opened = OpenPlainFile(path, O_WRONLY | O_CREAT | O_APPEND, false, &writer.fd);
    if (opened != PlainFile::Opened) {
        std::snprintf(problem, capacity, "log %s: cannot open it anew: %s", path,
                      PlainFileProblem(opened, errno));
        return Rotated::Failed;
    }
    writer.written = 0;
    return Rotated::Yes;
}

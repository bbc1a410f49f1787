#include "console/features/junit_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "console/features/plain_file.h"
#include "console/line/clock.h"

bool OpenJunitFile(JunitFile& file, const char* path, const char* classname, char* problem,
                   unsigned capacity) {
    int fd;
    PlainFile opened = OpenPlainFile(path, O_WRONLY | O_CREAT | O_TRUNC, true, &fd, 0644);
    if (opened != PlainFile::Opened) {
        std::snprintf(problem, capacity, "--junit %s: %s", path, PlainFileProblem(opened, errno));
        return false;
    }
    file.fd = fd;
    std::snprintf(file.path, sizeof file.path, "%s", path);
    file.classname = classname;
    file.started = MonotonicMilliseconds();
    time_t now = std::time(nullptr);
    struct tm local;
    char text[64] = "";
    if (localtime_r(&now, &local) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    file.timestamp = text;
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) == 0) file.hostname = host;
    return true;
}

bool WriteJunitFile(JunitFile& file, const std::string& document, char* problem, unsigned capacity) {
    if (file.fd < 0) return true;
    const char* at = document.data();
    size_t left = document.size();
    int error = 0;
    while (left > 0) {
        ssize_t wrote = write(file.fd, at, left);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            error = wrote < 0 ? errno : ENOSPC;
            break;
        }
        at += wrote;
        left -= size_t(wrote);
    }
    if (close(file.fd) != 0 && error == 0) error = errno;
    file.fd = -1;
    if (error == 0) return true;
    std::snprintf(problem, capacity, "--junit %s: %s", file.path, std::strerror(error));
    return false;
}

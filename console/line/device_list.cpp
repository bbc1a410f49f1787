#include "console/line/device_list.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

static int CompareNames(const struct dirent** a, const struct dirent** b) {
    return std::strcmp((*a)->d_name, (*b)->d_name);
}

static bool IsSerialName(const char* name) {
    return std::strncmp(name, "ttyUSB", 6) == 0 || std::strncmp(name, "ttyACM", 6) == 0 ||
           std::strncmp(name, "ttyS", 4) == 0;
}

// A ttyS entry exists for every possible port; only one with a UART answers.
static bool Answers(const char* path) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct termios attributes;
    bool answers = tcgetattr(fd, &attributes) == 0;
    close(fd);
    return answers;
}

void ListSerialDevices(FILE* out) {
    static const char ById[] = "/dev/serial/by-id";
    char path[PATH_MAX];
    char target[PATH_MAX];
    struct dirent** entries = nullptr;
    int count = scandir(ById, &entries, nullptr, CompareNames);
    for (int i = 0; i < count; ++i) {
        if (entries[i]->d_name[0] != '.') {
            std::snprintf(path, sizeof path, "%s/%s", ById, entries[i]->d_name);
            if (realpath(path, target) != nullptr) {
                std::fprintf(out, "%s -> %s\n", path, target);
            } else {
                std::fprintf(out, "%s\n", path);
            }
        }
        std::free(entries[i]);
    }
    std::free(entries);

    count = scandir("/dev", &entries, nullptr, CompareNames);
    for (int i = 0; i < count; ++i) {
        if (IsSerialName(entries[i]->d_name)) {
            std::snprintf(path, sizeof path, "/dev/%s", entries[i]->d_name);
            if (Answers(path)) std::fprintf(out, "%s\n", path);
        }
        std::free(entries[i]);
    }
    std::free(entries);
}

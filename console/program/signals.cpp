#include "console/program/signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// The one thing a handler must reach.
static int pipeWriteEnd = -1;

static void Catch(int number) {
    int saved = errno;
    unsigned char byte = (unsigned char)number;
    ssize_t ignored = write(pipeWriteEnd, &byte, 1);
    (void)ignored;
    errno = saved;
}

int InstallSignalPipe() {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return -1;
    pipeWriteEnd = ends[1];
    struct sigaction action = {};
    action.sa_handler = Catch;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    static const int Caught[] = {SIGWINCH, SIGCONT, SIGTERM, SIGHUP, SIGINT, SIGQUIT};
    for (int number : Caught) sigaction(number, &action, nullptr);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;  // an end, not a stop
    sigaction(SIGCHLD, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return ends[0];
}

void ResetChildSignal() {
    signal(SIGCHLD, SIG_DFL);
    sigset_t child;  // a blocked one would never wake the loop
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    sigprocmask(SIG_UNBLOCK, &child, nullptr);
}

int NextSignal(int pipeReadEnd) {
    unsigned char byte;
    return read(pipeReadEnd, &byte, 1) == 1 ? byte : 0;
}

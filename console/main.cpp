// brisvane for Unix terminals: start-up and shutdown.
//
// Exit codes: 0 after the user exits, 1 when it cannot start (one line on
// stderr says why and what to do) or the device is lost with reconnecting
// off, 2 for a usage error, 128 + N after a terminating signal N.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "console/device_list.h"
#include "console/display.h"
#include "console/keys.h"
#include "console/local_line.h"
#include "console/loop.h"
#include "console/options.h"
#include "console/session.h"
#include "console/signals.h"
#include "console/transfers.h"
#include "core/output_queue.h"
#include "core/screen.h"
#include "link/transfer.h"

#ifndef BRISVANE_VERSION
#define BRISVANE_VERSION "2.4"
#endif

static const char Usage[] =
    "usage: brisvane DEVICE [SETTINGS] [--home DIR] [--interval MS] [--prefix KEY]\n"
    "                [--flow rtscts|none] [--no-reconnect]\n"
    "       brisvane --list | --help | --version\n";

static const char Help[] =
    "\n"
    "A 24 x 80 character terminal for a host on the serial line DEVICE.\n"
    "\n"
    "  SETTINGS        speed,parity,data,stop (default 9600,n,8,1), or\n"
    "                  'baud=9600 parity=n data=8 stop=1'\n"
    "  --home DIR      folder that file names for sending and capturing start from\n"
    "  --interval MS   pause after each byte of a text send (0..10000, default 0)\n"
    "  --prefix KEY    the menu key, such as C-a (the default) or ^B\n"
    "  --flow F        rtscts (the default) or none, for three-wire cables\n"
    "  --no-reconnect  exit when the device goes away instead of waiting for it\n"
    "  --list          show the serial devices present\n"
    "\n"
    "The menu key then x exits, c clears the screen, s sends a file, r captures\n"
    "what arrives; the menu key twice sends it to the host.\n";

static int Fail(const char* message) {
    std::fprintf(stderr, "brisvane: %s\n", message);
    return 1;
}

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    char problem[256];
    if (!ParseOptions(argc, argv, &options, problem, sizeof problem)) {
        std::fprintf(stderr, "brisvane: %s\n%s", problem, Usage);
        return 2;
    }
    switch (options.action) {
        case ProgramAction::Help:
            std::printf("%s%s", Usage, Help);
            return 0;
        case ProgramAction::Version:
            std::printf("brisvane %s\n", BRISVANE_VERSION);
            return 0;
        case ProgramAction::List:
            ListSerialDevices(stdout);
            return 0;
        case ProgramAction::Run:
            break;
    }

    struct stat home;
    if (options.homeDirectory[0] != '\0' &&
        (stat(options.homeDirectory, &home) != 0 || !S_ISDIR(home.st_mode))) {
        char text[PathCapacity + 64];
        std::snprintf(text, sizeof text, "%s: no such folder (give --home an existing folder)",
                      options.homeDirectory);
        return Fail(text);
    }
    char message[512];
    OpenFailure failure;
    session.line = OpenLine(options.device, options.line, options.hardwareFlow, message,
                            sizeof message, &failure);
    if (session.line < 0) return Fail(message);
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        CloseLine(session.line);
        return Fail("the keyboard and screen must be a terminal (run it in a terminal window)");
    }
    int signalPipe = InstallSignalPipe();
    if (signalPipe < 0) {
        CloseLine(session.line);
        return Fail("cannot set up signal handling");
    }
    characterInterval = options.characterInterval;
    sendState = SendState::Idle;
    receiveMode = ReceiveMode::Off;
    outputQueue.count = 0;
    ResetScreen();
    if (!StartDisplay()) {
        CloseLine(session.line);
        return Fail("this terminal cannot be driven (is TERM set?)");
    }
    LearnTerminalKeys();
    RepaintAll();

    RunConsoleLoop(signalPipe);

    StopDisplay();
    CloseTransfers();
    CloseLine(session.line);
    if (session.exitCode == 1 && !options.reconnect) {
        std::fprintf(stderr, "brisvane: %s: the device went away (disconnected)\n", options.device);
    }
    return session.exitCode;
}

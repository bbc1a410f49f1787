// The browser pages on the console (--web): the options made into the
// server's settings, the screen shown to the pages at each flush, and what
// the writer's page sends taken to the line. The local terminal writes as
// it always does; a page that holds the token and takes the line writes
// beside it, one page at a time.
#ifndef BRISVANE_CONSOLE_WEB_PAGES_H
#define BRISVANE_CONSOLE_WEB_PAGES_H

#include <poll.h>

#include "console/features/web/web_server.h"

struct Session;

// Starts serving when --web was given (true and nothing done otherwise).
// False with a message: the program then exits 2.
bool StartWebPages(Session& console, char* message, unsigned capacity);
void StopWebPages(Session& console);

// The loop's calls: descriptors (room for WebMaxDescriptors), what poll
// said, its deadline, and the screen at each flush.
unsigned WebPagesDescriptors(const Session& console, struct pollfd* fds);
void ServeWebPages(Session& console, const struct pollfd* fds, unsigned count);
int64_t WebPagesDeadline(const Session& console, int64_t now);
void ShowWebPages(Session& console);

#endif

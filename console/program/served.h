// The served line's glue to the console: what main, the loop, the menu and
// the status line call, so each of them gains a line or two and the served
// line's own modules stay free of the console.
//
// Attaching (--attach): the console's line is an AttachLine, kept also in
// Session::attached for its role and roster. Serving (--serve, or any
// --share of a served line): Session::server instead of the raw share.
#ifndef BRISVANE_CONSOLE_SERVED_H
#define BRISVANE_CONSOLE_SERVED_H

#include <cstdint>
#include <memory>

#include "console/features/log_file.h"
#include "console/rules/reaction.h"

struct Session;
class FrontEnd;

// Makes the console's line the served line --attach names, saying hello
// with --watch or --take and --token's token. False with a one-line
// message (a bad address, a token file refused).
bool MakeAttachLine(Session& console, char* message, unsigned capacity);
// True when the console's line is reached over a connection that is
// retried with a growing back-off: a network line or a served one.
bool BacksOff(const Session& console);

// Menu commands: take the line (or hand it back when it is ours), list who
// is attached and since when.
Reaction TakeTheLine(Session& console, int64_t now);
Reaction ListAttached(Session& console, int64_t now);

// Serving (--serve with --share): opens Session::server for the --share
// address with the access rules of the options (share-write, share-watch,
// share-raw-watch, --share-token). False with a one-line message.
bool OpenServed(Session& console, char* message, unsigned capacity);
// A served line's port accepters (--share rfc2217:... and tcp-raw:...), as
// members of its roster. False with a one-line message; *usage when the
// command line or profile was at fault (a form, an address not allowed).
bool OpenPortShares(Session& console, char* message, unsigned capacity, bool* usage);
// The journal's first line: the line, its settings and every accepter.
void SayServing(const Session& console);
// How a served line's logs are made: 0640 with the group when share-write
// and share-watch name one group and no other (its members may read what
// the socket lets them watch), else 0600. Lists that do not parse give
// 0600 (OpenServed then refuses them).
LogFileMode ServedLogMode(const ConsoleOptions& options);
// --serve's front end: no terminal; what is said goes to standard error.
std::unique_ptr<FrontEnd> ServeFrontEnd();
// The loop's timed row: a served line's hello waits and refusals, its
// notices for the journal, and its script's role (a writer of its own kind,
// paused while a client holds the line).
int64_t ServedDue(const Session& console);
Reaction ServedTimers(Session& console, int64_t now);
// The loop's timed row for RFC 2217 clients that asked for the modem or
// line state: the line's modem inputs read at most every 100 ms, and only
// while one asked.
int64_t PortStateDue(const Session& console);
Reaction PollPortState(Session& console, int64_t now);
// One line on standard error, stamped with the local time: a served line's
// messages, for a service manager's journal.
void SayServed(const char* text);

// "writing, 2 others" or "watching, 1 other" while attached, after
// "disconnected, waiting for DEVICE | " while the served line's device is
// away; false otherwise.
bool AttachedStatus(const Session& console, char* text, unsigned capacity);
// False while attached to a served line whose own line is away: the
// counters count that as the line's going, and its return as a reconnect.
bool ServedLineUp(const Session& console);

#endif

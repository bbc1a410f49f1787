// Who is attached to a served line, since when, and who writes: the one
// write policy of every kind of client (attached clients, browser pages,
// RFC 2217 and raw TCP clients, raw watchers, the server's script). The
// sockets only ask it: whether a client of a kind may have a seat
// (RosterSeatFree), the right to write it joins with (RosterMayWrite), what
// a member's input meets (RosterInputFrom) and whether its take succeeds
// (RosterAskTake).
//
// Seats: each kind has a bound of its own (RosterSeats). A client takes one
// only once its identity or token is known; port clients and raw watchers
// carry none, so theirs are bounded apart and never one of an attached
// client's or a page's. The roster has room for every seat of the kinds
// that are members (raw watchers are not), so a member is never refused for
// another kind's.
//
// One writer at a time. The first client to join that may write and asked
// to becomes the writer; later ones watch. Taking the line moves the writer
// role at once, and the one who had it is told who took it. A script run on
// the server is a member of its own kind: while it holds the line clients
// watch; a client that takes the line pauses it, and it gets the line back
// when that client gives it back or leaves. A person's leaving frees the
// line for the next one who asks.
//
// Every change of role is reported in RoleChanges, for the caller to tell
// the clients (and the script) concerned. Pure: no I/O, no allocation;
// a fixed table of RosterMax members. Browser pages join as one more kind.
#ifndef BRISVANE_CONSOLE_ROSTER_H
#define BRISVANE_CONSOLE_ROSTER_H

#include <cstdint>

#include "console/rules/wire.h"

const unsigned RosterNameCapacity = 64;
const uint16_t RosterNobody = 0;

// The kinds of the served line's clients, each with seats of its own.
enum class SeatKind : uint8_t { Attached, Page, Port, Raw, Script };
const unsigned SeatKinds = 5;
// Attached clients, pages, port clients, raw watchers, the script.
constexpr unsigned RosterSeats[SeatKinds] = {16, 16, 8, 8, 1};
constexpr unsigned RosterSeatsOf(SeatKind kind) { return RosterSeats[unsigned(kind)]; }
// Every member's seat: raw watchers are no members.
const unsigned RosterMax = RosterSeatsOf(SeatKind::Attached) + RosterSeatsOf(SeatKind::Page) +
                           RosterSeatsOf(SeatKind::Port) + RosterSeatsOf(SeatKind::Script);
static_assert(RosterMax <= WireRosterMax, "the roster goes whole on the wire");

struct RosterMember {
    uint16_t id;  // RosterNobody: a free slot
    SeatKind seat;
    WireClientKind kind;
    bool mayWrite;      // the access rules let it write
    int64_t since;      // when it joined, seconds since the epoch
    int64_t lastInput;  // when it last sent anything of its own (its joining at first)
    char name[RosterNameCapacity];
    char from[RosterNameCapacity];  // where it is, as W shows it
};

struct RoleChange {
    uint16_t id;    // whose role changed
    WireRole role;  // its role now
    uint16_t by;    // who made it so (RosterNobody: its own join, give or the server)
};

struct RoleChanges {
    unsigned count = 0;
    RoleChange change[2];
};

struct Roster {
    RosterMember member[RosterMax] = {};
    uint16_t writer = RosterNobody;
    uint16_t nextId = 1;
    // After a restart: until graceUntil (monotonic ms) the line is kept for
    // the one who wrote before it, once a client's return shows the server
    // restarted (restarted).
    int64_t graceUntil = 0;
    bool restarted = false;
};

// After the server starts, a client that reattaches says what it was
// (WirePast). Until `until` (the grace, monotonic ms) the one who was
// writing takes the line back on joining, whoever got it meanwhile; once a
// client came back (the server restarted), others join watching and a take
// is refused, until the writer is back or the grace ends. A fresh start
// with fresh clients is not held up: nothing shows a restart there.
void RosterGrace(Roster& roster, int64_t until);
// The ask a hello joins with at `now` (monotonic ms), by the rule above.
WireAsk RosterAskAfterRestart(Roster& roster, WireAsk ask, WirePast past, int64_t now);
// Whole seconds (rounded up) the line is still kept; 0: not kept.
unsigned RosterKept(const Roster& roster, int64_t now);

// Whether one more client of `kind` may have a seat, `taken` of its kind
// having one now.
inline bool RosterSeatFree(SeatKind kind, unsigned taken) { return taken < RosterSeatsOf(kind); }
// Members of the roster in seats of `kind`.
unsigned RosterSeated(const Roster& roster, SeatKind kind);
// The right to write a client of `kind` joins with. `granted` is what its
// own check found: the lists or the token let an attached client write, a
// page came with a session, the profile lets port clients write. A raw
// watcher never writes; the server's script always may.
bool RosterMayWrite(SeatKind kind, bool granted);

// Adds a member in a seat of `seat` (`kind`: what it is on the wire), with
// the right RosterMayWrite gives it: a writer when the line is free, it may
// write and it did not ask to watch; a Take asks for the line even when it
// is held. Returns its id, or RosterNobody when its kind has no seat free.
uint16_t RosterJoin(Roster& roster, SeatKind seat, WireClientKind kind, const char* name, int64_t since,
                    bool granted, WireAsk ask, RoleChanges* changes);
// Removes a member; a writer's leaving hands the line back to a paused
// script, or frees it.
void RosterLeave(Roster& roster, uint16_t id, RoleChanges* changes);
// `id` takes the line. False (nothing changes) when it may not write.
bool RosterTake(Roster& roster, uint16_t id, RoleChanges* changes);
// A member asks for the line at `now` (monotonic ms): Kept while it is kept
// for the one who wrote before a restart (`*kept` seconds more), WatchOnly
// when it may not write; otherwise it has it (Taken).
enum class TakeAnswer : uint8_t { Taken, Kept, WatchOnly };
TakeAnswer RosterAskTake(Roster& roster, uint16_t id, int64_t now, unsigned* kept, RoleChanges* changes);
// What a member's bytes or controls meet: the line (Write), or a watcher's
// hint, to take the line first (Take) or that it may only watch.
enum class InputAnswer : uint8_t { Write, Take, WatchOnly };
InputAnswer RosterInputFrom(const Roster& roster, uint16_t id);
// The writer hands the line back (to a paused script), or frees it.
void RosterGive(Roster& roster, uint16_t id, RoleChanges* changes);

// Where a member is ("uid 1000", an address, a page's), and its input,
// for W's list and idle time.
void RosterSetFrom(Roster& roster, uint16_t id, const char* from);
void RosterInput(Roster& roster, uint16_t id, int64_t now);

const RosterMember* RosterFind(const Roster& roster, uint16_t id);
inline bool RosterWrites(const Roster& roster, uint16_t id) {
    return id != RosterNobody && roster.writer == id;
}
// A script is a member and does not hold the line.
bool RosterScriptPaused(const Roster& roster);
// Members other than `id`.
unsigned RosterOthers(const Roster& roster, uint16_t id);
// The whole roster in its wire form, in order of joining, idle times as at
// `now` (seconds since the epoch).
void RosterToWire(const Roster& roster, int64_t now, WireRoster* wire);

#endif

// Who is attached to a served line, since when, and who writes.
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

const unsigned RosterMax = WireRosterMax;
const unsigned RosterNameCapacity = 64;
const uint16_t RosterNobody = 0;

struct RosterMember {
    uint16_t id;  // RosterNobody: a free slot
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

// Adds a member: a writer when the line is free, it may write and it did
// not ask to watch; a Take asks for the line even when it is held. Returns
// its id, or RosterNobody when the table is full.
uint16_t RosterJoin(Roster& roster, WireClientKind kind, const char* name, int64_t since, bool mayWrite,
                    WireAsk ask, RoleChanges* changes);
// Removes a member; a writer's leaving hands the line back to a paused
// script, or frees it.
void RosterLeave(Roster& roster, uint16_t id, RoleChanges* changes);
// `id` takes the line. False (nothing changes) when it may not write.
bool RosterTake(Roster& roster, uint16_t id, RoleChanges* changes);
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

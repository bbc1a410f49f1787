#include "console/rules/roster.h"

#include <cstdio>
#include <cstring>

namespace {

RosterMember* Find(Roster& roster, uint16_t id) {
    if (id == RosterNobody) return nullptr;
    for (RosterMember& m : roster.member) {
        if (m.id == id) return &m;
    }
    return nullptr;
}

void Note(RoleChanges* changes, uint16_t id, WireRole role, uint16_t by) {
    if (changes == nullptr || changes->count == 2) return;
    changes->change[changes->count++] = {id, role, by};
}

// The script waiting for the line back, if there is one.
uint16_t PausedScript(const Roster& roster) {
    for (const RosterMember& m : roster.member) {
        if (m.id != RosterNobody && m.kind == WireClientKind::Script && m.id != roster.writer) return m.id;
    }
    return RosterNobody;
}

// The line goes to `id` (may be RosterNobody); the one who had it is told.
void Hand(Roster& roster, uint16_t id, uint16_t by, RoleChanges* changes) {
    uint16_t had = roster.writer;
    if (had == id) return;
    roster.writer = id;
    if (had != RosterNobody && Find(roster, had) != nullptr) Note(changes, had, WireRole::Watching, by);
    if (id != RosterNobody) Note(changes, id, WireRole::Writing, by == id ? RosterNobody : by);
}

}  // namespace

const RosterMember* RosterFind(const Roster& roster, uint16_t id) {
    return Find(const_cast<Roster&>(roster), id);
}

unsigned RosterSeated(const Roster& roster, SeatKind kind) {
    unsigned count = 0;
    for (const RosterMember& m : roster.member) count += m.id != RosterNobody && m.seat == kind ? 1 : 0;
    return count;
}

bool RosterMayWrite(SeatKind kind, bool granted) {
    switch (kind) {
        case SeatKind::Raw: return false;
        case SeatKind::Script: return true;
        default: return granted;
    }
}

uint16_t RosterJoin(Roster& roster, SeatKind seat, WireClientKind kind, const char* name, int64_t since,
                    bool granted, WireAsk ask, RoleChanges* changes) {
    if (seat == SeatKind::Raw || !RosterSeatFree(seat, RosterSeated(roster, seat))) return RosterNobody;
    RosterMember* slot = nullptr;
    for (RosterMember& m : roster.member) {
        if (m.id == RosterNobody) {
            slot = &m;
            break;
        }
    }
    if (slot == nullptr) return RosterNobody;
    // Ids are not reused soon: a late message about a member who left must
    // not reach the next one.
    do {
        if (++roster.nextId == RosterNobody) ++roster.nextId;
    } while (Find(roster, roster.nextId) != nullptr);
    slot->id = roster.nextId;
    slot->seat = seat;
    slot->kind = kind;
    slot->mayWrite = RosterMayWrite(seat, granted) && kind != WireClientKind::Raw;
    slot->since = slot->lastInput = since;
    std::snprintf(slot->name, sizeof slot->name, "%s", name);
    slot->from[0] = '\0';
    bool free = roster.writer == RosterNobody;
    if (slot->mayWrite && (ask == WireAsk::Take || (ask == WireAsk::Write && free))) {
        Hand(roster, slot->id, slot->id, changes);
    }
    return slot->id;
}

void RosterLeave(Roster& roster, uint16_t id, RoleChanges* changes) {
    RosterMember* m = Find(roster, id);
    if (m == nullptr) return;
    m->id = RosterNobody;
    if (roster.writer == id) {
        roster.writer = RosterNobody;
        uint16_t script = PausedScript(roster);
        if (script != RosterNobody) Hand(roster, script, RosterNobody, changes);
    }
}

bool RosterTake(Roster& roster, uint16_t id, RoleChanges* changes) {
    RosterMember* m = Find(roster, id);
    if (m == nullptr || !m->mayWrite) return false;
    Hand(roster, id, id, changes);
    return true;
}

TakeAnswer RosterAskTake(Roster& roster, uint16_t id, int64_t now, unsigned* kept, RoleChanges* changes) {
    *kept = RosterKept(roster, now);
    if (*kept > 0) return TakeAnswer::Kept;
    return RosterTake(roster, id, changes) ? TakeAnswer::Taken : TakeAnswer::WatchOnly;
}

InputAnswer RosterInputFrom(const Roster& roster, uint16_t id) {
    if (RosterWrites(roster, id)) return InputAnswer::Write;
    const RosterMember* m = RosterFind(roster, id);
    return m != nullptr && m->mayWrite ? InputAnswer::Take : InputAnswer::WatchOnly;
}

void RosterGive(Roster& roster, uint16_t id, RoleChanges* changes) {
    if (!RosterWrites(roster, id)) return;
    uint16_t script = PausedScript(roster);
    if (script == id) script = RosterNobody;
    roster.writer = RosterNobody;
    Note(changes, id, WireRole::Watching, RosterNobody);
    if (script != RosterNobody) Hand(roster, script, RosterNobody, changes);
}

bool RosterScriptPaused(const Roster& roster) { return PausedScript(roster) != RosterNobody; }

unsigned RosterOthers(const Roster& roster, uint16_t id) {
    unsigned count = 0;
    for (const RosterMember& m : roster.member) {
        if (m.id != RosterNobody && m.id != id) ++count;
    }
    return count;
}

void RosterSetFrom(Roster& roster, uint16_t id, const char* from) {
    RosterMember* m = Find(roster, id);
    if (m != nullptr) std::snprintf(m->from, sizeof m->from, "%s", from);
}

void RosterInput(Roster& roster, uint16_t id, int64_t now) {
    RosterMember* m = Find(roster, id);
    if (m != nullptr) m->lastInput = now;
}

void RosterToWire(const Roster& roster, int64_t now, WireRoster* wire) {
    wire->count = 0;
    // Slots are reused, so order by id: the order of joining.
    uint16_t after = 0;
    for (unsigned n = 0; n < RosterMax; ++n) {
        const RosterMember* next = nullptr;
        for (const RosterMember& m : roster.member) {
            if (m.id != RosterNobody && m.id > after && (next == nullptr || m.id < next->id)) next = &m;
        }
        if (next == nullptr) break;
        after = next->id;
        WireRosterEntry& e = wire->entry[wire->count++];
        e.id = next->id;
        e.role = RosterWrites(roster, next->id) ? WireRole::Writing : WireRole::Watching;
        e.kind = next->kind;
        e.since = next->since;
        e.idle = now > next->lastInput ? uint32_t(now - next->lastInput) : 0;
        std::snprintf(e.name.text, WireRosterTextMax + 1, "%s", next->name);
        e.name.length = uint8_t(std::strlen(e.name.text));
        std::snprintf(e.from.text, WireRosterTextMax + 1, "%s", next->from);
        e.from.length = uint8_t(std::strlen(e.from.text));
    }
}

void RosterGrace(Roster& roster, int64_t until) {
    roster.graceUntil = until;
    roster.restarted = false;
}

WireAsk RosterAskAfterRestart(Roster& roster, WireAsk ask, WirePast past, int64_t now) {
    if (now >= roster.graceUntil) return ask;
    if (past == WirePast::Wrote) {
        roster.graceUntil = 0;  // the line is back with its writer: the keep ends
        return WireAsk::Take;
    }
    if (past == WirePast::Watched) roster.restarted = true;
    return roster.restarted ? WireAsk::Watch : ask;
}

unsigned RosterKept(const Roster& roster, int64_t now) {
    if (!roster.restarted || now >= roster.graceUntil) return 0;
    return unsigned((roster.graceUntil - now + 999) / 1000);
}

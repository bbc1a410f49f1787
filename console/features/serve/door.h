// The door of a served line: connections that have not yet said who they
// are wait here, apart from the attached clients' slots, so a stranger, an
// idle connection or a token guesser never holds a slot a known client
// needs.
//
// Each waiting connection counts for its peer: its user on a UNIX socket,
// its address on TCP (an IPv6 address by its /64, what one host is given).
// The door holds ServeDoorWaiting connections in all and
// ServeDoorWaitingPerPeer of one peer; DoorRoom says whether one more of a
// peer fits. What happens at the door is logged once per peer per
// DoorQuietMilliseconds (DoorSays), however often it happens.
//
// Pure, but for DoorPeerOfAddress reading a socket address.
#ifndef BRISVANE_CONSOLE_SERVE_DOOR_H
#define BRISVANE_CONSOLE_SERVE_DOOR_H

#include <cstdint>
#include <sys/socket.h>

const unsigned ServeDoorWaiting = 12;
const unsigned ServeDoorWaitingPerPeer = 3;
const unsigned DoorRecords = 32;  // peers remembered for the log
const int64_t DoorQuietMilliseconds = 60000;

struct DoorPeer {
    uint8_t kind;  // 0 not known, 1 a user, 4 an IPv4 address, 6 an IPv6 /64
    uint8_t bytes[16];
};

DoorPeer DoorPeerOfUser(bool known, uint32_t uid);
// The peer of an accepted TCP connection's address; an IPv4 address
// mapped into IPv6 counts as the IPv4 one.
DoorPeer DoorPeerOfAddress(const struct sockaddr* address, socklen_t length);
bool SameDoorPeer(const DoorPeer& a, const DoorPeer& b);
// An address as text ("127.0.0.1", "2001:db8:1:2::/64"); a user as its id.
void DoorPeerText(const DoorPeer& peer, char* text, unsigned capacity);

enum class DoorRoom : uint8_t { Room, PeerFull, Full };
// Whether one more connection of `peer` may wait, given the peers of those
// that wait now.
DoorRoom DoorRoomFor(const DoorPeer* waiting, unsigned count, const DoorPeer& peer);

struct DoorLog {
    struct Record {
        bool used;
        DoorPeer peer;
        int64_t said;    // when its last line was logged
        unsigned quiet;  // lines not logged since
    } record[DoorRecords];
};

// Whether a line about `peer` at `now` is logged: its first, then one each
// DoorQuietMilliseconds. When it is, `*quiet` is how many were not logged
// since the one before. A new peer takes the place of the one logged
// longest ago.
bool DoorSays(DoorLog& log, const DoorPeer& peer, int64_t now, unsigned* quiet);

#endif

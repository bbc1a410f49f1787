// Who may attach to a served line, and as what.
//
// On a UNIX socket the kernel tells who the peer is (SO_PEERCRED: uid and
// gid; SO_PEERGROUPS: its other groups). The profile's share-write and
// share-watch keys name users and groups, "alice, @lab, 1001, @20" (a group
// starts with @; numbers are ids). With neither key, the server's own user
// writes and nobody else may attach. The socket's mode follows the lists:
// 0600 when only the owner may connect, 0666 when they name anyone else, so
// the connect reaches the server's own check, which decides in every case.
//
// On TCP there is no peer to ask: a client proves itself with a token, the
// contents of a file (--share-token FILE) the server reads once at start-up
// and refuses when group or others may read it. A wrong token is refused
// only after WrongTokenDelayMilliseconds, kept as a deadline by the caller
// (the loop never sleeps), and compared in a time that does not depend on
// where it differs.
//
// Everything but ReadPeer, ReadTokenFile and the name look-ups in
// ParseAccessList is pure.
#ifndef BRISVANE_CONSOLE_SERVE_ACCESS_H
#define BRISVANE_CONSOLE_SERVE_ACCESS_H

#include <cstdint>

#include "console/rules/wire.h"

const unsigned AccessListMax = 32;
const unsigned PeerGroupsMax = 64;
const int64_t WrongTokenDelayMilliseconds = 1000;
// A client that says no hello in this time is dropped (or, where the
// profile allows raw watchers, kept as one).
const int64_t HelloWaitMilliseconds = 3000;

struct AccessList {
    unsigned count = 0;
    struct Entry {
        bool group;
        uint32_t id;
    } entry[AccessListMax];
};

// Reads a comma list of users and groups (names or numbers, groups with a
// leading @; blanks around items ignored) into ids. False with a one-line
// `problem` for a name not known here, an empty item or too many.
bool ParseAccessList(const char* text, AccessList* list, char* problem, unsigned capacity);

struct Peer {
    bool known;  // false: the kernel did not say (TCP, or a failed call)
    uint32_t uid;
    uint32_t gid;
    unsigned groupCount;
    uint32_t groups[PeerGroupsMax];
};

// The peer of a connected UNIX socket: SO_PEERCRED, and SO_PEERGROUPS where
// the kernel has it (else the primary group alone). known is false when the
// kernel would not say.
Peer ReadPeer(int fd);

enum class PeerAccess : uint8_t { Refused, Watch, Write };

struct AccessRules {
    uint32_t owner;        // the server's own uid
    bool listsGiven;       // share-write or share-watch was set
    AccessList write;      // may write (and so watch)
    AccessList watch;      // may watch
    bool tcp;              // a TCP share: the token decides
    unsigned tokenLength;  // 0: no token (a TCP share then refuses everyone)
    uint8_t token[WireTokenCapacity];
    bool rawWatch;  // share-raw-watch: clients without a hello may watch
};

// What `peer` may do on a UNIX socket by the lists (the owner alone writes
// when no list was given).
PeerAccess PeerAccessOf(const AccessRules& rules, const Peer& peer);

// The socket's mode for these rules: 0600 or 0666.
unsigned ShareSocketMode(const AccessRules& rules);

// Equal lengths and bytes, in a time that depends only on the capacity.
bool TokensEqual(const uint8_t* a, unsigned aLength, const uint8_t* b, unsigned bLength);

struct Admission {
    PeerAccess access;   // Refused, or the most the client may do
    WireRole role;       // what it gets now, before the roster's say
    const char* reason;  // when refused: one line for the client and the log
    bool delayed;        // refused for a wrong token: say so only after the delay
};

// Decides a client's hello: the version, then the peer (UNIX) or the token
// (TCP), then what it asked for. A client that may only watch and asked to
// write is let in as a watcher; role is Writing only when it asked to write
// or take and may. Whether the line is free is the roster's business.
Admission Admit(const AccessRules& rules, const Peer& peer, const WireHello& hello);

// Reads the token from `path`: refused (false, with a one-line `problem`
// naming --share-token or --token by `option`) when it is not a plain file,
// group or others may read it, it is empty, longer than WireTokenCapacity,
// or holds a control byte (below 0x20, or 0x7f: a NUL among them). One
// trailing newline (or CR LF) is not part of it.
bool ReadTokenFile(const char* option, const char* path, uint8_t* token, unsigned* length, char* problem,
                   unsigned capacity);

#endif

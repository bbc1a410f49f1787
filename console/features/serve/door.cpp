#include "console/features/serve/door.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>

DoorPeer DoorPeerOfUser(bool known, uint32_t uid) {
    DoorPeer peer = {};
    if (!known) return peer;
    peer.kind = 1;
    std::memcpy(peer.bytes, &uid, sizeof uid);
    return peer;
}

DoorPeer DoorPeerOfAddress(const struct sockaddr* address, socklen_t length) {
    DoorPeer peer = {};
    if (address->sa_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in))) {
        peer.kind = 4;
        std::memcpy(peer.bytes, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
    } else if (address->sa_family == AF_INET6 && length >= socklen_t(sizeof(sockaddr_in6))) {
        const in6_addr& at = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&at)) {
            peer.kind = 4;
            std::memcpy(peer.bytes, at.s6_addr + 12, 4);
        } else {
            // One host is given a /64: its addresses are one peer.
            peer.kind = 6;
            std::memcpy(peer.bytes, at.s6_addr, 8);
        }
    }
    return peer;
}

bool SameDoorPeer(const DoorPeer& a, const DoorPeer& b) {
    return a.kind == b.kind && std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
}

void DoorPeerText(const DoorPeer& peer, char* text, unsigned capacity) {
    char address[INET6_ADDRSTRLEN] = "?";
    if (peer.kind == 1) {
        uint32_t uid;
        std::memcpy(&uid, peer.bytes, sizeof uid);
        std::snprintf(text, capacity, "uid %u", uid);
    } else if (peer.kind == 4) {
        inet_ntop(AF_INET, peer.bytes, address, sizeof address);
        std::snprintf(text, capacity, "%s", address);
    } else if (peer.kind == 6) {
        inet_ntop(AF_INET6, peer.bytes, address, sizeof address);
        std::snprintf(text, capacity, "%s/64", address);
    } else {
        std::snprintf(text, capacity, "an unknown peer");
    }
}

DoorRoom DoorRoomFor(const DoorPeer* waiting, unsigned count, const DoorPeer& peer) {
    unsigned same = 0;
    for (unsigned i = 0; i < count; ++i) same += SameDoorPeer(waiting[i], peer) ? 1 : 0;
    if (same >= ServeDoorWaitingPerPeer) return DoorRoom::PeerFull;
    return count >= ServeDoorWaiting ? DoorRoom::Full : DoorRoom::Room;
}

bool DoorSays(DoorLog& log, const DoorPeer& peer, int64_t now, unsigned* quiet) {
    DoorLog::Record* found = nullptr;
    DoorLog::Record* oldest = &log.record[0];
    for (DoorLog::Record& r : log.record) {
        if (r.used && SameDoorPeer(r.peer, peer)) found = &r;
        if (!r.used) {
            if (oldest->used) oldest = &r;
        } else if (oldest->used && r.said < oldest->said) {
            oldest = &r;
        }
    }
    if (found != nullptr && now - found->said < DoorQuietMilliseconds) {
        ++found->quiet;
        return false;
    }
    if (found == nullptr) {
        found = oldest;
        found->used = true;
        found->peer = peer;
        found->quiet = 0;
    }
    *quiet = found->quiet;
    found->quiet = 0;
    found->said = now;
    return true;
}

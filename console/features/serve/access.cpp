#include "console/features/serve/access.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <initializer_list>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/features/plain_file.h"

namespace {

bool Listed(const AccessList& list, const Peer& peer) {
    for (unsigned i = 0; i < list.count; ++i) {
        const AccessList::Entry& e = list.entry[i];
        if (!e.group) {
            if (e.id == peer.uid) return true;
            continue;
        }
        if (e.id == peer.gid) return true;
        for (unsigned g = 0; g < peer.groupCount; ++g) {
            if (peer.groups[g] == e.id) return true;
        }
    }
    return false;
}

// A number that is all digits, or -1.
long long Number(const char* text) {
    if (*text == '\0') return -1;
    for (const char* at = text; *at != '\0'; ++at) {
        if (!std::isdigit(uint8_t(*at))) return -1;
    }
    errno = 0;
    unsigned long long value = std::strtoull(text, nullptr, 10);
    return errno != 0 || value > 0xfffffffeULL ? -1 : (long long)value;
}

bool Resolve(const char* item, bool group, uint32_t* id) {
    long long number = Number(item);
    if (number >= 0) {
        *id = uint32_t(number);
        return true;
    }
    char buffer[4096];
    if (group) {
        struct group entry, *found = nullptr;
        if (getgrnam_r(item, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return false;
        *id = found->gr_gid;
    } else {
        struct passwd entry, *found = nullptr;
        if (getpwnam_r(item, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return false;
        *id = found->pw_uid;
    }
    return true;
}

}  // namespace

bool ParseAccessList(const char* text, AccessList* list, char* problem, unsigned capacity) {
    list->count = 0;
    const char* at = text;
    for (;;) {
        while (*at == ' ' || *at == '\t') ++at;
        const char* end = std::strchr(at, ',');
        if (end == nullptr) end = at + std::strlen(at);
        const char* last = end;
        while (last > at && (last[-1] == ' ' || last[-1] == '\t')) --last;
        char item[256];
        size_t length = size_t(last - at);
        bool group = length > 0 && at[0] == '@';
        if (group) {
            ++at;
            --length;
        }
        if (length == 0 || length >= sizeof item) {
            std::snprintf(problem, capacity, "an empty or overlong user or group in \"%s\"", text);
            return false;
        }
        std::memcpy(item, at, length);
        item[length] = '\0';
        if (list->count == AccessListMax) {
            std::snprintf(problem, capacity, "more than %u users and groups", AccessListMax);
            return false;
        }
        AccessList::Entry& entry = list->entry[list->count];
        entry.group = group;
        if (!Resolve(item, group, &entry.id)) {
            std::snprintf(problem, capacity, "no %s \"%s\" here", group ? "group" : "user", item);
            return false;
        }
        ++list->count;
        if (*end == '\0') return true;
        at = end + 1;
    }
}

Peer ReadPeer(int fd) {
    Peer peer = {};
    struct ucred credentials;
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) {
        return peer;
    }
    peer.known = true;
    peer.uid = credentials.uid;
    peer.gid = credentials.gid;
#ifdef SO_PEERGROUPS
    gid_t groups[PeerGroupsMax];
    socklen_t groupsSize = sizeof groups;
    // More groups than we keep: the call fails, and the primary group alone counts.
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups, &groupsSize) == 0) {
        peer.groupCount = unsigned(groupsSize / sizeof groups[0]);
        for (unsigned i = 0; i < peer.groupCount; ++i) peer.groups[i] = groups[i];
    }
#endif
    return peer;
}

PeerAccess PeerAccessOf(const AccessRules& rules, const Peer& peer) {
    if (!peer.known) return PeerAccess::Refused;
    if (!rules.listsGiven) return peer.uid == rules.owner ? PeerAccess::Write : PeerAccess::Refused;
    if (Listed(rules.write, peer)) return PeerAccess::Write;
    if (Listed(rules.watch, peer)) return PeerAccess::Watch;
    return PeerAccess::Refused;
}

unsigned ShareSocketMode(const AccessRules& rules) {
    for (const AccessList* list : {&rules.write, &rules.watch}) {
        for (unsigned i = 0; i < list->count; ++i) {
            if (list->entry[i].group || list->entry[i].id != rules.owner) return 0666;
        }
    }
    return 0600;
}

bool TokensEqual(const uint8_t* a, unsigned aLength, const uint8_t* b, unsigned bLength) {
    unsigned difference = aLength ^ bLength;
    for (unsigned i = 0; i < WireTokenCapacity; ++i) {
        uint8_t x = i < aLength ? a[i] : 0, y = i < bLength ? b[i] : 0;
        difference |= unsigned(x ^ y);
    }
    return difference == 0 && aLength <= WireTokenCapacity;
}

Admission Admit(const AccessRules& rules, const Peer& peer, const WireHello& hello) {
    Admission refused = {PeerAccess::Refused, WireRole::Watching, "", false};
    if (hello.version != WireVersion) {
        refused.reason = "this server speaks another version of the attach protocol";
        return refused;
    }
    PeerAccess access;
    if (rules.tcp) {
        if (rules.tokenLength == 0) {
            refused.reason = "this share has no token: it takes no attached clients";
            return refused;
        }
        if (!TokensEqual(rules.token, rules.tokenLength, hello.token, hello.tokenLength)) {
            refused.reason =
                hello.tokenLength == 0 ? "this share needs a token (--token FILE)" : "wrong token";
            refused.delayed = true;
            return refused;
        }
        access = PeerAccess::Write;
    } else {
        access = PeerAccessOf(rules, peer);
        if (access == PeerAccess::Refused) {
            refused.reason = peer.known ? "your user is not on this line's share-write or share-watch list"
                                        : "the kernel would not say who you are";
            return refused;
        }
    }
    bool writes = access == PeerAccess::Write && hello.ask != WireAsk::Watch;
    return {access, writes ? WireRole::Writing : WireRole::Watching, "", false};
}

bool ReadTokenFile(const char* option, const char* path, uint8_t* token, unsigned* length, char* problem,
                   unsigned capacity) {
    *length = 0;
    int fd;
    PlainFile opened = OpenPlainFile(path, O_RDONLY, false, &fd);
    if (opened != PlainFile::Opened) {
        std::snprintf(problem, capacity, "%s %s: %s", option, path, PlainFileProblem(opened, errno));
        return false;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || (status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        std::snprintf(problem, capacity, "%s %s: group or others may read it (chmod 600 it)", option, path);
        close(fd);
        return false;
    }
    uint8_t buffer[WireTokenCapacity + 3];
    ssize_t n;
    unsigned got = 0;
    while (got < sizeof buffer && (n = read(fd, buffer + got, sizeof buffer - got)) > 0) got += unsigned(n);
    close(fd);
    if (got > 0 && buffer[got - 1] == '\n') --got;
    if (got > 0 && buffer[got - 1] == '\r') --got;
    if (got == 0 || got > WireTokenCapacity) {
        std::snprintf(problem, capacity, "%s %s: %s", option, path,
                      got == 0 ? "holds no token" : "a token is at most 128 bytes");
        return false;
    }
    // A token is compared whole, as bytes; one with a control byte could
    // not be typed into a login form, and a NUL would cut it as text.
    for (unsigned i = 0; i < got; ++i) {
        if (buffer[i] < 0x20 || buffer[i] == 0x7f) {
            std::snprintf(
                problem, capacity,
                "%s %s: the token holds a control byte (0x%02x at byte %u): a token is printable text",
                option, path, buffer[i], i + 1);
            return false;
        }
    }
    std::memcpy(token, buffer, got);
    *length = got;
    return true;
}

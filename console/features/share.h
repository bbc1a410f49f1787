// The line shared with other programs (--share): a listening socket, UNIX or
// TCP, and up to ShareMaxClients clients on it.
//
// Every client gets what the host sends, byte for byte, as it arrives. Its
// socket is one of the served line's client layer (serve/clients.h: one
// accept path, one backlog and drop rule, one fan-out): a client that does
// not keep up has its bytes wait in a buffer of its own (ClientBacklog
// bytes, taken when it connects); when that fills, it is dropped with a
// notice, so it never holds up the line or the screen. What
// a client writes goes to the line through the send callback (the console's
// one way out, which gives it the terminal's byte rule for bit 7); what it
// does not take yet, the client is not read again until it has, so nothing
// is lost. Clients are read only while the
// line is open; one that ends its writing half has left. More clients than
// ShareMaxClients are refused with a notice.
//
// The loop's calls, each pass: ShareDescriptors before poll, ServeShare
// after; the receive chain gives it every block read from the line.
#ifndef BRISVANE_CONSOLE_SHARE_H
#define BRISVANE_CONSOLE_SHARE_H

#include <cstdint>
#include <poll.h>

#include "console/features/serve/clients.h"
#include "console/rules/notice.h"
#include "console/rules/share_address.h"
#include "console/rules/sink.h"

const unsigned ShareMaxClients = 8;
const unsigned ShareMaxDescriptors = ShareMaxClients + 1;  // and the listener
const unsigned ShareInputCapacity = 4096;

struct ShareClient : ClientSocket {     // host bytes it has not taken yet wait in its backlog
    uint8_t input[ShareInputCapacity];  // read from it, not yet in the pump
    unsigned inputStart = 0, inputEnd = 0;
};

struct Share {
    int listener = -1;  // -1: not sharing
    bool unixSocket = false;
    char path[SharePathCapacity] = {};  // removed at close if still ours
    uint64_t device = 0, inode = 0;
    unsigned clients = 0;
    bool acceptPaused = false;  // out of descriptors: until a client leaves
    ShareClient client[ShareMaxClients];

    Share() = default;
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;
    ~Share();  // closes it all, as CloseShare
};

// Gives a client's bytes to the line (the console's one way out) and
// returns how many it took; the client keeps the rest for later.
typedef unsigned (*ShareSend)(void* user, const uint8_t* bytes, unsigned count);

// What a pass of the loop lends the share.
struct ShareTargets {
    Notice& notice;
    bool lineOpen;  // clients are read only then
    ShareSend send;
    void* user;
};

// Opens the listening socket for `text` (a --share value). A UNIX socket is
// made mode 0600; a stale socket file at its path (nobody listening) is
// replaced, anything else there is refused. False with a one-line message.
bool OpenShare(Share& share, const char* text, char* message, unsigned capacity);
// Closes every client and the listener, and removes the UNIX socket's file.
// Safe when not sharing.
void CloseShare(Share& share);

// Sends each client what waits for it and moves its waiting input into the
// pump, then fills `fds` (room for ShareMaxDescriptors) with what to wait
// for and returns how many.
unsigned ShareDescriptors(Share& share, ShareTargets& targets, struct pollfd* fds);
// Acts on what poll reported for the descriptors ShareDescriptors gave:
// accepts, reads, writes and drops clients.
void ServeShare(Share& share, ShareTargets& targets, const struct pollfd* fds, unsigned count);

// Host bytes just read from the line: kept for every client, to be sent
// before the next wait.
void ShareReceived(Share& share, Notice& notice, const uint8_t* bytes, unsigned count);

// The share as a raw sink of the receive chain. It has room always: a
// client that does not keep up is dropped, never waited for.
class ShareSink : public ReceiveSink {
public:
    ShareSink(Share& share, Notice& notice) : share_(share), notice_(notice) {}
    void Take(const uint8_t* bytes, unsigned count, const struct timespec&) override {
        ShareReceived(share_, notice_, bytes, count);
    }

private:
    Share& share_;
    Notice& notice_;
};

#endif

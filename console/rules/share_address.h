// Where --share listens, as the option gives it. Pure.
#ifndef BRISVANE_CONSOLE_SHARE_ADDRESS_H
#define BRISVANE_CONSOLE_SHARE_ADDRESS_H

const unsigned SharePathCapacity = 108;  // a UNIX socket's path, as the kernel takes it

// "unix:PATH", "tcp:PORT" (127.0.0.1) or "tcp:HOST:PORT" (HOST may be
// "[::1]"), taken apart. Pure.
struct ShareAddress {
    bool unixSocket;
    char path[SharePathCapacity];
    char host[256];
    char port[6];
};
// False with a one-line `problem` for a form that is not one of those.
bool ParseShareAddress(const char* text, ShareAddress* address, const char** problem);

// "unix:PATH", "tcp:HOST:PORT", or a NAME for /run/brisvane/NAME.sock,
// into a share address. False with a one-line `problem`.
bool ParseAttachAddress(const char* text, ShareAddress* address, const char** problem);

#endif

#include "console/line/resolver.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <pthread.h>
#include <unistd.h>

namespace {

// Lookups stuck on a dead name server pile up no further than this.
const int MostRunning = 4;
std::atomic<int> running(0);

struct Job {
    char host[256];
    char port[8];
    int fd;  // the thread's end, closed when it has posted
};

void Lookup(const Job& job, ResolvedAddresses* result) {
    std::memset(result, 0, sizeof *result);
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;  // every family: the caller skips those that cannot connect
    addrinfo* found = nullptr;
    result->error = getaddrinfo(job.host, job.port, &hints, &found);
    for (addrinfo* entry = found; entry != nullptr && result->count < ResolvedAddresses::Capacity;
         entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
        std::memcpy(&result->address[result->count], entry->ai_addr, entry->ai_addrlen);
        result->length[result->count++] = entry->ai_addrlen;
    }
    if (found != nullptr) freeaddrinfo(found);
    if (result->error == 0 && result->count == 0) result->error = EAI_NONAME;
}

// `lookUp` false: no thread could take it, and the loop's thread must never
// wait on a name server, so the answer is "try again".
void Post(Job* job, bool lookUp) {
    ResolvedAddresses result;
    if (lookUp) {
        Lookup(*job, &result);
    } else {
        std::memset(&result, 0, sizeof result);
        result.error = EAI_AGAIN;
    }
    // One message: a reader that went away makes this fail quietly.
    send(job->fd, &result, sizeof result, MSG_NOSIGNAL);
    close(job->fd);
    delete job;
}

void* Run(void* job) {
    Post(static_cast<Job*>(job), true);
    --running;
    return nullptr;
}

}  // namespace

bool Resolver::Start(const char* host, uint16_t port) {
    Cancel();
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
    fd_ = ends[0];
    Job* job = new Job;
    std::snprintf(job->host, sizeof job->host, "%s", host);
    std::snprintf(job->port, sizeof job->port, "%u", unsigned(port));
    job->fd = ends[1];
    pthread_t thread;
    pthread_attr_t attributes;
    bool started = false;
    if (running.load() < MostRunning && pthread_attr_init(&attributes) == 0) {
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        ++running;
        started = pthread_create(&thread, &attributes, Run, job) == 0;
        if (!started) --running;
        pthread_attr_destroy(&attributes);
    }
    if (!started) Post(job, false);  // lookups stuck on a dead name server, or no threads
    return true;
}

bool Resolver::Finish(ResolvedAddresses* result) {
    if (fd_ < 0) {
        std::memset(result, 0, sizeof *result);
        result->error = EAI_SYSTEM;
        return true;
    }
    ssize_t got = recv(fd_, result, sizeof *result, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
    if (got != ssize_t(sizeof *result)) {  // the thread ended without a word: cannot happen
        std::memset(result, 0, sizeof *result);
        result->error = EAI_SYSTEM;
    }
    Cancel();
    return true;
}

void Resolver::Cancel() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

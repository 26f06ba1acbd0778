#pragma once
// Fills the accept queue of a listening socket on 127.0.0.1 with
// connections that are never accepted, so that further connects hang in
// the handshake (the kernel drops their SYNs while the queue is full).

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testrec {

class BacklogFiller {
public:
    BacklogFiller() = default;
    ~BacklogFiller();
    BacklogFiller(const BacklogFiller&) = delete;
    BacklogFiller& operator=(const BacklogFiller&) = delete;

    // Connects until a connect no longer completes within `settle`; answers
    // the number of completed connections (kept open until release()).
    int fill(uint16_t port, int maxConnections = 256,
             std::chrono::milliseconds settle = std::chrono::milliseconds(150));
    void release();
    int held() const { return int(fds_.size()); }

private:
    std::vector<int> fds_;
};

// A socket listening on 127.0.0.1 with the smallest backlog, already filled:
// connects to its port never complete. Closed when destroyed.
class BlockedListener {
public:
    BlockedListener();
    ~BlockedListener();
    BlockedListener(const BlockedListener&) = delete;
    BlockedListener& operator=(const BlockedListener&) = delete;

    bool ok() const { return fd_ >= 0 && filler_.held() > 0; }
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    BacklogFiller filler_;
};

// Opens a non-blocking socket listening on address (port 0: any free one)
// with the given backlog; answers the descriptor or -1, and the bound port.
int listenAt(const std::string& address, uint16_t port, int backlog, uint16_t* boundPort);
// The same on 127.0.0.1.
int listenLoopback(uint16_t port, int backlog, uint16_t* boundPort);

}  // namespace testrec

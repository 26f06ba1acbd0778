#include "recorder/BacklogFiller.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testrec {

namespace {

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// True when a non-blocking connect completes within the settle time.
bool connectWithin(int fd, uint16_t port, std::chrono::milliseconds settle)
{
    const sockaddr_in a = loopback(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, int(settle.count())) != 1)
        return false;
    int err = 0;
    socklen_t len = sizeof err;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

}  // namespace

int listenAt(const std::string& address, uint16_t port, int backlog, uint16_t* boundPort)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1)
        return -1;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(fd);
        return -1;
    }
    if (boundPort)
        *boundPort = ntohs(a.sin_port);
    return fd;
}

int listenLoopback(uint16_t port, int backlog, uint16_t* boundPort)
{
    return listenAt("127.0.0.1", port, backlog, boundPort);
}

BacklogFiller::~BacklogFiller() { release(); }

int BacklogFiller::fill(uint16_t port, int maxConnections, std::chrono::milliseconds settle)
{
    for (int i = 0; i < maxConnections; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            break;
        if (!connectWithin(fd, port, settle)) {
            close(fd);
            break;
        }
        fds_.push_back(fd);
    }
    return int(fds_.size());
}

void BacklogFiller::release()
{
    for (int fd : fds_)
        close(fd);
    fds_.clear();
}

BlockedListener::BlockedListener()
{
    fd_ = listenLoopback(0, 0, &port_);
    if (fd_ >= 0)
        filler_.fill(port_);
}

BlockedListener::~BlockedListener()
{
    filler_.release();
    if (fd_ >= 0)
        close(fd_);
}

}  // namespace testrec

#include "recorder/DelayProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "recorder/BacklogFiller.h"
#include "recorder/ThreadCpu.h"

namespace testrec {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kMaxQueued = 16 * 1024 * 1024;  // a source is not read beyond this

void noDelay(int fd)
{
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A non-blocking connect to 127.0.0.1:port; -1 when it failed at once.
int connectLoopback(uint16_t port, bool& pending)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    pending = false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (errno == EINPROGRESS) {
        pending = true;
        return fd;
    }
    close(fd);
    return -1;
}

}  // namespace

DelayProxy::DelayProxy(uint16_t targetPort, std::chrono::milliseconds delay)
    : targetPort_(targetPort), delay_(std::max(delay, std::chrono::milliseconds(0)))
{
}

DelayProxy::~DelayProxy() { stop(); }

bool DelayProxy::start(uint16_t port)
{
    if (thread_.joinable())
        return false;
    listenFd_ = listenLoopback(port, 16, &port_);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (listenFd_ < 0 || wakeFd_ < 0) {
        stop();
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this] { loop(); });
    return true;
}

void DelayProxy::stop()
{
    stop_ = true;
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
    if (thread_.joinable())
        thread_.join();
    for (auto& p : pairs_)
        for (int& fd : p.fd)
            if (fd >= 0)
                close(fd);
    pairs_.clear();
    if (listenFd_ >= 0)
        close(listenFd_);
    if (wakeFd_ >= 0)
        close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
}

double DelayProxy::cpuSeconds() const
{
    return threadCpuSeconds(thread_);
}

void DelayProxy::accept()
{
    const int client = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0)
        return;
    ++accepted_;
    bool pending = false;
    const int target = connectLoopback(targetPort_, pending);
    if (target < 0) {
        close(client);
        return;
    }
    noDelay(client);
    noDelay(target);
    Pair p;
    p.fd[0] = client;
    p.fd[1] = target;
    p.connecting = pending;
    pairs_.push_back(std::move(p));
}

// Closes one side: what was on its way there is dropped, and what came from
// it is passed on before the other side is closed in turn.
void DelayProxy::closeSide(Pair& p, int side)
{
    if (p.fd[side] < 0)
        return;
    close(p.fd[side]);
    p.fd[side] = -1;
    Flow& toward = p.flow[1 - side];
    toward.chunks.clear();
    toward.queued = toward.sent = 0;
    toward.ended = true;
    Flow& from = p.flow[side];
    if (!from.ended) {
        from.ended = true;
        from.chunks.push_back({Clock::now(), {}});
    }
}

void DelayProxy::readSide(Pair& p, int side)
{
    Flow& f = p.flow[side];
    uint8_t buf[kReadChunk];
    const ssize_t n = recv(p.fd[side], buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
        f.chunks.push_back({Clock::now() + delay_, Bytes(buf, buf + n)});
        f.queued += size_t(n);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n < 0) {
        closeSide(p, side);
        return;
    }
    // An orderly close travels on the same delay as the bytes before it.
    f.ended = true;
    f.chunks.push_back({Clock::now() + delay_, {}});
}

// Writes the chunks of one flow that are due, as far as the other side takes them.
void DelayProxy::flush(Pair& p, int from)
{
    Flow& f = p.flow[from];
    const int to = 1 - from;
    const auto now = Clock::now();
    while (!f.chunks.empty() && f.chunks.front().due <= now && !stop_) {
        Chunk& c = f.chunks.front();
        if (c.bytes.empty()) {
            f.chunks.pop_front();
            closeSide(p, to);
            return;
        }
        if (p.fd[to] < 0 || (to == 1 && p.connecting))
            return;
        const ssize_t k = send(p.fd[to], c.bytes.data() + f.sent, c.bytes.size() - f.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (k < 0) {
            closeSide(p, to);
            return;
        }
        f.sent += size_t(k);
        if (f.sent == c.bytes.size()) {
            f.queued -= c.bytes.size();
            f.sent = 0;
            f.chunks.pop_front();
        }
    }
}

// Until the next chunk falls due; a second at most.
int DelayProxy::timeoutMs() const
{
    const auto now = Clock::now();
    auto next = now + std::chrono::seconds(1);
    for (const auto& p : pairs_)
        for (const auto& f : p.flow)
            if (!f.chunks.empty() && f.chunks.front().due > now)
                next = std::min(next, f.chunks.front().due);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(next - now).count();
    return int((us + 999) / 1000);
}

void DelayProxy::loop()
{
    std::vector<pollfd> fds;
    while (!stop_) {
        for (auto& p : pairs_) {
            flush(p, 0);
            flush(p, 1);
        }
        pairs_.erase(std::remove_if(pairs_.begin(), pairs_.end(),
                                    [](const Pair& p) { return p.fd[0] < 0 && p.fd[1] < 0; }),
                     pairs_.end());
        fds.assign({{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}});
        const auto now = Clock::now();
        for (const auto& p : pairs_)
            for (int side = 0; side < 2; ++side) {
                short ev = 0;
                const Flow& from = p.flow[side];
                const Flow& toward = p.flow[1 - side];
                const bool ready = !(side == 1 && p.connecting);
                if (ready && !from.ended && p.fd[1 - side] >= 0 && from.queued < kMaxQueued)
                    ev |= POLLIN;
                if (!ready || (!toward.chunks.empty() && toward.chunks.front().due <= now))
                    ev |= POLLOUT;
                fds.push_back({p.fd[side], ev, 0});
            }
        if (poll(fds.data(), fds.size(), timeoutMs()) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            uint64_t v;
            [[maybe_unused]] ssize_t r = read(wakeFd_, &v, sizeof v);
        }
        if (stop_)
            break;
        // The pairs polled are the first ones; accepted ones are appended after.
        const size_t polled = pairs_.size();
        for (size_t i = 0; i < polled; ++i)
            for (int side = 0; side < 2; ++side) {
                Pair& p = pairs_[i];
                const short rev = fds[2 + 2 * i + size_t(side)].revents;
                if (p.fd[side] < 0 || rev == 0)
                    continue;
                if (side == 1 && p.connecting) {
                    int err = 0;
                    socklen_t len = sizeof err;
                    getsockopt(p.fd[1], SOL_SOCKET, SO_ERROR, &err, &len);
                    if (err != 0) {
                        closeSide(p, 1);
                        continue;
                    }
                    p.connecting = false;
                }
                // A side that hangs up after its close was read is gone.
                if (p.flow[side].ended && (rev & (POLLHUP | POLLERR)))
                    closeSide(p, side);
                else if (!p.flow[side].ended && (rev & (POLLIN | POLLHUP | POLLERR)))
                    readSide(p, side);
            }
        if (fds[1].revents & POLLIN)
            accept();
    }
}

}  // namespace testrec

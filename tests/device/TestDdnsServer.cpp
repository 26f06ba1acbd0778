#include "device/TestDdnsServer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "recorder/BacklogFiller.h"
#include "recorder/Wire.h"

namespace testdev {

namespace {

using Clock = std::chrono::steady_clock;

bool sendAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

// Reads until a whole command frame has come (its tail), the peer leaves or
// the time is up.
Bytes readFrame(int fd, const std::atomic<bool>& stop)
{
    Bytes in;
    auto end = Clock::now() + std::chrono::seconds(5);
    while (!stop && Clock::now() < end) {
        if (in.size() >= 12) {
            const uint8_t* t = &in[in.size() - 4];
            bool v2 = in[3] == 0xC3;
            if (std::memcmp(t, v2 ? testrec::kTailV2 : testrec::kTailV1, 4) == 0)
                return in;
        }
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0)
            continue;
        uint8_t buf[512];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return in;
        in.insert(in.end(), buf, buf + n);
    }
    return in;
}

}  // namespace

TestDdnsServer::TestDdnsServer(DdnsConfig config) : config_(std::move(config)) {}

TestDdnsServer::~TestDdnsServer()
{
    stop();
}

Bytes TestDdnsServer::frame(int id, const Bytes& payload, bool v2)
{
    return testrec::buildCommandFrame(uint32_t(id), payload, v2 ? testrec::CmdFormat::V2 : testrec::CmdFormat::V1);
}

Bytes TestDdnsServer::answerPayload(const DdnsConfig& cfg)
{
    in_addr addr{};
    inet_pton(AF_INET, cfg.deviceIp.c_str(), &addr);
    const uint8_t* octets = reinterpret_cast<const uint8_t*>(&addr.s_addr);
    Bytes p(octets, octets + 4);  // first octet in the lowest byte
    int port = cfg.answer == DdnsAnswer::PortZero ? 0 : cfg.devicePort;
    testrec::appendLe32(p, uint32_t(port));
    testrec::appendLe32(p, uint32_t(cfg.answer == DdnsAnswer::PortZero && cfg.third == 0 ? 1 : cfg.third));
    testrec::appendLe32(p, 0);
    p.insert(p.end(), cfg.text.begin(), cfg.text.end());
    switch (cfg.answer) {
    case DdnsAnswer::Short:
        p.resize(12);
        break;
    case DdnsAnswer::NoTerminator:
        break;
    default:
        p.resize(100, 0);  // NUL-terminated text, zero-filled
        break;
    }
    return p;
}

bool TestDdnsServer::start(const std::string& address, uint16_t port)
{
    listenFd_ = testrec::listenAt(address, port, 4, &port_);
    if (listenFd_ < 0)
        return false;
    address_ = address;
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

bool TestDdnsServer::startOnV2Port()
{
    // Tests run side by side: each takes its own loopback address.
    std::mt19937 rng(std::random_device{}());
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::string addr = "127." + std::to_string(1 + rng() % 250) + "." + std::to_string(rng() % 256) + "." +
                           std::to_string(2 + rng() % 250);
        if (start(addr, 17000))
            return true;
    }
    return false;
}

void TestDdnsServer::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

int TestDdnsServer::connections() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return connections_;
}

std::vector<Bytes> TestDdnsServer::requests() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

bool TestDdnsServer::waitForRequests(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return requests_.size() >= count; });
}

void TestDdnsServer::run()
{
    while (!stop_) {
        pollfd pfd{listenFd_, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0)
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard<std::mutex> guard(lock_);
            ++connections_;
            changed_.notify_all();
        }
        serve(fd);
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
}

void TestDdnsServer::serve(int fd)
{
    const DdnsConfig& cfg = config_;
    auto note = [&](const std::string& s) {
        if (cfg.log)
            cfg.log(s);
    };
    if (cfg.greet) {
        Bytes greeting = frame(cfg.greetingId, Bytes(size_t(cfg.greetingPad), 0), cfg.v2);
        if (!sendAll(fd, greeting.data(), greeting.size()))
            return;
    }
    Bytes request = readFrame(fd, stop_);
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(request);
        changed_.notify_all();
    }
    note("request of " + std::to_string(request.size()) + " bytes");
    if (cfg.answer == DdnsAnswer::Close)
        return;
    if (cfg.answer == DdnsAnswer::None) {
        // Holds the connection until the client gives up.
        while (!stop_) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 20) > 0) {
                uint8_t b;
                if (::recv(fd, &b, 1, 0) <= 0)
                    return;
            }
        }
        return;
    }
    Bytes answer = frame(cfg.answer == DdnsAnswer::WrongId ? 99 : 98, answerPayload(cfg), cfg.v2);
    size_t at = 0;
    for (size_t piece : cfg.answerPieces) {
        piece = std::min(piece, answer.size() - at);
        if (!sendAll(fd, answer.data() + at, piece))
            return;
        at += piece;
        std::this_thread::sleep_for(std::chrono::milliseconds(cfg.pieceDelayMs));
    }
    sendAll(fd, answer.data() + at, answer.size() - at);
    note("answered");
    // Lets the client close first.
    pollfd pfd{fd, POLLIN, 0};
    ::poll(&pfd, 1, 1000);
}

}  // namespace testdev

#include "device/TestDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "recorder/BacklogFiller.h"

namespace testdev {

namespace {

using Clock = std::chrono::steady_clock;

Bytes helloMessage(const std::string& model)
{
    // Bytes 12-25 are filler; the model text starts at 26.
    std::string params = std::string(14, '0') + model;
    Bytes b(params.begin(), params.end());
    b.push_back(0);
    return message(kHello, b);
}

Bytes pointerInfoMessage(uint32_t version = 0x00010203)
{
    Bytes params = {uint8_t(version >> 24), uint8_t(version >> 16), uint8_t(version >> 8), uint8_t(version),
                    '0', '0', '0', '0', uint8_t(int8_t(-3)), 5, 1};
    return message(kPointerInfo, params);
}

// Messages of one write of a flood.
constexpr int kFloodBatch = 256;

}  // namespace

TestDevice::TestDevice(DeviceConfig config) : config_(std::move(config)) {}

TestDevice::~TestDevice()
{
    stop();
}

bool TestDevice::start(uint16_t port)
{
    listenFd_ = testrec::listenLoopback(port, 4, &port_);
    if (listenFd_ < 0)
        return false;
    streaming_ = config_.streamVideo;
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void TestDevice::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    closeClient();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

DeviceStatus TestDevice::status() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return status_;
}

bool TestDevice::waitUntil(const std::function<bool(const DeviceStatus&)>& done, milliseconds timeout) const
{
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return done(status_); });
}

void TestDevice::setStreaming(bool on)
{
    streaming_ = on;
}

void TestDevice::setCommandInterval(milliseconds interval)
{
    std::lock_guard<std::mutex> guard(lock_);
    config_.commandIntervalMs = int(interval.count());
    nextCommand_ = Clock::now();
}

void TestDevice::setCommandFlood(bool on)
{
    std::lock_guard<std::mutex> guard(lock_);
    config_.commandFlood = on;
}

void TestDevice::setColour(uint8_t y, uint8_t cb, uint8_t cr)
{
    std::lock_guard<std::mutex> guard(lock_);
    config_.y = y;
    config_.cb = cb;
    config_.cr = cr;
}

void TestDevice::setGarbled(bool on)
{
    std::lock_guard<std::mutex> guard(lock_);
    config_.garbled = on;
}

bool TestDevice::sendRaw(const Bytes& bytes)
{
    return writeAll(bytes);
}

void TestDevice::disconnectClient()
{
    closeClient();
}

void TestDevice::note(const std::string& line)
{
    if (config_.log)
        config_.log(line);
}

void TestDevice::closeClient()
{
    std::lock_guard<std::mutex> w(writeLock_);
    int fd = clientFd_.exchange(-1);
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
    std::lock_guard<std::mutex> guard(lock_);
    status_.clientConnected = false;
    changed_.notify_all();
}

bool TestDevice::writeAll(const Bytes& bytes)
{
    std::lock_guard<std::mutex> w(writeLock_);
    int fd = clientFd_.load();
    size_t sent = 0;
    auto end = Clock::now() + std::chrono::seconds(2);
    while (fd >= 0 && sent < bytes.size() && !stop_ && Clock::now() < end) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd pfd{fd, POLLOUT, 0};
        ::poll(&pfd, 1, 10);
    }
    return fd >= 0 && sent == bytes.size();
}

void TestDevice::run()
{
    while (!stop_) {
        bool flood;
        {
            std::lock_guard<std::mutex> guard(lock_);
            flood = config_.commandFlood && loggedIn_;
        }
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {clientFd_.load(), POLLIN, 0}};
        int n = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, flood ? 0 : 5);
        if (n > 0 && (fds[0].revents & POLLIN))
            acceptClient();
        if (n > 0 && fds[1].fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            readClient();
        streamIfDue();
        commandsIfDue();
    }
}

void TestDevice::acceptClient()
{
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    closeClient();  // one client at a time: a new one replaces the old
    clientFd_ = fd;
    inbox_.clear();
    loggedIn_ = false;
    repeatHello_ = false;
    std::lock_guard<std::mutex> guard(lock_);
    status_.clientConnected = true;
    ++status_.connections;
    changed_.notify_all();
    note("client connected");
}

void TestDevice::readClient()
{
    uint8_t buf[4096];
    ssize_t n = ::recv(clientFd_.load(), buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        note("client left");
        closeClient();
        return;
    }
    if (n < 0)
        return;
    inbox_.insert(inbox_.end(), buf, buf + n);
    // Messages are cut by their declared lengths.
    while (inbox_.size() >= 8) {
        int size = hexWord(&inbox_[4]);
        if (std::memcmp(inbox_.data(), kCommandCode, 4) != 0 || size < 12) {
            note("garbage from the client");
            inbox_.clear();
            return;
        }
        if (inbox_.size() < size_t(size))
            return;
        Bytes msg(inbox_.begin(), inbox_.begin() + size);
        inbox_.erase(inbox_.begin(), inbox_.begin() + size);
        handleMessage(msg);
    }
}

void TestDevice::handleMessage(const Bytes& msg)
{
    int code = msg.size() >= 12 ? hexWord(&msg[8]) : -1;
    if (code == kLogin) {
        answerLogin(msg);
    } else if (code == kKey && msg.size() >= 16) {
        int key = hexWord(&msg[12]);
        note("key " + std::to_string(key));
        std::lock_guard<std::mutex> guard(lock_);
        status_.keys.push_back(key);
        status_.lastKeyMessage = msg;
        changed_.notify_all();
    } else {
        note("message " + std::to_string(code));
    }
}

void TestDevice::answerLogin(const Bytes& msg)
{
    DeviceConfig cfg;
    {
        std::lock_guard<std::mutex> guard(lock_);
        status_.lastLogin = msg;
        cfg = config_;
    }
    bool match = msg == expectedLogin(cfg.password, cfg.webCode);
    Bytes reply;
    if (!match) {
        reply = message(kLoginRefused, {'0', '0', '0', '1'});
    } else {
        switch (cfg.login) {
        case LoginMode::Accept: {
            reply = helloMessage(cfg.model);
            Bytes ok = message(kLoginOk);
            reply.insert(reply.end(), ok.begin(), ok.end());
            loggedIn_ = true;
            nextSend_ = Clock::now();
            break;
        }
        case LoginMode::Refuse: {
            char reason[5];
            std::snprintf(reason, sizeof reason, "%04X", cfg.refuseReason);
            reply = message(kLoginRefused, Bytes(reason, reason + 4));
            break;
        }
        case LoginMode::MaxUser:
            reply = message(kMaxUser);
            break;
        case LoginMode::Silent:
            break;
        case LoginMode::RepeatHello:
            repeatHello_ = true;
            nextSend_ = Clock::now();
            break;
        }
    }
    if (loggedIn_ && streaming_) {
        // The first picture goes out with the acceptance, a pointer
        // information message right behind it.
        Bytes pic = picture(cfg);
        reply.insert(reply.end(), pic.begin(), pic.end());
        if (cfg.pointerInfo) {
            Bytes info = pointerInfoMessage();
            reply.insert(reply.end(), info.begin(), info.end());
        }
        nextSend_ = Clock::now() + milliseconds(1000 / std::max(1, cfg.fps));
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!match)
            ++status_.badLogins;
        else if (loggedIn_)
            ++status_.logins;
        changed_.notify_all();
    }
    note(match ? "login" : "login with wrong digests");
    if (!reply.empty())
        writeAll(reply);
}

Bytes TestDevice::picture(const DeviceConfig& cfg)
{
    std::lock_guard<std::mutex> guard(lock_);
    ++status_.pictures;
    changed_.notify_all();
    return cfg.garbled ? garbledPicture() : flatPicture(cfg.y, cfg.cb, cfg.cr);
}

void TestDevice::streamIfDue()
{
    if (clientFd_.load() < 0 || Clock::now() < nextSend_)
        return;
    DeviceConfig cfg;
    {
        std::lock_guard<std::mutex> guard(lock_);
        cfg = config_;
    }
    if (repeatHello_) {
        writeAll(helloMessage(cfg.model));
        nextSend_ = Clock::now() + milliseconds(100);
    } else if (loggedIn_ && streaming_) {
        writeAll(picture(cfg));
        nextSend_ = Clock::now() + milliseconds(1000 / std::max(1, cfg.fps));
    }
}

// Whole messages only, between pictures.
void TestDevice::commandsIfDue()
{
    if (clientFd_.load() < 0 || !loggedIn_)
        return;
    int interval;
    bool flood;
    {
        std::lock_guard<std::mutex> guard(lock_);
        interval = config_.commandIntervalMs;
        flood = config_.commandFlood;
    }
    int count = 0;
    if (flood)
        count = kFloodBatch;
    else if (interval > 0 && Clock::now() >= nextCommand_)
        count = 1;
    if (count == 0)
        return;
    Bytes batch;
    for (int i = 0; i < count; ++i) {
        Bytes m = pointerInfoMessage(++commandCount_);
        batch.insert(batch.end(), m.begin(), m.end());
    }
    nextCommand_ = Clock::now() + milliseconds(interval);
    if (!writeAll(batch))
        return;
    std::lock_guard<std::mutex> guard(lock_);
    status_.commands += uint64_t(count);
    changed_.notify_all();
}

}  // namespace testdev

#include "recorder/TestRecorder.h"

#include <netinet/in.h>
#include <pthread.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "recorder/Crypto.h"
#include "recorder/TestRecorderSession.h"
#include "recorder/ThreadCpu.h"

namespace testrec {

namespace {

constexpr milliseconds kWriteBudget{2000};
constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

uint16_t DataRequest::mask() const
{
    uint16_t m = 0;
    for (int i = 0; i < 16; ++i)
        if (switches[size_t(i)] == 1)
            m |= uint16_t(1u << i);
    return m;
}

std::optional<DataRequest> parseDataRequest(const Bytes& payload)
{
    if (payload.size() < 24)
        return std::nullopt;
    DataRequest r;
    r.requestId = int32_t(getLe32(payload.data()));
    r.kind = int32_t(getLe32(payload.data() + 4));
    std::copy(payload.begin() + 8, payload.begin() + 24, r.switches.begin());
    return r;
}

TestRecorder::TestRecorder(RecorderConfig config) : config_(std::move(config)) {}

TestRecorder::~TestRecorder() { stop(); }

bool TestRecorder::start(uint16_t port)
{
    if (running())
        return false;
    const RecorderConfig cfg = config();
    listenFd_ = listenLoopback(port, cfg.acceptConnections ? 8 : 0, &port_);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (listenFd_ < 0 || wakeFd_ < 0) {
        stop();
        return false;
    }
    if (!cfg.acceptConnections)
        filler_.fill(port_);
    stop_ = false;
    thread_ = std::thread([this] { serverLoop(); });
    note("listening on 127.0.0.1:" + std::to_string(port_));
    return true;
}

void TestRecorder::stop()
{
    stop_ = true;
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
    if (thread_.joinable())
        thread_.join();
    closeClient();
    filler_.release();
    if (listenFd_ >= 0)
        close(listenFd_);
    if (wakeFd_ >= 0)
        close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
}

double TestRecorder::cpuSeconds() const
{
    return threadCpuSeconds(thread_);
}

RecorderConfig TestRecorder::config() const
{
    std::lock_guard<std::mutex> lock(configMutex_);
    return config_;
}

void TestRecorder::updateConfig(const std::function<void(RecorderConfig&)>& change)
{
    std::lock_guard<std::mutex> lock(configMutex_);
    change(config_);
}

void TestRecorder::setEchoInterval(int ms)
{
    updateConfig([ms](RecorderConfig& c) { c.echoIntervalMs = std::max(ms, 0); });
    echoChanged_ = true;
}

void TestRecorder::setVideoLossMask(uint16_t mask)
{
    updateConfig([mask](RecorderConfig& c) { c.videoLossMask = mask; });
}

void TestRecorder::setStreaming(bool video, bool audio)
{
    updateConfig([=](RecorderConfig& c) {
        c.streamVideo = video;
        c.streamAudio = audio;
    });
}

void TestRecorder::setSearchBusy(bool busy)
{
    updateConfig([busy](RecorderConfig& c) { c.searchBusy = busy; });
}

void TestRecorder::setGarbleVideo(bool on)
{
    updateConfig([on](RecorderConfig& c) { c.garbleVideo = on; });
}

int TestRecorder::group() const { return modelGroup(config().modelId); }

void TestRecorder::note(const std::string& text) const
{
    std::function<void(const std::string&)> log;
    {
        std::lock_guard<std::mutex> lock(configMutex_);
        log = config_.log;
    }
    if (log)
        log(text);
}

// ---- status ----

RecorderStatus TestRecorder::status() const
{
    std::lock_guard<std::mutex> lock(statusMutex_);
    return status_;
}

bool TestRecorder::waitUntil(const std::function<bool(const RecorderStatus&)>& done, milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(statusMutex_);
    return statusCv_.wait_for(lock, timeout, [&] { return done(status_); });
}

bool TestRecorder::waitForClient(milliseconds timeout) const
{
    return waitUntil([](const RecorderStatus& s) { return s.clientConnected; }, timeout);
}

bool TestRecorder::waitForDisconnect(milliseconds timeout) const
{
    return waitUntil([](const RecorderStatus& s) { return !s.clientConnected; }, timeout);
}

LoginResult TestRecorder::waitForLogin(milliseconds timeout) const
{
    LoginResult r = LoginResult::None;
    waitUntil(
        [&](const RecorderStatus& s) {
            r = s.login;
            return s.login != LoginResult::None;
        },
        timeout);
    return r;
}

bool TestRecorder::waitForVideoFrames(int ch, uint64_t count, milliseconds timeout) const
{
    if (ch < 0 || ch >= 16)
        return false;
    return waitUntil([&](const RecorderStatus& s) { return s.videoFrames[size_t(ch)] >= count; }, timeout);
}

bool TestRecorder::waitForEchoReplies(int count, milliseconds timeout) const
{
    return waitUntil([&](const RecorderStatus& s) { return s.echoReplies >= count; }, timeout);
}

void TestRecorder::disconnectClient()
{
    dropClient_ = true;
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
}

// ---- writing ----

// Caller holds sendMutex_. Gives up at stop, on error or after the budget.
bool TestRecorder::writeLocked(const uint8_t* data, size_t n, milliseconds budget)
{
    const auto deadline = Clock::now() + budget;
    while (n > 0) {
        if (clientFd_ < 0 || stop_)
            return false;
        const ssize_t k = send(clientFd_, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k > 0) {
            data += k;
            n -= size_t(k);
            continue;
        }
        if (k < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (Clock::now() >= deadline)
            return false;
        pollfd p{clientFd_, POLLOUT, 0};
        poll(&p, 1, 10);
    }
    return true;
}

bool TestRecorder::sendFrame(const Bytes& frame)
{
    std::lock_guard<std::mutex> lock(sendMutex_);
    return writeLocked(frame.data(), frame.size(), kWriteBudget);
}

bool TestRecorder::sendAnswer(uint32_t cmd, Bytes payload)
{
    const RecorderConfig cfg = config();
    const int size = answerPayloadSize(cmd, modelGroup(cfg.modelId), cfg.modelId, cfg.protocolVersion);
    if (size >= 0)
        payload = fitPayload(std::move(payload), size_t(size));
    note("send command " + std::to_string(cmd) + " (" + std::to_string(payload.size()) + " bytes)");
    return sendFrame(buildCommandFrame(cmd, payload, cfg.commandFormat));
}

bool TestRecorder::sendRaw(const Bytes& bytes) { return sendFrame(bytes); }

bool TestRecorder::sendCommand(uint32_t id, const Bytes& payload, std::optional<CmdFormat> format)
{
    return sendFrame(buildCommandFrame(id, payload, format.value_or(config().commandFormat)));
}

bool TestRecorder::sendMediaFrame(const MediaHeader& header, const Bytes& coded)
{
    return sendFrame(buildMediaFrame(header, coded));
}

Bytes TestRecorder::garbage(size_t n, uint32_t seed)
{
    // No zero byte and no 'N' or 'B', so it never holds a head or start code.
    Bytes out(n);
    uint32_t x = seed ? seed : 1;
    for (auto& b : out) {
        do {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = uint8_t(x >> 11);
        } while (b == 0 || b == 'N' || b == 'B');
    }
    return out;
}

bool TestRecorder::sendGarbage(size_t n, uint32_t seed) { return sendFrame(garbage(n, seed)); }

bool TestRecorder::sendSplit(const Bytes& bytes, const std::vector<size_t>& pieces, milliseconds pause)
{
    pause = std::clamp(pause, milliseconds(0), milliseconds(1000));
    std::lock_guard<std::mutex> lock(sendMutex_);
    size_t off = 0;
    for (size_t i = 0; i <= pieces.size() && off < bytes.size(); ++i) {
        const size_t len = i < pieces.size() ? std::min(pieces[i], bytes.size() - off) : bytes.size() - off;
        if (!writeLocked(bytes.data() + off, len, kWriteBudget))
            return false;
        off += len;
        if (off < bytes.size())
            for (auto waited = milliseconds(0); waited < pause && !stop_; waited += milliseconds(1))
                std::this_thread::sleep_for(milliseconds(1));
    }
    return off == bytes.size();
}

void TestRecorder::closeClient()
{
    std::lock_guard<std::mutex> lock(sendMutex_);
    if (clientFd_ >= 0)
        close(clientFd_);
    clientFd_ = -1;
}

// ---- server thread ----

bool TestRecorder::waitWake(int fd, short events, int timeoutMs)
{
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd, events, 0}};
    const int n = poll(fds, fd >= 0 ? 2 : 1, timeoutMs);
    if (n > 0 && (fds[0].revents & POLLIN)) {
        uint64_t v;
        [[maybe_unused]] ssize_t r = read(wakeFd_, &v, sizeof v);
    }
    return n > 0 && fd >= 0 && fds[1].revents != 0;
}

void TestRecorder::serverLoop()
{
    while (!stop_) {
        if (!config().acceptConnections) {
            waitWake(-1, 0, 100);
            continue;
        }
        if (!waitWake(listenFd_, POLLIN, 100))
            continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0)
            runSession(fd);
    }
}

void TestRecorder::runSession(int fd)
{
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    {
        std::lock_guard<std::mutex> lock(sendMutex_);
        clientFd_ = fd;
    }
    dropClient_ = false;
    const RecorderConfig cfg = config();
    Session s;
    s.group = modelGroup(cfg.modelId);
    s.parser = CommandParser([this](uint32_t id) { return requestPayloadSize(id, config().protocolVersion); });
    s.audio = std::make_unique<AudioSource>(s.group);
    withStatus([&](RecorderStatus& st) {
        const int connections = st.connections + 1;
        st = RecorderStatus{};
        st.clientConnected = true;
        st.connections = connections;
        s.connection = connections;
    });
    note("client connected");
    if (cfg.sendConnectAnswer) {
        DeviceInfo d{uint32_t(cfg.modelId), cfg.channels, cfg.audioChannels, cfg.videoStandard, cfg.bandwidth,
                     cfg.vendor, cfg.scrambling, cfg.protocolVersion, cfg.hwVersion, cfg.fwVersion, cfg.webCode,
                     cfg.titleKind, cfg.titles};
        sendAnswer(1, cfg.connectAnswerSize == 272 ? connectAnswer272(d) : connectAnswer552(d));
    }
    uint8_t buf[kReadChunk];
    while (!stop_ && !dropClient_) {
        if (waitWake(fd, POLLIN, nextPollMs(s))) {
            const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                break;
            if (n > 0)
                s.parser.feed(buf, size_t(n));
            for (auto& pc : s.parser.take())
                handleCommand(s, ReceivedCommand{pc.id, pc.format, std::move(pc.payload), std::move(pc.raw),
                                                 s.connection});
        }
        tick(s);
    }
    closeClient();
    withStatus([](RecorderStatus& st) { st.clientConnected = false; });
    note("client disconnected");
}

int TestRecorder::nextPollMs(const Session& s) const
{
    if (!s.loggedIn)
        return 20;
    const auto now = Clock::now();
    auto next = std::min({s.nextEcho, s.timelinePlayback ? s.nextPlay : s.nextVideo, s.nextAudio});
    if (spreading_) {
        // Each channel keeps its own time; woken no earlier than due, so the
        // thread does not spin.
        next = std::min(s.nextEcho, s.nextAudio);
        for (const auto& st : s.streams)
            next = std::min(next, std::max(st.next, now));
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(next - now).count();
        return int(std::clamp<long long>((us + 999) / 1000, 0, 10));
    }
    const auto ms = std::chrono::duration_cast<milliseconds>(next - now).count();
    return int(std::clamp<long long>(ms, 0, 10));
}

// ---- commands ----

void TestRecorder::handleCommand(Session& s, const ReceivedCommand& c)
{
    note("recv command " + std::to_string(c.id) + " (" + std::to_string(c.payload.size()) + " bytes)");
    log_.add(c);
    switch (c.id) {
    case 3: handleLogin(s, c); break;
    case 6: handleDataRequest(s, c); break;
    case 12: withStatus([](RecorderStatus& st) { ++st.echoReplies; }); break;
    case 15: handleSearchInfo(c); break;
    case 32: handleHistory(c); break;
    case 13:
    case 22:
    case 23:
    case 25:
    case 26:
    case 27:
    case 28:
    case 29:
    case 30: handlePlayback(s, c); break;
    default: break;
    }
}

static std::string slotText(const Bytes& p, size_t off)
{
    std::string out;
    for (size_t i = off; i < off + 50 && i < p.size() && p[i] != 0; ++i)
        out += char(p[i]);
    return out;
}

static bool slotMatches(const Bytes& got, const Bytes& want, size_t off, int version)
{
    if (got.size() < off + 50)
        return false;
    if (version < 24)
        return slotText(got, off) == slotText(want, off);
    return std::equal(want.begin() + long(off), want.begin() + long(off + 32), got.begin() + long(off));
}

void TestRecorder::handleLogin(Session& s, const ReceivedCommand& c)
{
    const RecorderConfig cfg = config();
    if (!cfg.answerLogin) {
        note("login not answered");
        return;
    }
    const Bytes want = expectedLoginRequest(cfg.userId, cfg.password, cfg.protocolVersion);
    LoginResult result = LoginResult::Accepted;
    if (!slotMatches(c.payload, want, 0, cfg.protocolVersion))
        result = LoginResult::UnknownUser;
    else if (!slotMatches(c.payload, want, 50, cfg.protocolVersion))
        result = LoginResult::WrongPassword;
    else if (cfg.refuseLogin)
        result = LoginResult::Refused;

    const bool right = result == LoginResult::Accepted || result == LoginResult::Refused;
    if (right && cfg.loginDelayMs > 0) {
        s.loginPending = true;
        s.pendingLogin = result;
        s.loginDue = Clock::now() + milliseconds(cfg.loginDelayMs);
        note("login answer in " + std::to_string(cfg.loginDelayMs) + " ms");
        return;
    }
    s.loginPending = false;
    answerLogin(s, result);
}

void TestRecorder::tickLogin(Session& s)
{
    if (!s.loginPending || Clock::now() < s.loginDue)
        return;
    s.loginPending = false;
    answerLogin(s, s.pendingLogin);
}

void TestRecorder::answerLogin(Session& s, LoginResult result)
{
    const RecorderConfig cfg = config();
    switch (result) {
    case LoginResult::UnknownUser: sendAnswer(5, reasonPayload(22)); break;
    case LoginResult::WrongPassword: sendAnswer(5, reasonPayload(21)); break;
    case LoginResult::Refused: sendAnswer(2, reasonPayload(0)); break;
    default: {
        sendAnswer(4, loginAccepted(cfg.protocolVersion, cfg.permissionMask, cfg.covertMask, cfg.recordingMask));
        const auto now = Clock::now();
        s.loggedIn = true;
        s.nextEcho = now + milliseconds(cfg.echoIntervalMs);
        s.nextVideo = s.nextAudio = now;
        echoChanged_ = false;
    }
    }
    note(result == LoginResult::Accepted ? "login accepted" : "login rejected");
    withStatus([&](RecorderStatus& st) { st.login = result; });
}

void TestRecorder::restartStreams(Session& s)
{
    const RecorderConfig cfg = config();
    const auto now = Clock::now();
    const auto period = std::chrono::microseconds(1000000 / std::clamp(cfg.fps, 1, 60));
    const int n = std::max(1, clampChannels(cfg.channels));
    for (size_t ch = 0; ch < s.streams.size(); ++ch) {
        auto& st = s.streams[ch];
        st.index = 0;
        st.needKey = true;
        st.next = now + period * int(ch % size_t(n)) / n;
    }
}

void TestRecorder::handleDataRequest(Session& s, const ReceivedCommand& c)
{
    const auto r = parseDataRequest(c.payload);
    if (!r)
        return;
    const RecorderStatus before = status();
    withStatus([&](RecorderStatus& st) {
        st.requestId = r->requestId;
        if (r->kind == 0)
            st.liveMask = r->mask();
        if (r->kind == 1)
            st.keyOnlyMask = r->mask();
        if (r->kind == 2) {
            st.audioChannel = -1;
            for (int i = 0; i < 16 && st.audioChannel < 0; ++i)
                if (r->switches[size_t(i)] == 1)
                    st.audioChannel = i;
        }
    });
    const bool timeline = config().content == ClipContent::Timeline;
    if (timeline && r->requestId != before.requestId) {
        s.cursor = {s.cursor.second, 0, true};
        s.nextPlay = Clock::now();
    }
    if (timeline && before.play != PlayState::Live) {
        // A channel switched on waits for a key frame; the others play on.
        const uint16_t newlyOn = r->kind == 0 ? uint16_t(r->mask() & ~before.liveMask) : uint16_t(0);
        for (int ch = 0; ch < 16; ++ch)
            if (bitSet(newlyOn, ch))
                s.streams[size_t(ch)].needKey = true;
    } else if (r->kind == 0) {
        restartStreams(s);
    }
    if (r->kind == 2)
        s.nextAudio = Clock::now();
    if (config().ackDataRequests)
        sendAnswer(7, {});
}

void TestRecorder::handleSearchInfo(const ReceivedCommand& c)
{
    const RecorderConfig cfg = config();
    const int kind = int32_t(readLe32(c.payload, 0));
    const uint32_t t = readLe32(c.payload, 4);
    const int g = modelGroup(cfg.modelId);
    if (cfg.searchBusy) {
        sendAnswer(20, reasonPayload(cfg.searchBusyReason));
    } else if (cfg.searchInfoFail) {
        sendAnswer(16, {});
    } else if (kind == 3) {
        sendAnswer(17, rangeAnswer(cfg.recordStart, cfg.recordEnd));
    } else if (kind == 2) {
        if (cfg.answerMonths)
            sendAnswer(18, monthAnswer(t, cfg.recordStart, cfg.recordEnd));
    } else if (kind == 1) {
        sendAnswer(19, dayAnswer(g, cfg.modelId, cfg.protocolVersion, t, cfg.recordStart, cfg.recordEnd,
                                 clampChannels(cfg.channels)));
    }
}

void TestRecorder::handleHistory(const ReceivedCommand& c)
{
    const RecorderConfig cfg = config();
    const int g = modelGroup(cfg.modelId);
    const uint32_t day = readLe32(c.payload, 0);
    if (cfg.historyMode != HistoryMode::Normal) {
        const auto st = cfg.historyMode == HistoryMode::Busy ? HistoryStatus::Busy : HistoryStatus::Empty;
        sendAnswer(33, historyPage(g, cfg.modelId, cfg.protocolVersion, st, day, 0, 0));
        return;
    }
    const std::vector<int> pages = cfg.historyPageItems.empty() ? std::vector<int>{0} : cfg.historyPageItems;
    int first = 0;
    for (size_t i = 0; i < pages.size() && i < 64; ++i) {
        const auto st = i + 1 < pages.size() ? HistoryStatus::Normal : HistoryStatus::End;
        sendAnswer(33, historyPage(g, cfg.modelId, cfg.protocolVersion, st, day, first, pages[i]));
        first += pages[i];
    }
}

}  // namespace testrec

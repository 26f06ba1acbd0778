#include "link/CDDNS.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/HostLookup.h"
#include "link/INetController.h"
#include "link/NxNet.h"
#include "platform/Log.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSliceMs = 20;  // stop flag checked at least this often
constexpr int kGreetingMax = 100;
constexpr int kAnswerMax = 32768;

int64_t msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

bool isHead(const uint8_t* p, uint8_t kind) { return p[0] == 0 && p[1] == 0 && p[2] == 0xAD && p[3] == kind; }

}  // namespace

CDDNS::~CDDNS()
{
    closeSocket();
}

void CDDNS::InitDDNS(const char* webcode, const char* ddnsIp, int ddnsPort)
{
    closeSocket();
    // Longer ids and addresses are cut to their fields.
    std::snprintf(m_webcode, sizeof m_webcode, "%s", webcode ? webcode : "");
    std::snprintf(m_ddnsIp, sizeof m_ddnsIp, "%s", ddnsIp ? ddnsIp : "");
    m_ddnsPort = ddnsPort;
    m_nDVRPort = 0;
    m_dvrIp[0] = 0;
    m_ucThreadExit = 0;
}

void CDDNS::closeSocket()
{
    if (m_sockDDns >= 0) {
        ::shutdown(m_sockDDns, SHUT_RDWR);
        ::close(m_sockDDns);
    }
    m_sockDDns = -1;
}

// ---------------------------------------------------------------------------
// Frames

int CDDNS::commandId(const uint8_t* data, int len)
{
    if (len < 7)
        return -1;
    return data[4] + 256 * data[6];
}

bool CDDNS::frameComplete(const uint8_t* data, int len)
{
    if (len < 4)
        return false;
    bool v1 = isHead(data, 0xC2);
    bool v2 = isHead(data, 0xC3);
    if (!v1 && !v2)
        return true;  // not a command frame: nothing more to wait for
    if (len < 12)
        return false;
    // Either tail ends a frame of either head, as the recorder's frames do.
    const uint8_t* tail = data + len - 4;
    return std::memcmp(tail, "NEND", 4) == 0 || (tail[0] == 0 && tail[1] == 0 && tail[2] == 1 && tail[3] == 0xB4);
}

int CDDNS::buildRequest(uint8_t* out, size_t cap) const
{
    uint8_t payload[kRequestPayload] = {};
    std::memcpy(payload, m_webcode, std::min(std::strlen(m_webcode), size_t(31)));
    const uint32_t words[2] = {65795, 553};
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < 4; ++i)
            payload[32 + 4 * w + i] = uint8_t(words[w] >> (8 * i));
    size_t n = m_ddnsPort == kV2Port ? writeToSendQWithoutFF(out, cap, kCmdRequest, payload, sizeof payload)
                                     : writeToSendQWithFF(out, cap, kCmdRequest, payload, sizeof payload);
    return int(n);
}

bool CDDNS::readAnswer(const uint8_t* f, int len, char* ip, size_t ipCap, int* port)
{
    if (len < 12 || !(isHead(f, 0xC2) || isHead(f, 0xC3))) {
        vlog("ddns answer is not a command frame");
        return false;
    }
    if (commandId(f, len) != kCmdAnswer)
        return false;
    vlog("COMMAND_DDNS_INFO_V2 receive ok");
    // Payload without head, command id and tail; only its first bytes count.
    uint8_t p[kAnswerFields] = {};
    int n;
    if (isHead(f, 0xC3)) {
        n = std::min(len - 12, kAnswerFields);
        std::memcpy(p, f + 8, size_t(n));
    } else {
        int id = 0;
        n = getCommandWithoutFF(&id, p, sizeof p, f + 4, len - 8);
    }
    const int textAt = 16;
    if (n <= textAt) {
        vlog("ddns answer too short");
        return false;
    }
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(p + textAt, 0, size_t(n - textAt)));
    if (!end) {
        vlog("ddns answer text not terminated");
        return false;
    }
    uint32_t addr = le32(p);
    int32_t devPort = int32_t(le32(p + 4));
    vlog("port : %d, ip : %d helth : %s", devPort, int32_t(addr), reinterpret_cast<const char*>(p + textAt));
    if (devPort <= 0 || devPort > 65535) {
        vlog("ddns answer without a port");
        return false;
    }
    std::snprintf(ip, ipCap, "%u.%u.%u.%u", addr & 0xFF, (addr >> 8) & 0xFF, (addr >> 16) & 0xFF, addr >> 24);
    *port = devPort;
    vlog("IP %s PORT %d", ip, devPort);
    return true;
}

// ---------------------------------------------------------------------------
// Socket steps

bool CDDNS::ConnectToDDns(INetController* main)
{
    if (m_sockDDns != -1)
        return false;
    in_addr addr{};
    HostLookup::Result found = HostLookup::lookup(m_ddnsIp, &addr, [this] { return stopRequested(); });
    if (found != HostLookup::Result::Ok) {
        if (found == HostLookup::Result::Stopped)
            vlog("ExitThread...");
        else
            vlog("ddns server %s not found", m_ddnsIp);
        return false;
    }
    if (m_ddnsPort < 1 || m_ddnsPort > 65535) {
        vlog("port %d out of range", m_ddnsPort);
        return false;
    }
    m_sockDDns = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_sockDDns < 0)
        return false;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    const std::string progress = text;

    auto fail = [this] {
        closeSocket();
        return false;
    };
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(m_ddnsPort));
    sa.sin_addr = addr;
    fcntl(m_sockDDns, F_SETFL, fcntl(m_sockDDns, F_GETFL, 0) | O_NONBLOCK);
    bool connected = ::connect(m_sockDDns, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    if (!connected && errno != EINPROGRESS && errno != EAGAIN)
        return fail();

    for (int left = timing.connectWaits - 1; !connected; --left) {
        if (main)
            main->DisplayConnectStr(progress, m_ddnsPort, "DDNS", 0);
        int ready = 0;
        auto start = Clock::now();
        while (ready == 0 && !stopRequested() && msSince(start) < timing.connectWaitMs) {
            pollfd pfd{m_sockDDns, POLLIN | POLLOUT, 0};
            ready = ::poll(&pfd, 1, kSliceMs);
            if (ready < 0 && errno == EINTR)
                ready = 0;
        }
        if (ready < 0) {
            vlog("SELECT ERROR~~~~~~~~~");
            return fail();
        }
        if (ready > 0) {
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(m_sockDDns, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
                return fail();
            connected = true;
            break;
        }
        if (!stopRequested())
            vlog("SELECT TIMEOUT~~~~~~~~~ %d", left);
        if (stopRequested()) {
            vlog("ExitThread...");
            return fail();
        }
        if (left <= 0) {
            vlog("Timeout");
            return fail();
        }
    }

    // The greeting, joined if it comes in pieces, within its own bound.
    uint8_t greeting[kGreetingMax];
    int n = 0;
    auto start = Clock::now();
    while (n < kGreetingMax && !frameComplete(greeting, n)) {
        if (stopRequested()) {
            vlog("ExitThread...");
            return fail();
        }
        if (msSince(start) >= timing.greetingMs) {
            vlog("ddns greeting timeout");
            return fail();
        }
        pollfd pfd{m_sockDDns, POLLIN, 0};
        int r = ::poll(&pfd, 1, kSliceMs);
        if (r < 0 && errno != EINTR) {
            vlog("recv error");
            return fail();
        }
        if (r <= 0)
            continue;
        ssize_t got = ::recv(m_sockDDns, greeting + n, size_t(kGreetingMax - n), 0);
        if (got == 0) {
            vlog("ddns connection closed");
            return fail();
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            vlog("recv error");
            return fail();
        }
        n += int(got);
    }
    if (commandId(greeting, n) != kCmdGreeting)
        return fail();
    return true;
}

bool CDDNS::sendAll(const uint8_t* data, int len, Clock::time_point start, int64_t deadlineMs)
{
    int sent = 0;
    while (sent < len) {
        if (stopRequested() || msSince(start) >= deadlineMs)
            return false;
        ssize_t r = ::send(m_sockDDns, data + sent, size_t(len - sent), MSG_NOSIGNAL);
        if (r > 0) {
            sent += int(r);
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd pfd{m_sockDDns, POLLOUT, 0};
        ::poll(&pfd, 1, kSliceMs);
    }
    return true;
}

bool CDDNS::LoginToDDns()
{
    struct Closer {
        CDDNS* c;
        ~Closer() { c->closeSocket(); }
    } closer{this};
    if (m_sockDDns < 0)
        return false;

    // The request goes out and the whole answer comes back, joined if it
    // comes in pieces, within one deadline that new bytes do not extend.
    const auto start = Clock::now();
    const int64_t deadlineMs = timing.answerDeadlineMs;
    uint8_t request[128];
    int len = buildRequest(request, sizeof request);
    vlog("sendbuf : %s", m_webcode);
    vlog("sendbuf : %d", 553 & 0xFF);
    if (len <= 0 || !sendAll(request, len, start, deadlineMs)) {
        vlog("DDns Login Request Send Fail\r");
        return false;
    }
    vlog("DDns Login Request\r");

    std::vector<uint8_t> answer(kAnswerMax);
    int n = 0;
    while (n < kAnswerMax && !frameComplete(answer.data(), n)) {
        int ready = 0;
        while (ready == 0 && !stopRequested() && msSince(start) < deadlineMs) {
            pollfd pfd{m_sockDDns, POLLIN, 0};
            ready = ::poll(&pfd, 1, kSliceMs);
            if (ready < 0 && errno == EINTR)
                ready = 0;
        }
        if (stopRequested()) {
            vlog("ExitThread...");
            return false;
        }
        if (ready < 0) {
            vlog("select error\r");
            return false;
        }
        if (ready == 0) {
            vlog("ddns login timeout");
            return false;
        }
        vlog("ISSET-LOGIN\r");
        ssize_t got = ::recv(m_sockDDns, answer.data() + n, size_t(kAnswerMax - n), 0);
        if (got == 0) {
            vlog("ddns connection closed");
            return false;
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            vlog("recv error");
            return false;
        }
        n += int(got);
    }
    char ip[sizeof m_dvrIp];
    int port = 0;
    if (!readAnswer(answer.data(), n, ip, sizeof ip, &port))
        return false;
    std::memcpy(m_dvrIp, ip, sizeof m_dvrIp);
    m_nDVRPort = port;
    return true;
}

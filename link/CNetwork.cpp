#include "link/CNetwork.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "link/INetController.h"
#include "link/INetView.h"
#include "link/md5.h"
#include "platform/Log.h"

namespace {

constexpr int kSliceMs = 20;            // stop flag checked at least this often
constexpr size_t kLoginReadMax = 32768;  // one read of the login wait

// Gaps between pictures are judged over this much recent time.
constexpr auto kGapWindow = std::chrono::seconds(30);
// Pictures this soon after a playback key may have been on their way
// before it: they do not end the key's pause of the judgement.
constexpr auto kKeySettle = std::chrono::seconds(1);

// Rewind, stop, play and fast forward of the playback keypad, and Search.
// The codes are shared with other keys (set-up, select, left and right):
// those pause the judgement as well.
bool isPlaybackKey(uint8_t key)
{
    switch (key) {
    case 3:   // search
    case 14:  // stop
    case 16:  // rewind
    case 17:  // fast forward
    case 19:  // play
        return true;
    default:
        return false;
    }
}

// Upper-case hex MD5 of a text, 32 characters.
void md5Hex(const char* text, uint8_t out[32])
{
    md5_ctx ctx;
    uint8_t digest[16];
    md5_init(&ctx);
    md5_update(&ctx, reinterpret_cast<const uint8_t*>(text), std::strlen(text));
    md5_final(digest, &ctx);
    for (int i = 0; i < 16; ++i)
        BYTE2ABYTE(out + 2 * i, digest[i]);
}

void messageHead(uint8_t* msg, uint16_t size, uint16_t code)
{
    msg[0] = 0x00;
    msg[1] = 0x00;
    msg[2] = 0x01;
    msg[3] = 0xFE;
    WORD2AWORD(msg + 4, size);
    WORD2AWORD(msg + 8, code);
}

}  // namespace

CNetwork::CNetwork()
    : m_pBufVideo(new uint8_t[kVideoBufSize + 16]()),
      m_pBufCmd(new uint8_t[kCmdBufSize]()),
      m_readbuf(new uint8_t[kReadBufSize + 1]())
{
    hClientSocket = -1;
    ucThreadExit = 0;
    m_dwState = 0;
    m_bConnectDDns = false;
    m_bConnect = false;
    m_vsample.m_pData = m_pBufVideo.get();
    m_vsample.m_dwBufferLength = kVideoBufSize;
    m_cmdsample.m_pData = m_pBufCmd.get();
    m_cmdsample.m_dwBufferLength = kCmdBufSize;
    m_pBufVideo[2] = 0x01;
    m_pBufVideo[3] = 0xF8;
    m_pBufCmd[2] = 0x01;
    m_pBufCmd[3] = 0xFE;
}

CNetwork::~CNetwork()
{
    StopThread();
    closeSocket();
    vlog("CNetwork dealloc");
}

void CNetwork::setSocketForTest(int fd, bool connected)
{
    std::lock_guard<std::mutex> lock(m_sockLock);
    hClientSocket = fd;
    m_bConnect = connected;
}

void CNetwork::closeSocket()
{
    std::lock_guard<std::mutex> lock(m_sockLock);
    if (hClientSocket >= 0) {
        ::shutdown(hClientSocket, SHUT_RDWR);
        ::close(hClientSocket);
    }
    hClientSocket = -1;
    m_bConnect = false;
}

// ---------------------------------------------------------------------------
// Messages sent

bool CNetwork::sendMessage(const uint8_t* msg, size_t len)
{
    std::lock_guard<std::mutex> lock(m_sockLock);
    if (hClientSocket < 0)
        return false;
    ssize_t n = ::send(hClientSocket, msg, len, MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == ssize_t(len);
}

bool CNetwork::SendKeyCommand(uint8_t key)
{
    if (!m_bConnect)
        return false;
    if (isPlaybackKey(key))
        m_playbackKeyAt = std::max<Clock::rep>(Clock::now().time_since_epoch().count(), 1);
    uint8_t msg[16];
    messageHead(msg, sizeof msg, 0x0085);
    WORD2AWORD(msg + 12, key);
    sendMessage(msg, sizeof msg);
    return true;
}

bool CNetwork::sendMouseEvent(float x, float y, uint8_t button)
{
    if (!m_bConnect)
        return false;
    uint8_t msg[20] = {};
    messageHead(msg, sizeof msg, 0x0088);
    uint16_t px = uint16_t(int(x));
    uint16_t py = uint16_t(int(y));
    msg[12] = uint8_t(px >> 8);
    msg[13] = uint8_t(px);
    msg[14] = uint8_t(py >> 8);
    msg[15] = uint8_t(py);
    msg[16] = button;
    sendMessage(msg, sizeof msg);
    return true;
}

void CNetwork::buildLogin(uint8_t out[76]) const
{
    tagTSiteInfo site = _siteInfo();
    messageHead(out, 76, 0x0081);
    md5Hex(site.userPass, out + 12);
    md5Hex(site.ddnsId[0] ? site.ddnsId : kDefaultWebCode, out + 44);
}

// ---------------------------------------------------------------------------
// Worker thread

void CNetwork::setNetStatus(int status, const std::string& info)
{
    m_dwState = uint32_t(status);
    if (m_pView)
        m_pView->setNetStatus(status, info);
}

bool CNetwork::advanceState(uint32_t from, uint32_t to)
{
    if (!m_dwState.compare_exchange_strong(from, to))
        return false;
    if (m_pView)
        m_pView->setNetStatus(int(to), std::string());
    return true;
}

bool CNetwork::runDDNS()
{
    setNetStatus(NET_DDNS_CONNECT_REQ, m_DDNS.ddnsIp());
    if (!m_DDNS.ConnectToDDns(_pMain)) {
        advanceState(NET_DDNS_CONNECT_REQ, NET_DDNS_SERVER_FAIL);
        return false;
    }
    setNetStatus(NET_DDNS_SERVER_OK);
    if (!m_DDNS.LoginToDDns()) {
        setNetStatus(NET_DDNS_INFO_FAIL);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_siteLock);
        size_t n = strnlen(m_DDNS.dvrIp(), sizeof _site.dvrip - 1);
        std::memset(_site.dvrip, 0, sizeof _site.dvrip);
        std::memcpy(_site.dvrip, m_DDNS.dvrIp(), n);
        _site.dvrPort = m_DDNS.dvrPort();
    }
    m_bConnectDDns = true;
    setNetStatus(NET_DDNS_INFO_OK);
    m_lastData = Clock::now();
    return true;
}

void CNetwork::connectionLost(const char* why)
{
    vlogFailure("%s", why);
    closeSocket();
    m_bConnectDDns = false;
    bIsFirstVideoData = false;  // the new connection's first picture is reported again
    // A frame cut off by the loss is not glued to the next connection's.
    resetScanner();
    m_retryAt = m_lastData + reconnectAfter;
    setNetStatus(NET_CONNECT_FAIL);
}

// ---------------------------------------------------------------------------
// Liveness of the pictures

void CNetwork::onConnected()
{
    m_lastPicture = m_gapWindowStart = Clock::now();
    m_havePicture = false;
    m_longestGap = m_previousGap = Clock::duration::zero();
    m_stalled = false;
}

// A picture went into the view's queue: one clock read.
void CNetwork::notePicture()
{
    const Clock::time_point now = Clock::now();
    Clock::rep key = m_playbackKeyAt.load();
    const bool judged = key == 0;
    // Pictures come again after a playback key: judged from the next on.
    if (!judged && now.time_since_epoch() - Clock::duration(key) >= kKeySettle)
        m_playbackKeyAt.compare_exchange_strong(key, 0);
    // The first picture of a connection and one after a key end no gap.
    if (judged && m_havePicture) {
        if (now - m_gapWindowStart > kGapWindow) {
            m_previousGap = m_longestGap;
            m_longestGap = Clock::duration::zero();
            m_gapWindowStart = now;
        }
        const Clock::duration gap = now - m_lastPicture;
        if (gap < stallLimit())
            m_longestGap = std::max(m_longestGap, gap);
    }
    m_lastPicture = now;
    m_havePicture = true;
    if (m_stalled) {
        m_stalled = false;
        vlog("pictures again\r\n");
        setNetStatus(NET_STREAMING);
    }
}

// Once per pass of the worker while connected. Command messages keep the
// connection alive, not the pictures.
void CNetwork::watchPictures(Clock::time_point now)
{
    if (m_stalled || m_dwState.load() != NET_STREAMING || keyPauseHolds(now))
        return;
    if (now - m_lastPicture <= stallLimit())
        return;
    vlog("pictures stopped\r\n");
    m_stalled = true;
    setNetStatus(NET_WAIT_DATA);
}

// A playback key's pause ends with the next pictures or after its time; the
// pictures are then judged from the last one, as before the key.
bool CNetwork::keyPauseHolds(Clock::time_point now)
{
    Clock::rep key = m_playbackKeyAt.load();
    if (key == 0)
        return false;
    if (now.time_since_epoch() - Clock::duration(key) < playbackKeyPause)
        return true;
    // A newer key keeps its own pause.
    m_playbackKeyAt.compare_exchange_strong(key, 0);
    return false;
}

CNetwork::Clock::duration CNetwork::stallLimit() const
{
    const Clock::duration gap = std::max(m_longestGap, m_previousGap);
    return std::clamp<Clock::duration>(3 * gap, stallMin, stallMax);
}

// Until the silence rule's time has passed since the last data, in slices
// that watch the stop flag.
void CNetwork::waitForRetry()
{
    while (!stopRequested() && Clock::now() < m_retryAt)
        std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
}

// False when the wait itself failed, which ends the thread.
bool CNetwork::readSocket()
{
    pollfd pfd{hClientSocket, POLLIN, 0};
    int r = ::poll(&pfd, 1, 1);
    if (r < 0 && errno != EINTR) {
        vlogFailure("SELECT ERROR\n");
        closeSocket();
        setNetStatus(NET_CONNECT_FAIL);
        return false;
    }
    if (r > 0) {
        ssize_t got = ::recv(hClientSocket, m_readbuf.get(), kReadBufSize, 0);
        m_readbytes = got > 0 ? int(got) : 0;
        if (got > 0) {
            ProcessNet();
            m_lastData = Clock::now();
        } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            // A closed connection is noticed at once, not after the silence.
            connectionLost(got == 0 ? "connection closed by the device" : "connection lost (recv)");
            return true;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void CNetwork::ThreadHandler()
{
    vlog("Lumo NETWORK THREAD START\n");
    m_bIsThreadExitSuccess = false;
    m_lastData = Clock::now();
    m_retryAt = m_lastData;
    if (stopRequested())
        vlog("THREAD EXIT OK\n");
    while (!stopRequested()) {
        if (!m_bConnect)
            waitForRetry();
        if (stopRequested())
            break;
        if (_siteInfo().bUseDDNS && !m_bConnectDDns && !runDDNS())
            break;
        if (!m_bConnect) {
            vlog("CONNECT DVR\n");
            setNetStatus(NET_CONNECT_REQ);
            if (!ConnectDVR()) {
                vlogFailure("CONNECT DVR FAIL\n");
                advanceState(NET_CONNECT_REQ, NET_CONNECT_FAIL);
                break;
            }
            vlog("CONNECT DVR OK\n");
            m_bConnect = true;
            onConnected();
            setNetStatus(NET_CONNECT_OK);
            if (!LoginDVR()) {
                if (m_dwState == NET_MAX_USER)
                    setNetStatus(NET_MAX_USER);
                else
                    setNetStatus(NET_LOGIN_FAIL);
                break;
            }
            // Leftovers of the login read may already have brought a picture.
            advanceState(NET_CONNECT_OK, NET_LOGIN_OK);
            m_lastData = Clock::now();
        }
        const Clock::time_point now = Clock::now();
        if (now - m_lastData > reconnectAfter && m_bConnect && hClientSocket >= 0) {
            connectionLost("RECONNECT START\n");
            // The silence already lasted its time: try again at once.
            m_retryAt = Clock::now();
        } else if (hClientSocket >= 0) {
            watchPictures(now);
            if (!readSocket())
                break;
        }
        if (stopRequested()) {
            vlog("THREAD EXIT OK\n");
            break;
        }
    }
    resetScanner();
    closeSocket();
    m_bConnectDDns = false;
    vlog("Lumo THREAD EXIT");
}

bool CNetwork::ConnectDVR()
{
    vlog("ConnectDVR");
    if (hClientSocket >= 0)
        return false;
    tagTSiteInfo site = _siteInfo();
    if (site.dvrPort < 1 || site.dvrPort > 65535) {
        vlogFailure("port %d out of range", int(site.dvrPort));
        return false;
    }
    in_addr addr{};
    HostLookup::Result found = lookupHost(site.dvrip, &addr);
    if (found != HostLookup::Result::Ok) {
        if (found == HostLookup::Result::Stopped)
            vlogFailure("ExitThread...");
        else
            vlogFailure("host %s not found", site.dvrip);
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_sockLock);
        hClientSocket = fd;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(site.dvrPort));
    sa.sin_addr = addr;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    const std::string addrText = text;
    // The status line follows the connect, also when it needs no wait.
    auto progress = [&] {
        if (_pMain)
            _pMain->DisplayConnectStr(addrText, site.dvrPort, "DVR", 0);
    };
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
        vlog("RET = 0");
        progress();
        return true;
    }
    if (errno != EINPROGRESS && errno != EAGAIN) {
        closeSocket();
        return false;
    }
    for (int left = 14;; --left) {
        progress();
        int ready = 0;
        auto start = Clock::now();
        while (ready == 0 && !stopRequested() && Clock::now() - start < std::chrono::milliseconds(500)) {
            pollfd pfd{fd, POLLIN | POLLOUT, 0};
            ready = ::poll(&pfd, 1, kSliceMs);
            if (ready < 0 && errno == EINTR)
                ready = 0;
        }
        if (ready > 0) {
            // The connect's own outcome, not a guess from readiness.
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = errno;
            vlog("RET2 = %d", err);
            if (err == 0)
                return true;
            closeSocket();
            return false;
        }
        if (ready < 0)
            vlogFailure("SELECT ERROR~~~~~~~~~");
        else if (!stopRequested())
            vlog("SELECT TIMEOUT~~~~~~~~~ %d", left);
        if (ready < 0 || stopRequested() || left <= 0) {
            if (ready == 0)
                vlogFailure(stopRequested() ? "ExitThread..." : "Timeout");
            closeSocket();
            return false;
        }
    }
}

uint32_t CNetwork::minimumSize(uint16_t code)
{
    switch (code) {
    case 4: return 16;   // reason code
    case 14: return 13;  // search mode byte
    case 15: return 23;  // pointer information
    default: return kCmdMinSize;
    }
}

int CNetwork::takeLoginReplies(uint8_t* buf, size_t* len)
{
    static const uint8_t kStart[4] = {0x00, 0x00, 0x01, 0xFE};
    while (*len > 0) {
        if (std::memcmp(buf, kStart, std::min<size_t>(*len, 4)) != 0) {
            vlogFailure("login reply is not a command");
            return 0;
        }
        if (*len < 8)
            return 1;
        uint16_t size = 0;
        if (!parseAWORD(buf + 4, &size) || size < kCmdMinSize || size > kCmdBufSize) {
            vlogFailure("malformed login reply");
            return 0;
        }
        if (*len < size)
            return 1;
        uint16_t code = AWORD2WORD(buf + 8);
        if (size < minimumSize(code)) {
            vlogFailure("malformed login reply");
            return 0;
        }
        switch (code) {
        case 1: {
            vlog("Connection OK\r");
            char model[kCmdBufSize] = {};
            if (size > 26)
                std::memcpy(model, buf + 26, size - 26u);
            vlog("Model: %s\r\n", model);
            break;
        }
        case 3:
            m_bConnect = true;
            break;
        case 4:
            vlogFailure("LOGIN FAIL %d\r\n", AWORD2WORD(buf + 12));
            return 0;
        case 17:
            m_dwState = NET_MAX_USER;
            return 0;
        default:
            return 0;
        }
        std::memmove(buf, buf + size, *len - size);
        *len -= size;
        if (code == 3)
            return 2;
    }
    return 1;
}

bool CNetwork::LoginDVR()
{
    uint8_t login[76];
    buildLogin(login);
    if (!sendMessage(login, sizeof login)) {
        vlogFailure("Login Request Send Fail\r");
        return false;
    }
    if (stopRequested())
        return false;
    // One wall-clock deadline for the whole wait, however many replies come.
    auto deadline = Clock::now() + m_dwTimeout;
    uint8_t* buf = m_readbuf.get();
    size_t len = 0;
    while (!stopRequested()) {
        if (Clock::now() >= deadline) {
            vlogFailure("login timeout");
            return false;
        }
        pollfd pfd{hClientSocket, POLLIN, 0};
        int r = ::poll(&pfd, 1, kSliceMs);
        if (r < 0 && errno != EINTR) {
            vlogFailure("select error\r");
            return false;
        }
        if (r <= 0)
            continue;
        ssize_t got = ::recv(hClientSocket, buf + len, std::min(kLoginReadMax, size_t(kReadBufSize) - len), 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0) {
            vlog("login reply missing");
            return false;
        }
        len += size_t(got);
        int step = takeLoginReplies(buf, &len);
        if (step == 0)
            return false;
        if (step == 2) {
            // What followed the acceptance in the same read is stream data.
            m_readbytes = int(len);
            ProcessNet();
            return true;
        }
        if (len >= kReadBufSize) {
            vlogFailure("malformed login reply");
            return false;
        }
    }
    return false;
}

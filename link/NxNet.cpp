// Recorder link: object, worker thread, connection and send ring.
#include "link/NxNet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>


#include "decode/CFFmpeg.h"
#include "link/AESCrypt.h"
#include "link/INetController.h"
#include "link/INetView.h"
#include "output/RingBuffer.h"
#include "platform/Crypto.h"
#include "platform/Log.h"

#include "link/NxWire.h"

using namespace nxwire;

std::atomic<int> g_requestAudioCh{0};

// ---------------------------------------------------------------------------
// Object

NxNet::NxNet()
    : _recv_buf(new uint8_t[kBufSize]),
      _save_buf(new uint8_t[kBufSize + kBufMargin]()),
      _sendQ(new uint8_t[kSendQSize]()),
      m_decodePool([this](DecodePool::Job& job) { decodeJob(job); },
                   [this](DecodePool::Job& job) { dropJob(job); })
{
    std::memset(&_netInfo, 0, sizeof _netInfo);
    std::memset(_netInfo.bFirstDecoding, 10, sizeof _netInfo.bFirstDecoding);
    g_requestAudioCh = 0;
    currentDisplayCh = 0;
    hClientSocket = -1;
    m_bConnect = false;
    ucThreadExit = 0;
    pacingClock = [] {
        timeval tv{};
        gettimeofday(&tv, nullptr);
        return uint32_t((tv.tv_sec % 100000) * 1000 + tv.tv_usec / 1000);
    };
    InitVar();
}

NxNet::~NxNet()
{
    StopThread();
    CloseSocket();
    vlog("NxNet dealloc");
}

void NxNet::InitVar()
{
    _sendWriteQ = 0;
    _sendReadQ = 0;
    std::memset(_cmd_fixsize, 0, sizeof _cmd_fixsize);
    _cmd_fixsize[1] = 4096;
    _bCmdV2 = 0;
    _start_frame_code = 0;
    _pk.speed = 30.0f;
    _eNowCmd = -1;
    _recvedSize = 0;
    _readOffset = 0;
    _saveOffset = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        _request_id = 0;
    }
    _nowHeaderID = 0;
    _eNetProgress = 0;
    _neededSize = 4;
    _eNetMode = 0;
    _connectProbeLong = false;
}

void NxNet::resetForTest()
{
    m_decodePool.cancel();
    m_lostChannels = 0;
    for (auto& waits : m_decodeWaitsKey)
        waits = false;
    CloseSocket();
    ucThreadExit = 0;
    std::memset(&_netInfo, 0, sizeof _netInfo);
    std::memset(_netInfo.bFirstDecoding, 10, sizeof _netInfo.bFirstDecoding);
    {
        std::lock_guard<std::mutex> lock(m_dvrLock);
        _dvr = TDvrInfo{};
    }
    {
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        _searchInfo = NetSearchInfo{};
        currentDisplayCh = 0;
        m_flow = Flow::Forward;
        m_keyOnlyLive = false;
        forgetPositions();
        for (Pos& p : m_framePos)
            p = Pos{};
    }
    set_siteInfo(tagTSiteInfo{});
    g_requestAudioCh = 0;
    m_dwState = 0;
    m_echoCount = 0;
    m_echoTotal = 0;
    m_cmddata_send_ok_count = 0;
    m_cmddata_send_req_count = 0;
    m_pendingDiscontinuity = false;
    m_historyOpen = false;
    m_gotConnectAnswer = false;
    m_loginPending = false;
    m_loggedIn = false;
    m_loginTry = 0;
    m_holding = false;
    m_videoLoss = 0;
    m_stalled = false;
    m_unasked = 0;
    for (auto& r : m_roundTrips)
        r = 0;
    {
        std::lock_guard<std::mutex> lock(m_askedLock);
        m_asked.clear();
        m_askedLive = 0;
    }
    bIsFirstVideoData = false;
    _pk = tagNxPacket{};
    deleteADecoder();
    InitVar();
}

void NxNet::setSocketForTest(int fd, bool isConnected)
{
    hClientSocket = fd;
    m_bConnect = isConnected;
}

TDvrInfo NxNet::_dvrInfo() const
{
    std::lock_guard<std::mutex> lock(m_dvrLock);
    return _dvr;
}

NetSearchInfo NxNet::searchInfo() const
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    return _searchInfo;
}

int NxNet::requestId() const
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    return _request_id;
}

int NxNet::getMaxCh() const
{
    std::lock_guard<std::mutex> lock(m_dvrLock);
    return _dvr.maxch;
}

void NxNet::setNetStatus(int status, const std::string& info)
{
    m_dwState = uint32_t(status);
    if (m_pView)
        m_pView->setNetStatus(status, info);
}

// ---------------------------------------------------------------------------
// Worker thread and connection

void NxNet::ThreadHandler()
{
    m_bIsThreadExitSuccess = false;
    if ((!_siteInfo().bUseDDNS || lookUpDDNS()) && ConnectDVR()) {
        while (!stopRequested()) {
            TcpSendPump();
            if (hClientSocket < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            pollfd pfd{hClientSocket, POLLIN, 0};
            if (_sendReadQ.load() != _sendWriteQ.load())
                pfd.events |= POLLOUT;
            int r = ::poll(&pfd, 1, 2);
            if (r > 0 && (pfd.revents & (POLLIN | POLLHUP | POLLERR)))
                TcpReceivePump();
            if (hClientSocket >= 0)
                watchLiveness();
        }
    }
    CloseSocket();
    vlog("NxNet THREAD EXIT H.264");
}

// Asks the DDNS server for the recorder's address and port, reporting each
// step; the answer replaces the site's address and port.
bool NxNet::lookUpDDNS()
{
    setNetStatus(NET_DDNS_CONNECT_REQ, m_DDNS.ddnsIp());
    if (!m_DDNS.ConnectToDDns(_pMain)) {
        setNetStatus(NET_DDNS_SERVER_FAIL);
        return false;
    }
    setNetStatus(NET_DDNS_SERVER_OK);
    if (!m_DDNS.LoginToDDns()) {
        setNetStatus(NET_DDNS_INFO_FAIL);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_siteLock);
        std::memset(_site.dvrip, 0, sizeof _site.dvrip);
        std::memcpy(_site.dvrip, m_DDNS.dvrIp(), strnlen(m_DDNS.dvrIp(), sizeof _site.dvrip - 1));
        _site.dvrPort = m_DDNS.dvrPort();
    }
    m_bConnectDDns = true;
    setNetStatus(NET_DDNS_INFO_OK);
    return true;
}

bool NxNet::ConnectDVR()
{
    tagTSiteInfo site = _siteInfo();
    {
        std::lock_guard<std::mutex> lock(m_dvrLock);
        _dvr.model_org = site.nModelNum;
    }
    auto fail = [this] {
        setNetStatus(NET_CONNECT_FAIL);
        CloseSocket();
        return false;
    };
    if (site.dvrPort < 1 || site.dvrPort > 65535) {
        vlogFailure("port %d out of range", int(site.dvrPort));
        return fail();
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(site.dvrPort));
    HostLookup::Result found = lookupHost(site.dvrip, &addr.sin_addr);
    if (found == HostLookup::Result::Stopped)
        return fail();
    if (found == HostLookup::Result::Failed) {
        vlogFailure("host %s not found", site.dvrip);
        return fail();
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    std::string addrText = text;
    setNetStatus(NET_CONNECT_REQ, addrText);

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail();
    hClientSocket = fd;

    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        // The status line follows the connect, also when it needs no wait.
        if (_pMain)
            _pMain->DisplayConnectStr(addrText, site.dvrPort, "DVR", 0);
        m_bConnect = true;
        onConnected();
        setNetStatus(NET_CONNECT_OK);
        return true;
    }
    if (errno != EINPROGRESS && errno != EWOULDBLOCK && errno != EAGAIN)
        return fail();

    for (int counter = 14;; ) {
        if (_pMain)
            _pMain->DisplayConnectStr(addrText, site.dvrPort, "DVR", 0);
        int ready = 0;
        // Half a second per attempt, in slices that watch the stop flag.
        for (int slice = 0; slice < 10 && ready == 0 && !stopRequested(); ++slice) {
            pollfd pfd{fd, POLLIN | POLLOUT, 0};
            ready = ::poll(&pfd, 1, 50);
            if (ready < 0 && errno == EINTR)
                ready = 0;
        }
        if (ready > 0) {
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
                m_bConnect = true;
                onConnected();
                return true;
            }
            return fail();
        }
        if (ready < 0) {
            vlogFailure("SELECT ERROR~~~~~~~~~");
            return fail();
        }
        if (!stopRequested()) {
            vlog("SELECT TIMEOUT~~~~~~~~~ %d", counter);
            --counter;
        }
        if (stopRequested()) {
            vlogFailure("ExitThread...");
            return fail();
        }
        if (counter < 0) {
            vlogFailure("Timeout");
            return fail();
        }
    }
}

void NxNet::CloseSocket()
{
    if (hClientSocket >= 0) {
        vlog("CloseSocket()\n");
        linger lg{1, 0};
        setsockopt(hClientSocket, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        ::shutdown(hClientSocket, SHUT_RDWR);
        ::close(hClientSocket);
    }
    hClientSocket = -1;
    m_bConnect = false;
}

// A connection that broke after it was up: close it so the watchdog sees it.
void NxNet::failConnection(const char* why)
{
    vlogFailure("%s", why);
    CloseSocket();
    // A frame cut by the loss is not kept.
    resetParser();
    setNetStatus(NET_CONNECT_FAIL);
}

// ---------------------------------------------------------------------------
// Send ring

bool NxNet::WriteToSendQ(const uint8_t* frame, int n)
{
    std::lock_guard<std::mutex> lock(m_sendLock);
    int w = _sendWriteQ.load();
    int r = _sendReadQ.load();
    bool fits = r > w ? (w + n < r) : (kSendQSize - 1 - (w - r) >= n);
    if (n < 0 || !fits) {
        vlog("COMMAND Q OVER !\r\n");
        return false;
    }
    int first = std::min(n, kSendQSize - w);
    std::memcpy(&_sendQ[w], frame, size_t(first));
    if (n > first)
        std::memcpy(&_sendQ[0], frame + first, size_t(n - first));
    // Published only once the whole frame is in.
    _sendWriteQ.store((w + n) % kSendQSize);
    return true;
}

void NxNet::WriteToSendQHandler(int cmd, const uint8_t* payload, size_t len)
{
    bool v2 = _bCmdV2.load() != 0;
    if (cmd == 3)
        vlog("_bCmdV2:%d", v2 ? 1 : 0);
    std::vector<uint8_t> frame(v2 ? len + 12 : 2 * len + 12);
    size_t n = v2 ? writeToSendQWithoutFF(frame.data(), frame.size(), cmd, payload, len)
                  : writeToSendQWithFF(frame.data(), frame.size(), cmd, payload, len);
    if (n == 0)
        return;
    WriteToSendQ(frame.data(), int(n));
}

void NxNet::TcpSendPump()
{
    int r = _sendReadQ.load();
    int w = _sendWriteQ.load();
    if (hClientSocket < 0 || r == w)
        return;
    int end = w > r ? w : kSendQSize;
    ssize_t n = ::send(hClientSocket, &_sendQ[r], size_t(end - r), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
        _sendReadQ.store(int((r + n) % kSendQSize));
        return;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return;
    failConnection("Disconnect(TcpSendPump)\r\n");
}

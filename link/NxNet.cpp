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

std::atomic<int> g_requestAudioCh{0};

namespace {

constexpr uint32_t kHeadV1 = 0x0000ADC2;
constexpr uint32_t kHeadV2 = 0x0000ADC3;
constexpr uint32_t kTailV1 = 0x000001B4;
constexpr uint32_t kTailV2 = 0x4E454E44;  // "NEND"
constexpr uint32_t kCodeF3 = 0x000001F3;
constexpr uint32_t kCodeF5 = 0x000001F5;
constexpr uint32_t kCodeNDAV = 0x4E444156;  // "NDAV"
constexpr uint32_t kCodeNDAv = 0x4E444176;  // "NDAv"
constexpr uint32_t kCodeBADJ = 0x4241444A;  // "BADJ"
constexpr uint32_t kCodeNDAg = 0x4E444160;  // "NDA`"
constexpr uint32_t kCodeNDAp = 0x4E444170;  // "NDAp"
constexpr int kFrameSizeMax = 4194268;
constexpr uint8_t kLoginSalt[8] = {0x05, 0x01, 0x0C, 0x09, 0x03, 0x0E, 0x04, 0x07};
constexpr uint8_t kXorMask[] = "KJVQKJVQKJVQKJVQ";
std::atomic<bool> g_headerNotFoundLogged{false};

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[1] << 8 | p[0]); }
void put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

bool isNoPayloadCommand(int cmd)
{
    switch (cmd) {
    case 12: case 13: case 22: case 23: case 25: case 30: case 47:
    case 50: case 57: case 72: case 75: case 76:
        return true;
    default:
        return false;
    }
}

// Rate value of F3 and NDAV headers: base divided by the rate code.
float rateFromCode(int c, float base, float zeroRate)
{
    if (c == 0)
        return zeroRate;
    if (c <= 7)
        return float(double(base) / double(c));
    float sum = c <= 12 ? float(c) + 0.1f : float(c) + 0.15f;
    return float(double(base) / double(sum));
}

void resolutionF3(int code, bool hz50, int32_t& w, int32_t& h)
{
    w = code == 0 || code == 1 ? 720 : 352;
    bool tall = code == 0;
    h = tall ? (hz50 ? 576 : 480) : (hz50 ? 288 : 240);
}

void resolutionNDAV(int code, bool hz50, int32_t& w, int32_t& h)
{
    w = code == 0 ? 352 : 704;
    bool tall = code != 0 && code != 1;
    h = tall ? (hz50 ? 576 : 480) : (hz50 ? 288 : 240);
}

// BADJ and NDA-grave resolution codes.
void resolutionHD(int code, bool hz50, int32_t& w, int32_t& h)
{
    w = code == 1 ? 352 : 704;
    bool tall = code != 1 && code != 2;
    h = tall ? (hz50 ? 576 : 480) : (hz50 ? 288 : 240);
}

void resolutionNDAp(int code, bool hz50, int32_t& w, int32_t& h)
{
    struct Size { int w, h, h50; };
    static constexpr Size kSizes[16] = {
        {320, 240, 288}, {720, 240, 240}, {720, 480, 480}, {640, 360, 360},
        {1280, 360, 360}, {1280, 720, 720}, {960, 540, 540}, {1920, 540, 540},
        {1920, 1080, 1080}, {480, 240, 288}, {960, 240, 288}, {960, 480, 576},
        {480, 270, 270}, {320, 180, 180}, {320, 240, 240}, {320, 240, 240},
    };
    const Size& s = kSizes[code & 0x0F];
    w = s.w;
    h = hz50 ? s.h50 : s.h;
}

}  // namespace

// ---------------------------------------------------------------------------
// Frame builders

size_t writeToSendQWithFF(uint8_t* out, size_t cap, int cmd, const uint8_t* payload, size_t len)
{
    size_t total = 2 * len + 12;
    if (total > size_t(NxNet::kSendQSize) || total > cap) {
        vlog("network command size over !\r");
        return 0;
    }
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0xAD;
    out[3] = 0xC2;
    out[4] = uint8_t(cmd);
    out[5] = 0xFF;
    out[6] = uint8_t(cmd >> 8);
    out[7] = 0xFF;
    for (size_t i = 0; i < len; ++i) {
        out[8 + 2 * i] = payload[i];
        out[9 + 2 * i] = 0xFF;
    }
    uint8_t* tail = out + 8 + 2 * len;
    tail[0] = 0x00;
    tail[1] = 0x00;
    tail[2] = 0x01;
    tail[3] = 0xB4;
    return total;
}

size_t writeToSendQWithoutFF(uint8_t* out, size_t cap, int cmd, const uint8_t* payload, size_t len)
{
    size_t total = len + 12;
    if (total > size_t(NxNet::kSendQSize) || total > cap) {
        vlog("network command size over !\r");
        return 0;
    }
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = 0xAD;
    out[3] = 0xC3;
    put32(out + 4, uint32_t(cmd));
    if (len)
        std::memcpy(out + 8, payload, len);
    std::memcpy(out + 8 + len, "NEND", 4);
    return total;
}

int getCommandWithoutFF(int* cmd, uint8_t* payload, size_t cap, const uint8_t* in, int len)
{
    if (len < 4)
        return 0;
    *cmd = in[0] + 256 * in[2];
    int n = int(std::min<size_t>(size_t(len - 4) / 2, cap));
    for (int i = 0; i < n; ++i)
        payload[i] = in[4 + 2 * i];
    return n;
}

// ---------------------------------------------------------------------------
// Object

NxNet::NxNet()
    : _recv_buf(new uint8_t[kBufSize]),
      _save_buf(new uint8_t[kBufSize + kBufMargin]()),
      _sendQ(new uint8_t[kSendQSize]())
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
    tagTSiteInfo site = _siteInfo();
    if (site.bUseDDNS) {
        // No DDNS client in this build: the lookup fails at once.
        vlog("DDNS lookup is not available");
        setNetStatus(NET_DDNS_CONNECT_REQ, site.ddnsIp);
        setNetStatus(NET_DDNS_SERVER_FAIL);
    } else if (ConnectDVR()) {
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
        }
    }
    CloseSocket();
    vlog("NxNet THREAD EXIT H.264");
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
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail();
    hClientSocket = fd;

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(site.dvrPort));
    std::string addrText = site.dvrip;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(site.dvrip, nullptr, &hints, &found) == 0 && found) {
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
        addrText = text;
        freeaddrinfo(found);
    } else {
        addr.sin_addr.s_addr = inet_addr(site.dvrip);
    }
    setNetStatus(NET_CONNECT_REQ, addrText);

    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        m_bConnect = true;
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
                return true;
            }
            return fail();
        }
        if (ready < 0) {
            vlog("SELECT ERROR~~~~~~~~~");
            return fail();
        }
        if (!stopRequested()) {
            vlog("SELECT TIMEOUT~~~~~~~~~ %d", counter);
            --counter;
        }
        if (stopRequested()) {
            vlog("ExitThread...");
            return fail();
        }
        if (counter < 0) {
            vlog("Timeout");
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
    vlog("%s", why);
    CloseSocket();
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

// ---------------------------------------------------------------------------
// Command writer

void NxNet::SendCmdToServer(int cmd, int32_t arg1, int32_t arg2)
{
    uint8_t rec[8];
    put32(rec, uint32_t(arg1));
    put32(rec + 4, uint32_t(arg2));
    SendCmdToServer(cmd, rec, cmd == 35 ? 4 : 8);
}

void NxNet::SendCmdToServer(int cmd, const void* payload, size_t len)
{
    if (stopRequested())
        return;
    const uint8_t* rec = static_cast<const uint8_t*>(payload);
    auto withRecord = [&](size_t need) {
        if (!rec || len < need) {
            vlog("command record too short %d", cmd);
            return;
        }
        WriteToSendQHandler(cmd, rec, need);
    };
    if (isNoPayloadCommand(cmd)) {
        WriteToSendQHandler(cmd, nullptr, 0);
        vlog("COMMAND_SEND OK %d", cmd);
        return;
    }
    switch (cmd) {
    case 3:
        sendLogin();
        break;
    case 6:
        m_cmddata_send_req_count++;
        withRecord(24);
        break;
    case 15:
        withRecord(8);
        break;
    case 26: case 27: case 28: case 35:
        withRecord(4);
        break;
    case 29:
        sendSeek();
        break;
    case 32: {
        std::unique_lock<std::mutex> lock(m_dvrLock);
        size_t need = _dvr.nw_ver <= 5 ? 8 : 16;
        lock.unlock();
        withRecord(need);
        break;
    }
    case 44: {
        uint8_t id[32] = {};
        tagTSiteInfo site = _siteInfo();
        std::memcpy(id, site.ddnsId, sizeof id);
        id[31] = 0;
        WriteToSendQHandler(cmd, id, sizeof id);
        break;
    }
    case 53:
        withRecord(16);
        break;
    case 79:
        withRecord(12);
        break;
    default:
        vlog("Unknown send command %d\n", cmd);
        break;
    }
}

void NxNet::sendLogin()
{
    uint16_t ver;
    {
        std::lock_guard<std::mutex> lock(m_dvrLock);
        ver = _dvr.nw_ver;
    }
    vlog("SendCmdToServer - LOGIN_REQ %d", ver);
    tagTSiteInfo site = _siteInfo();
    uint8_t rec[104] = {};
    if (ver >= 24) {
        auto digest = [](const char* text, uint8_t* out) {
            std::vector<uint8_t> data(kLoginSalt, kLoginSalt + sizeof kLoginSalt);
            size_t n = strnlen(text, 16);
            bool ascii = std::all_of(text, text + n, [](char c) { return (unsigned char)c < 0x80; });
            if (ascii)
                data.insert(data.end(), text, text + n);
            auto d = Crypto::sha256(data.data(), data.size());
            std::memcpy(out, d.data(), d.size());
        };
        digest(site.userId, rec);
        digest(site.userPass, rec + 50);
    } else {
        std::memcpy(rec, site.userId, strnlen(site.userId, 15));
        std::memcpy(rec + 50, site.userPass, strnlen(site.userPass, 15));
    }
    put32(rec + 100, 0);
    WriteToSendQHandler(3, rec, ver <= 1 ? 100 : 104);
}

void NxNet::sendSeek()
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    uint32_t hold = _searchInfo.hdd_search_set_play_time;
    _searchInfo.current_frame_time = hold;
    uint8_t rec[4];
    put32(rec, hold);
    WriteToSendQHandler(29, rec, 4);
    // Logged in the recorder's local time (nine hours ahead of the stored base).
    tm_t tm{};
    to_tm(hold - 32400, &tm);
    vlog("SEARCH MOVE SEND %04d-%02d-%02d %02d:%02d:%02d", tm.year, tm.mon, tm.mday, tm.hour, tm.min, tm.sec);
}

// ---------------------------------------------------------------------------
// Receive pump and parser

void NxNet::TcpReceivePump()
{
    if (hClientSocket < 0)
        return;
    ssize_t n = ::recv(hClientSocket, _recv_buf.get(), kBufSize, MSG_DONTWAIT);
    if (n == 0) {
        failConnection("Disconnect(TcpReceivePump)\r\n");
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            failConnection("Disconnect(TcpReceivePump)\r\n");
        return;
    }
    parseReceived(_recv_buf.get(), int(n));
}

void NxNet::parseReceived(const uint8_t* data, int n)
{
    if (!data || n <= 0)
        return;
    _recvPtr = data;
    _recvedSize = n;
    _readOffset = 0;
    while (n - _readOffset >= _neededSize) {
        int consumed = 0;
        switch (_eNetMode) {
        case 0: consumed = proc_find_header(); break;
        case 1: consumed = proc_cmd_id(); break;
        case 2: consumed = proc_video_id(); break;
        case 3: consumed = proc_cmd_tail(); break;
        case 4: consumed = proc_video_tail(); break;
        default: resetParser(); break;
        }
        _readOffset += consumed;
    }
    int k = n - _readOffset;
    if (k > 0) {
        if (_saveOffset + k > kBufSize) {
            resetParser();
        } else {
            std::memcpy(&_save_buf[_saveOffset], data + _readOffset, size_t(k));
            _saveOffset += k;
            _neededSize -= k;
        }
    }
    _readOffset = 0;
    _recvPtr = nullptr;
}

// Appends the bytes the current step needs; false when they do not fit
// and the parser started over instead.
bool NxNet::appendNeeded()
{
    if (_neededSize <= 0)
        return true;
    if (_saveOffset + _neededSize > kBufSize) {
        resetParser();
        return false;
    }
    std::memcpy(&_save_buf[_saveOffset], _recvPtr + _readOffset, size_t(_neededSize));
    _saveOffset += _neededSize;
    return true;
}

void NxNet::resetParser()
{
    _saveOffset = 0;
    _neededSize = 4;
    _eNetMode = 0;
    _connectProbeLong = false;
}

int NxNet::proc_find_header()
{
    int used = _neededSize;
    if (!appendNeeded())
        return used;
    uint32_t head = be32(&_save_buf[0]);
    _nowHeaderID = head;
    if (head == kHeadV1 || head == kHeadV2) {
        _bCmdV2 = head == kHeadV2 ? 1 : 0;
        _eNetMode = 1;
        _neededSize = 4;
    } else if (_start_frame_code != 0 && head == _start_frame_code) {
        _eNetMode = 2;
        _neededSize = 28;
    } else {
        std::memmove(&_save_buf[0], &_save_buf[1], 3);
        _saveOffset = 3;
        _neededSize = 1;
        _eNetMode = 0;
        if (!g_headerNotFoundLogged.exchange(true))
            vlog("NOT FOUND HEADER(LAST)\r\n");
    }
    return used;
}

int NxNet::proc_cmd_id()
{
    int used = _neededSize;
    if (!appendNeeded())
        return used;
    const uint8_t* p = &_save_buf[4];
    int id = _bCmdV2 ? p[0] : p[0] + 256 * p[2];
    if (id > 89) {
        vlog("CHECK OVER_CMD\r\n");
        resetParser();
        return used;
    }
    _eNowCmd = id;
    if (_eNetProgress == 2) {
        _neededSize = _cmd_fixsize[id];
    } else if (id == 1) {
        // The connect answer comes in a short (272) or long (552) form; try
        // the short one first, then extend to the long one.
        _connectProbeLong = false;
        _neededSize = _bCmdV2 ? 272 + 4 : 2 * 272 + 4;
    } else {
        _neededSize = std::max(_cmd_fixsize[id], 4);
    }
    _eNetMode = 3;
    vlog("CMD ID : %d", id);
    return used;
}

int NxNet::proc_cmd_tail()
{
    int used = _neededSize;
    if (!appendNeeded())
        return used;
    uint32_t tail = _saveOffset >= 12 ? be32(&_save_buf[_saveOffset - 4]) : 0;
    bool probing = _eNowCmd == 1 && _eNetProgress != 2;
    if (probing && tail != kTailV1 && tail != kTailV2 && !_connectProbeLong) {
        _connectProbeLong = true;
        _neededSize = _bCmdV2 ? (552 - 272) : 2 * (552 - 272);
        return used;
    }
    if (tail == kTailV2 || tail == kTailV1) {
        int len;
        if (tail == kTailV2) {
            len = _saveOffset - 12;
        } else {
            len = (_saveOffset - 12) / 2;
            for (int i = 0; i < len; ++i)
                _save_buf[8 + i] = _save_buf[8 + 2 * i];
        }
        int cmd = _eNowCmd;
        resetParser();
        exe_cmd_fromServer(cmd, len);
    } else {
        vlog("NOT MATCH END(ExTable %d  eNowCmd %d)\r\n", cmdFixSize(_eNowCmd) - 4, _eNowCmd);
        resetParser();
    }
    return used;
}

int NxNet::proc_video_id()
{
    int used = _neededSize;
    if (!appendNeeded())
        return used;
    if (!readVideoHeader()) {
        resetParser();
        return used;
    }
    _eNetMode = 4;
    _neededSize = _pk.frame_size + 4;
    return used;
}

int NxNet::proc_video_tail()
{
    int used = _neededSize;
    if (!appendNeeded())
        return used;
    uint32_t tail = be32(&_save_buf[_saveOffset - 4]);
    if (tail == kTailV1 || tail == kTailV2) {
        if (!bIsFirstVideoData) {
            setNetStatus(NET_STREAMING);
            bIsFirstVideoData = true;
        }
        if (onFrame)
            onFrame(_pk);
        ProcDvrFrame();
    } else {
        vlog("NOT MATCH VIDEO END\r\n");
    }
    resetParser();
    return used;
}

// ---------------------------------------------------------------------------
// Media frame headers

bool NxNet::readVideoHeader()
{
    const uint8_t* h = &_save_buf[0];
    uint32_t code = _nowHeaderID;
    bool search;
    {
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        search = _searchInfo.hdd_search_mode_flag;
    }
    int ch = 0;
    int type = 0;
    int64_t frameSize = 0;
    int dataOffset = 32;
    int64_t inSize = 0;
    tagNxPacket& pk = _pk;
    pk.add_nal = 0;
    pk.stream_id = int32_t(le32(h));

    if (code == kCodeF3) {
        ch = h[8] & 0x0F;
        type = h[8] >> 4;
        pk.time = le32(h + 4);
        frameSize = int64_t(le16(h + 12)) * 32;
        bool hz50 = h[16] & 0x10;
        resolutionF3(h[16] & 0x0F, hz50, pk.w_org, pk.h_org);
        if (search)
            pk.speed = rateFromCode(h[9], hz50 ? 50.f : 60.f, hz50 ? 50.f : 60.f);
        pk.now_type = h[24] >> 3;
        pk.request_id = h[25] >> 4;
        dataOffset = 64;
        inSize = frameSize - 32;
    } else if (code == kCodeNDAV || code == kCodeNDAv) {
        ch = h[4];
        type = h[5] + 1;
        pk.evt_rec = h[7] & 1;
        pk.evt_md = (h[7] >> 1) & 1;
        pk.evt_ss = (h[7] >> 2) & 1;
        pk.time = le32(h + 8) + kTime2008;
        frameSize = int32_t(le32(h + 12));
        bool hz50 = h[20] & 0x08;
        resolutionNDAV(h[20] & 0x07, hz50, pk.w_org, pk.h_org);
        if (search)
            pk.speed = rateFromCode(h[21], hz50 ? 30.f : 25.f, 30.f);
        pk.seq = h[23];
        pk.now_type = h[28];
        pk.request_id = h[29];
        pk.add_nal = 1;
        pk.stream_id = int32_t(le32(reinterpret_cast<const uint8_t*>("NDAV")));
        inSize = frameSize;
    } else if (code == kCodeBADJ) {
        ch = h[8] & 0x0F;
        type = h[8] >> 4;
        pk.time = be32(h + 4);
        pk.speed = h[9] ? float(h[9]) : 30.f;
        frameSize = int64_t(be16(h + 12)) * 4;
        resolutionHD(h[16] & 0x0F, h[16] & 0x10, pk.w_org, pk.h_org);
        pk.evt_md = (h[16] >> 5) & 1;
        pk.evt_ss = (h[16] >> 6) & 1;
        pk.evt_rec = (h[16] >> 7) & 1;
        pk.seq = h[19];
        pk.now_type = h[24] >> 3;
        pk.request_id = h[25] >> 4;
        dataOffset = type == 3 ? 48 : 52;
        inSize = frameSize - (type == 3 ? 16 : 20);
    } else if (code == kCodeNDAg || code == kCodeNDAp) {
        ch = h[8] & 0x0F;
        type = h[8] >> 4;
        pk.time = le32(h + 4);
        pk.speed = h[9] ? float(h[9]) : 30.f;
        pk.seq = h[14];
        frameSize = int32_t(le32(h + 16));
        bool hz50 = h[20] & 0x10;
        if (code == kCodeNDAp) {
            resolutionNDAp(h[20] & 0x0F, hz50, pk.w_org, pk.h_org);
            pk.misc2 = h[23] & 0x0F;
        } else {
            resolutionHD(h[20] & 0x0F, hz50, pk.w_org, pk.h_org);
        }
        pk.evt_md = (h[20] >> 5) & 1;
        pk.evt_ss = (h[20] >> 6) & 1;
        pk.evt_rec = (h[20] >> 7) & 1;
        pk.now_type = h[22] >> 3;
        pk.request_id = h[23] >> 4;
        inSize = frameSize;
    } else {
        vlog("CHECK VDO 32byte\r\n");
        return false;
    }

    bool ok = true;
    if (frameSize < 0 || frameSize > kFrameSizeMax) {
        vlog("Frame size is over! %d\r\n", int(frameSize));
        ok = false;
    }
    if (ok && inSize < 0) {
        vlog("Frame size is too small! %d\r\n", int(frameSize));
        ok = false;
    }
    int maxch = std::min<int>(_dvr.maxch, 16);
    if (ch < 0 || ch >= maxch) {
        vlog("channel over!!!! (%d)\r\n", ch);
        ok = false;
    }
    if (!ok)
        return false;
    pk.ch = int8_t(ch);
    pk.frame_type = uint8_t(type);
    pk.frame_size = int32_t(frameSize);
    pk.raw_size = int32_t(frameSize + 36);
    pk.raw_ptr = &_save_buf[0];
    pk.inbuff = &_save_buf[dataOffset];
    pk.insize = int32_t(inSize);
    return true;
}

// ---------------------------------------------------------------------------
// Received commands

void NxNet::set_cmd_struct_size()
{
    int group = _dvr.group;
    int ver = _dvr.nw_ver;
    int model = _dvr.model;
    int payload[300] = {};
    for (int id : {2, 5, 20, 21})
        payload[id] = 56;
    payload[4] = ver <= 3 ? 8 : (ver <= 10 ? 12 : 24);
    payload[7] = 16;
    int echo = ver <= 5 ? 0 : (ver == 6 ? 12 : (ver == 7 ? 16 : 28));
    payload[11] = echo;
    payload[73] = echo;
    for (int id : {14, 17, 18, 45, 65, 66, 69})
        payload[id] = 8;
    int day = group == 7 ? 17388 : (group == 2 ? 14460 : 11628);
    payload[19] = day;
    payload[67] = day;
    int hist = 0;
    if (group == 7)
        hist = 262160;
    else if (group == 1)
        hist = ver <= 6 ? 3856 : 8208;
    else if (group == 2)
        hist = ver <= 5 ? 3856 : (ver <= 13 ? 6256 : 13328);
    else if (group == 8 || group == 9 || group == 11 || group == 12)
        hist = 8208;
    payload[33] = hist;
    payload[38] = 1028;
    payload[39] = 1116;
    payload[42] = 4;
    payload[60] = 4;
    payload[48] = group == 1 ? 768 : 0;
    payload[51] = 44;
    int p58 = 0;
    if (group == 7)
        p58 = 128;
    else if (group != 2 && group != 8 && group != 9)
        p58 = model == 11 ? 2200 : (model == 12 ? 4580 : (model == 13 ? 7912 : 0));
    payload[58] = p58;
    payload[61] = 36;
    payload[70] = 88;
    payload[86] = 16512;
    bool v2 = _bCmdV2 != 0;
    _cmd_fixsize[0] = 0;
    for (int id = 1; id < 300; ++id)
        _cmd_fixsize[id] = (v2 ? payload[id] : 2 * payload[id]) + 4;
}

void NxNet::SetModelParam(TDvrInfo* info, int32_t model)
{
    info->group = int32_t(GetModelGroup(model));
    switch (info->group) {
    case 1: case 3: _start_frame_code = kCodeF3; break;
    case 2: case 4: _start_frame_code = kCodeF5; break;
    case 7: _start_frame_code = kCodeNDAV; break;
    case 8: _start_frame_code = kCodeBADJ; break;
    case 9: _start_frame_code = kCodeNDAg; break;
    case 10: _start_frame_code = kCodeNDAv; break;
    case 11: case 12: _start_frame_code = kCodeNDAp; break;
    default: _start_frame_code = 0; break;
    }
    int mapped = 0;
    switch (model) {
    case 1: case 11: case 12: case 13: case 21: case 22: case 51: case 52: case 53:
    case 61: case 62: case 63:
        mapped = model;
        break;
    case 41: case 42: case 45: mapped = 11; break;
    case 43: mapped = 12; break;
    case 44: mapped = 13; break;
    case 71: case 74: mapped = 61; break;
    case 72: mapped = 62; break;
    case 73: mapped = 63; break;
    default: mapped = 0; break;
    }
    info->model = mapped;
    GetModelName(mapped, info->model_name);
}

void NxNet::exe_cmd_fromServer(int cmd, int len)
{
    const uint8_t* p = &_save_buf[8];
    if (onCommand)
        onCommand(cmd, p, len);
    auto need = [&](int n) {
        if (len >= n)
            return true;
        vlog("short command %d (%d bytes)\r\n", cmd, len);
        return false;
    };
    switch (cmd) {
    case 1:
        onConnectAnswer(p, len);
        break;
    case 2:
        setNetStatus(NET_MAX_USER);
        failConnectionQuietly();
        break;
    case 4:
        if (need(4))
            onLoginAccepted(p, len);
        break;
    case 5:
        setNetStatus(NET_LOGIN_FAIL, std::string(reinterpret_cast<const char*>(p), len > 0 ? 1 : 0));
        failConnectionQuietly();
        break;
    case 7:
        vlog("COMMAND_DATA_SEND_OK recv");
        if (++m_cmddata_send_ok_count >= m_cmddata_send_req_count.load()) {
            m_cmddata_send_ok_count = 0;
            m_cmddata_send_req_count = 0;
        }
        break;
    case 11:
        onEcho(p, len);
        break;
    case 14:
        if (need(8)) {
            vlog("COMMAND_SEARCH_START_OK recv");
            std::lock_guard<std::recursive_mutex> lock(m_reqLock);
            NetSearchInfo& s = _searchInfo;
            s.hdd_start_time = le32(p);
            s.hdd_end_time = le32(p + 4);
            if (s.hdd_start_time >= s.hdd_end_time)
                vlog("Error time : p->start_time >= p->end_time");
            vlog("Server p->start_time = %d, end_time = %d hdd_search_start_time %d\r\n", int(s.hdd_start_time),
                 int(s.hdd_end_time), int(s.hdd_search_set_play_time));
            if (s.hdd_start_time == 0 || s.hdd_end_time == 0 || s.hdd_start_time == s.hdd_end_time)
                s.hdd_search_mode_flag = true;
        }
        break;
    case 16: {
        vlog("COMMAND_SEARCH_INFO_FAIL");
        NetSearchInfo s = searchInfo();
        if (_pMain)
            _pMain->SetSearchInfo(SEARCH_INFO_FAIL, int32_t(s.hdd_start_time), int32_t(s.hdd_end_time), nullptr, 0);
        break;
    }
    case 17:
        if (need(8)) {
            vlog("COMMAND_SEARCH_INFO recv");
            uint32_t start = le32(p);
            uint32_t end = le32(p + 4);
            {
                std::lock_guard<std::recursive_mutex> lock(m_reqLock);
                _searchInfo.hdd_start_time = start;
                _searchInfo.hdd_end_time = end;
            }
            vlog("start %d end %d", int(start), int(end));
            if (_pMain)
                _pMain->SetSearchInfo(start && end ? SEARCH_INFO_RANGE : SEARCH_INFO_FAIL, int32_t(start),
                                      int32_t(end), nullptr, 0);
        }
        break;
    case 18:
        if (need(8)) {
            vlog("COMMAND_SEARCH_INFO_MONTH");
            if (_pMain)
                _pMain->SetSearchInfo(SEARCH_INFO_MONTH, int32_t(le32(p + 4)), int32_t(le32(p)), nullptr, 0);
        }
        break;
    case 19:
        if (need(8)) {
            vlog("COMMAND_SEARCH_INFO_DAYS");
            uint32_t t = le32(p);
            tm_t tm{};
            to_tm(t, &tm);
            vlog("DAY %d/%d/%d %d:%d:%d", tm.year, tm.mon, tm.mday, tm.hour, tm.min, tm.sec);
            if (_pMain) {
                if (t != 0)
                    _pMain->SetSearchInfo(SEARCH_INFO_DAY, int32_t(le32(p + 4)), 0, p + 8, size_t(len - 8));
                else
                    _pMain->SetSearchInfo(SEARCH_INFO_FAIL, 0, 0, nullptr, 0);
            }
        }
        break;
    case 20:
        vlog("START FAIL");
        if (need(4) && (le32(p) == 45 || le32(p) == 46) && _pMain)
            _pMain->ShowSearchAlertView();
        break;
    case 21: {
        vlog("SEARCH FAIL");
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        _searchInfo.reset_search_play_time = true;
        break;
    }
    case 24:
    case 70:
        break;
    case 31: {
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        _searchInfo.hdd_search_mode_flag = false;
        break;
    }
    case 33:
        if (_pMain)
            _pMain->SetSearchInfo(SEARCH_INFO_HISTORY, 0, 0, p, size_t(len));
        break;
    case 73:
        if (_dvr.nw_ver >= 7 && need(8))
            _netInfo.hardErr = le32(p + 4);
        break;
    default:
        vlog("Unknown recv command %d\r\n", cmd);
        break;
    }
}

// A refused or failed login ends the session; the watchdog starts a new one.
void NxNet::failConnectionQuietly()
{
    CloseSocket();
}

void NxNet::onConnectAnswer(const uint8_t* p, int len)
{
    setNetStatus(NET_CONNECT_OK);
    vlog("S -> COMMAND_CONNECT_OK size %d (v10 %d, v7 %d)\r\n", len, 552, 272);
    if (len != 272 && len != 552) {
        vlog("Error connect_ok (UNKNOWN size %d)\r\n", len);
        return;
    }
    TDvrInfo info = _dvrInfo();
    std::memset(info.chTitle, 0, sizeof info.chTitle);
    int32_t model = int32_t(le32(p));
    int chCount;
    if (len == 552) {
        chCount = int16_t(le16(p + 4));
        info.maxAudioCh = le16(p + 6);
        info.ntsc_pal = p[8];
        info.bandWidth = p[9];
        info.nw_ver = le16(p + 12);
        info.vendor = info.nw_ver >= 13 ? p[10] : 0;
        info.video_encypt = info.nw_ver >= 27 ? p[11] : 0;
        info.hw_ver = le16(p + 14);
        info.fw_ver = uint16_t(le32(p + 16));
        std::memset(info.webcode, 0, sizeof info.webcode);
        std::memcpy(info.webcode, p + 20, 16);
        info.title_type = uint16_t(le32(p + 36));
        for (int i = 0; i < std::clamp(chCount, 0, 16); ++i)
            std::memcpy(info.chTitle[i], p + 40 + 32 * i, 32);
    } else {
        chCount = le16(p + 4);
        info.maxAudioCh = le16(p + 6);
        info.nw_ver = le16(p + 268);
        info.hw_ver = le16(p + 270);
        if (info.nw_ver <= 6) {
            info.ntsc_pal = uint16_t(le32(p + 8));
            info.bandWidth = 1;
        } else {
            info.ntsc_pal = p[8];
            info.bandWidth = p[9];
        }
        // This form carries no scrambling field.
        info.video_encypt = 0;
        info.vendor = 0;
        info.fw_ver = 0;
        info.title_type = 0;
        std::memset(info.webcode, 0, sizeof info.webcode);
        for (int i = 0; i < std::clamp(chCount, 0, 16); ++i)
            std::memcpy(info.chTitle[i], p + 12 + 16 * i, 16);
    }
    SetModelParam(&info, model);
    info.maxch = uint16_t(std::clamp(chCount, 0, 16));
    if (chCount > 16 || chCount < 0)
        vlog("channel count %d cut to %d", chCount, int(info.maxch));
    vlog("MAX CH %d", chCount);
    // The size table and the delivery use the model as reported.
    info.model = model;
    {
        std::lock_guard<std::mutex> lock(m_dvrLock);
        _dvr = info;
    }
    if (_pMain)
        _pMain->SetModelGroup(uint32_t(info.group));
    vlog("========================================\r\n");
    vlog("     Model ID Net %d(%s)(Org %d), Rev %d(sw %d, hw %d), bandwidth %d, webcode %s\r\n", model,
         info.model_name, info.model_org, info.fw_ver, info.nw_ver, info.hw_ver, info.bandWidth, info.webcode);
    vlog("========================================\r\n");
    vlog("SET MODEL NUM %d", model);
    set_cmd_struct_size();
    _eNetProgress = 2;
    setNetStatus(NET_LOGIN_REQ);
    if (m_pView) {
        m_pView->setMaxCH(info.maxch);
        m_pView->SetChTitle(info.chTitle);
    }
    SendCmdToServer(3, 0, 0);
}

void NxNet::onLoginAccepted(const uint8_t* p, int len)
{
    setNetStatus(NET_LOGIN_OK);
    int ver = _dvr.nw_ver;
    tagTSiteInfo site = _siteInfo();
    uint32_t auth = site.auth_mask;
    uint32_t covert = 0;
    uint32_t rec = 0;
    if (ver <= 4) {
        if (_dvr.group != 1 && len >= 8)
            auth = le32(p + 4);
    } else if (ver <= 10) {
        if (len >= 12) {
            auth = le32(p + 4);
            covert = le32(p + 8);
        }
        rec = 0xFFFF;
    } else if (len >= 14) {
        auth = le32(p + 4);
        covert = le32(p + 8);
        rec = le16(p + 12);
    }
    setAuthMasks(auth, covert);
    SetADecoder(uint32_t(_dvr.group));
    setNetStatus(NET_WAIT_DATA);
    if (m_pView) {
        m_pView->SetCovert(uint16_t(covert));
        m_pView->SetRecOnOff(uint16_t(rec));
    }
    RequestLiveCh(0, 0);
}

void NxNet::onEcho(const uint8_t* p, int len)
{
    if (_dvr.nw_ver > 6 && len >= 2)
        _netInfo.vl = le16(p);
    if (m_pView)
        m_pView->SetVideoLoss(uint16_t(_netInfo.vl));
    SendCmdToServer(12, 0, 0);
    m_echoCount++;
    m_echoTotal++;
}

// ---------------------------------------------------------------------------
// Frame delivery

bool NxNet::isSkipFrame()
{
    int c = _pk.ch;
    uint8_t& gate = _netInfo.bFirstDecoding[c];
    uint32_t& count = _netInfo.frameCountForSkip[c];
    int type = _pk.frame_type;
    if (uint32_t(_pk.stream_id) == le32(reinterpret_cast<const uint8_t*>("NDAV"))) {
        if (type == 1) {
            count = 0;
            gate = 10;
            return false;
        }
        return gate == 0;
    }
    if (type != 1 && gate == 0)
        return true;
    if (type == 6) {
        vlog("Garbage frame! (CH %d)\n", c);
        count = 10;
    } else if (type == 2) {
        count++;
    } else if (type == 1) {
        count = 0;
        gate = 10;
    }
    return _nowHeaderID == kCodeF3 && count > 9;
}

int NetSearchInfo::canPop(int c, float rate, uint32_t t, bool slow, uint32_t nowMs)
{
    int speed = eNowPlaySpeed;
    if (speed == 1000 || speed == 1024)
        return 1;
    if (c < 0 || c >= 16)
        return 1;
    uint32_t v = rate != 0.0f ? uint32_t(1000.0f / rate) : 30;
    if (slow)
        v *= 10;
    uint32_t interval;
    uint32_t window;
    switch (speed) {
    case 1: interval = v; window = 1000; break;
    case 2: interval = v >> 1; window = 500; break;
    case 4: interval = v >> 2; window = 250; break;
    case 8: interval = v >> 3; window = 125; break;
    case 64: interval = 100; window = 500; break;
    case 128: case 300: interval = 20; window = 333; break;
    case 2001: interval = 2 * v; window = 2000; break;
    case 2002: interval = 4 * v; window = 4000; break;
    case 2003: interval = 8 * v; window = 8000; break;
    case -1: interval = 5 * v; window = 1000; break;
    case 3001: case 3002:
        dwImageSpeed[c] = 0;
        if (dwStepCount[c] == 0)
            return 0;
        dwStepCount[c]--;
        return 1;
    default:
        dwImageSpeed[c] = 0;
        return 1;
    }
    dwImageSpeed[c] = interval;

    dwOldTickTime = dwCurrentTickTime;
    dwCurrentTickTime = nowMs;
    uint32_t d = dwCurrentTickTime - dwOldTickTime;
    if (d > 10000)
        d = 0;
    dftDuration = d;
    elapseTime += d;
    uint32_t e = elapseTime;

    if (t == dvrNowTime) {
        if (e > window + window / 2)
            return 1;
        if (e > window)
            return -1;
    } else {
        if (e < window)
            return 0;
        dvrNowTime = t;
        elapseTime = 0;
        std::memset(dvrSpeedTime, 0, sizeof dvrSpeedTime);
        e = 0;
    }
    if (dvrSpeedTime[c] > e)
        return 0;
    dvrSpeedTime[c] += interval;
    return 1;
}

// Holds a playback frame until its time; false when it is thrown away or
// the hold ends without release.
bool NxNet::waitForPacing(int c)
{
    int heldSpeed;
    {
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        heldSpeed = _searchInfo.eNowPlaySpeed;
    }
    for (;;) {
        int r;
        {
            std::lock_guard<std::recursive_mutex> lock(m_reqLock);
            if (!_searchInfo.hdd_search_mode_flag)
                return true;
            // A speed change or a stop ends the hold; the frame is dropped.
            if (_searchInfo.eNowPlaySpeed != heldSpeed)
                return false;
            r = _searchInfo.canPop(c, _pk.speed, _pk.time, false, pacingClock());
        }
        if (r == 1)
            return true;
        if (r == -1) {
            vlog("ThrowBin");
            _netInfo.dropFpsPerCh[c]++;
            _netInfo.bFirstDecoding[c] = 0;
            return false;
        }
        TcpSendPump();
        std::this_thread::sleep_for(std::chrono::microseconds(10));
        if (stopRequested())
            return false;
    }
}

tag_FrameV_Orgin* NxNet::waitForVideoSlot()
{
    if (!videoQ)
        return nullptr;
    for (;;) {
        if (tag_FrameV_Orgin* slot = videoQ->tryGetWriteBuffer())
            return slot;
        if (stopRequested())
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void NxNet::unscramble(uint8_t* data, int len)
{
    if (len < 64)
        return;
    if (_dvr.group == 11 || _dvr.group == 12) {
        auto plain = AESCrypt::AES256DecryptWithVectorWithKey(std::span<const uint8_t>(data, 64), AESCrypt::kFixedKey);
        if (plain && plain->size() == 64)
            std::memcpy(data, plain->data(), 64);
        else
            std::memset(data, 0, 64);
        return;
    }
    for (int i = 0; i < 64; ++i)
        data[i] ^= kXorMask[i % 16];
}

void NxNet::deliverAudio()
{
    if (!audioQ || !_DecoderA)
        return;
    tag_FrameA_Orgin* slot = audioQ->tryGetWriteBuffer();
    if (!slot)
        return;
    if (!_DecoderA->Decode(&_pk) || !_pk.outbuff || _pk.outsize <= 0)
        return;
    uint32_t n = std::min<uint32_t>(uint32_t(_pk.outsize), sizeof slot->bufAudio);
    slot->time = _pk.time;
    slot->dwLength = n;
    std::memcpy(slot->bufAudio, _pk.outbuff, n);
    audioQ->putWriteBuffer();
}

bool NxNet::ProcDvrFrame()
{
    int c = _pk.ch;
    if (c < 0 || c >= 16)
        return true;
    applyDiscontinuity();
    bool search;
    {
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        NetSearchInfo& s = _searchInfo;
        search = s.hdd_search_mode_flag;
        bool keep;
        if (uint32_t(_pk.stream_id) == le32(reinterpret_cast<const uint8_t*>("NDAV"))) {
            keep = (!search && _pk.now_type == 0) || (search && _pk.now_type == 1);
        } else {
            keep = _pk.request_id == _request_id && (search || _pk.now_type != 1);
            if (!keep)
                vlog(!search && _pk.now_type == 1 ? "1. PASS server reqid %d, client reqid %d\r\n"
                                                  : "2. PASS server reqid %d, client reqid %d\r\n",
                     int(_pk.request_id), _request_id);
        }
        if (!keep) {
            _netInfo.bFirstDecoding[c] = 0;
            return true;
        }
        if (_pk.frame_type == 3) {
            int speed = s.eNowPlaySpeed;
            if ((speed == 1 || speed == 1000) && g_requestAudioCh.load() == c + 1)
                deliverAudio();
            return true;
        }
        if (isSkipFrame()) {
            _netInfo.dropFpsPerCh[c]++;
            return true;
        }
        if (m_covertMask.load() & (1u << c))
            return true;
        s.current_frame_time = _pk.time;
        if (search) {
            if (s.reset_search_play_time) {
                s.reset_search_play_time = false;
                s.hdd_search_set_play_time = _pk.time;
            }
            if (s.eNowPlaySpeed < 0 && s.hdd_search_set_play_time < _pk.time) {
                vlog("Invalid search time(ch %d)\r\n", c);
                return true;
            }
            if (s.eNowPlaySpeed == 0)
                return true;
        }
    }
    if (stopRequested())
        return true;
    if (search && !waitForPacing(c))
        return true;
    tag_FrameV_Orgin* slot = waitForVideoSlot();
    if (!slot)
        return true;
    if (_dvr.video_encypt == 1 && _pk.frame_type == 1)
        unscramble(const_cast<uint8_t*>(_pk.inbuff), _pk.insize);
    _pk.deinterlace = (_dvr.model == 122 && _pk.w_org == 1920 && _pk.h_org == 1080 && _pk.speed > 15.0f) ? 1 : 0;
    // FFmpeg reads a little past the coded data; keep that margin zeroed.
    std::memset(const_cast<uint8_t*>(_pk.inbuff) + _pk.insize, 0, 64);

    CoDecoder* dec = videoDecoder(c);
    // The picture is converted straight into the slot when it fits.
    if (dec)
        dec->setOutputTarget(slot->outbuff, sizeof slot->outbuff);
    bool got = dec && dec->Decode(&_pk);
    if (!got && dec && _pk.misc2) {
        if (auto* h264 = dynamic_cast<CFFmpeg*>(dec))
            got = h264->DecodeDummy(&_pk);
    }
    if (!got)
        return true;
    int64_t bytes = int64_t(_pk.w) * _pk.h * 4;
    if (_pk.w <= 0 || _pk.h <= 0 || _pk.w > 1920 || _pk.h > 1080 || !_pk.outbuff) {
        vlog("picture size refused (%d x %d)\r\n", _pk.w, _pk.h);
        return true;
    }
    slot->result = _pk.result;
    slot->time = _pk.time;
    slot->ch = _pk.ch;
    slot->now_type = _pk.now_type;
    slot->add_nal = _pk.add_nal;
    slot->w = _pk.w;
    slot->h = _pk.h;
    slot->outsize = _pk.outsize;
    slot->evt_rec = _pk.evt_rec;
    slot->evt_md = _pk.evt_md;
    slot->evt_ss = _pk.evt_ss;
    if (_pk.outbuff != slot->outbuff)
        std::memcpy(slot->outbuff, _pk.outbuff, size_t(std::min<int64_t>(bytes, _pk.outsize > 0 ? _pk.outsize : bytes)));
    videoQ->putWriteBuffer();
    return true;
}

// ---------------------------------------------------------------------------
// Requests

// Applied by the worker before its next frame, so the gates stay its own.
void NxNet::discontinuityNet(int8_t)
{
    m_pendingDiscontinuity = true;
}

void NxNet::applyDiscontinuity()
{
    if (!m_pendingDiscontinuity.exchange(false))
        return;
    std::memset(_netInfo.bFirstDecoding, 0, sizeof _netInfo.bFirstDecoding);
    _netInfo.seqnum[0] = 0;
}

void NxNet::sendDataRequest(int kind, const uint8_t switches[16])
{
    uint8_t rec[24];
    put32(rec, uint32_t(_request_id));
    put32(rec + 4, uint32_t(kind));
    std::memcpy(rec + 8, switches, 16);
    SendCmdToServer(6, rec, sizeof rec);
}

void NxNet::allDataReq(bool all, bool newId)
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    if (newId)
        _request_id = (_request_id + 1) % 16;
    uint8_t sw[16];
    std::memset(sw, all ? 1 : 0, sizeof sw);
    sendDataRequest(0, sw);
}

void NxNet::IncreaseDataReq(bool newId)
{
    allDataReq(true, newId);
}

void NxNet::RequestLiveCh(int keyFrameOnly, int8_t ch)
{
    if (!connected())
        return;
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    currentDisplayCh = ch;
    uint8_t sw[16];
    std::memset(sw, ch == 0 ? 1 : 0, sizeof sw);
    if (ch >= 1 && ch <= 16)
        sw[ch - 1] = 1;
    sendDataRequest(0, sw);
    if (keyFrameOnly != 1)
        std::memset(sw, 0, sizeof sw);
    sendDataRequest(1, sw);
    vlog("Request Live Ch : %d", ch);
}

void NxNet::RequestAudioCh(int8_t ch)
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    g_requestAudioCh = ch;
    uint8_t sw[16] = {};
    if (ch >= 1 && ch <= 16)
        sw[ch - 1] = 1;
    sendDataRequest(2, sw);
}

void NxNet::RequestPanTilt(int8_t ch, int32_t cmd, int8_t speed)
{
    if (!connected())
        return;
    uint8_t rec[16];
    put32(rec, uint32_t(int32_t(ch)));
    put32(rec + 4, uint32_t(cmd));
    put32(rec + 8, 0);
    put32(rec + 12, uint32_t(int32_t(speed)));
    SendCmdToServer(53, rec, sizeof rec);
}

void NxNet::RequestPreset(int8_t ch, int32_t cmd, int8_t preset)
{
    if (!connected())
        return;
    uint8_t rec[16];
    put32(rec, uint32_t(int32_t(ch)));
    put32(rec + 4, uint32_t(cmd));
    put32(rec + 8, uint32_t(int32_t(preset)));
    put32(rec + 12, 0);
    SendCmdToServer(53, rec, sizeof rec);
}

void NxNet::RequestSearchInfo(int32_t cmd, int32_t a, int32_t b)
{
    if (!connected())
        return;
    SendCmdToServer(cmd, a, b);
}

void NxNet::RequestHistory(const uint8_t* record, size_t len)
{
    if (!connected())
        return;
    SendCmdToServer(32, record, len);
}

void NxNet::RequestSearch(int32_t, int32_t startTime)
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    _searchInfo.eSearchType = 0;
    _searchInfo.eNowPlaySpeed = 1;
    allDataReq(false, true);
    discontinuityNet();
    SendCmdToServer(13, 0, 0);
    _searchInfo.hdd_search_set_play_time = uint32_t(startTime);
    searchStartPlay();
}

void NxNet::searchStartPlay()
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    if (connected())
        RequestLiveCh(0, currentDisplayCh);
    _searchInfo.search_mode_frame_count = 30;
    _searchInfo.hdd_search_mode_flag = true;
    SendCmdToServer(29, 0, 0);
    SendCmdToServer(22, 0, 0);
    _searchInfo.eNowPlaySpeed = 1;
    sendSpeed(27, 1, 0);
}

void NxNet::sendSpeed(int cmd, int speed, uint8_t slow)
{
    uint8_t rec[4];
    put16(rec, uint16_t(int16_t(speed)));
    rec[2] = slow;
    rec[3] = _searchInfo.flow_control;
    SendCmdToServer(cmd, rec, sizeof rec);
}

bool NxNet::ExitLive()
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    if (!connected() || !_searchInfo.hdd_search_mode_flag)
        return false;
    _searchInfo.eNowPlaySpeed = 1000;
    _searchInfo.hdd_search_mode_flag = false;
    allDataReq(false, true);
    discontinuityNet();
    SendCmdToServer(30, 0, 0);
    uint8_t sw[16];
    std::memset(sw, 1, sizeof sw);
    sendDataRequest(0, sw);
    return true;
}

void NxNet::resumeBlock()
{
    IncreaseDataReq(true);
    discontinuityNet();
    _searchInfo.hdd_search_set_play_time = _searchInfo.current_frame_time;
    SendCmdToServer(29, 0, 0);
}

bool NxNet::PlaySpeed(int32_t s)
{
    if (!connected())
        return false;
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    NetSearchInfo& si = _searchInfo;
    if (!si.hdd_search_mode_flag) {
        si.eNowPlaySpeed = 1000;
        return true;
    }
    bool step = s == PLAY_STEP_FORWARD || s == PLAY_STEP_BACKWARD;
    if (step) {
        // Each step press lets one frame of every channel through.
        for (auto& n : si.dwStepCount)
            n = 1;
    }
    if (s == si.eNowPlaySpeed && !step)
        return true;
    int p = si.eNowPlaySpeed;
    si.ePrevPrevPlaySpeed = si.ePrevPlaySpeed;
    si.ePrevPlaySpeed = p;
    si.eNowPlaySpeed = s;
    bool resume = p < 0 || p == 0 || p == 3000 || p == 3002;
    if (s >= 1 && s <= 2003) {
        if (resume)
            resumeBlock();
        if (s == 1024)
            sendSpeed(28, 1024, 0);
        else if (s == 2001)
            sendSpeed(27, 0, 50);
        else if (s == 2002)
            sendSpeed(27, 0, 25);
        else if (s == 2003)
            sendSpeed(27, 0, 18);
        else
            sendSpeed(27, s, 0);
        si.eNowPlaySpeedForStep = s;
    } else if (s == 0) {
        si.hdd_search_set_play_time = si.current_frame_time;
        allDataReq(false, true);
        discontinuityNet();
        SendCmdToServer(25, 0, 0);
    } else if (s < 0) {
        if (p >= 0) {
            SendCmdToServer(23, 0, 0);
            IncreaseDataReq(true);
            discontinuityNet();
            si.hdd_search_set_play_time = si.current_frame_time;
            SendCmdToServer(29, 0, 0);
        }
        sendSpeed(26, s, 0);
        si.eNowPlaySpeedForStep = s;
    }
    return true;
}

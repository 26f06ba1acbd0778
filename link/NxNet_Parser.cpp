// Recorder link: receive pump, stream parser and media frame headers.
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

namespace {

std::atomic<bool> g_headerNotFoundLogged{false};

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
    // Silence counts from the end of the parse: a frame held back by the
    // playback pacing is not the recorder's silence.
    m_lastByte = Clock::now();
}

void NxNet::parseReceived(const uint8_t* data, int n)
{
    if (!data || n <= 0)
        return;
    _recvPtr = data;
    _recvedSize = n;
    _readOffset = 0;
    while (n - _readOffset >= _neededSize) {
        // A stop ends the parse between steps, however much is left.
        if (stopRequested()) {
            _readOffset = n;
            break;
        }
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
    bool probing = _eNowCmd == 1 && _eNetProgress != 2 && !_connectProbeLong;
    bool tailFound = tail == kTailV1 || tail == kTailV2;
    if (probing && (!tailFound || longConnectAnswerFollows(_readOffset + used))) {
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

// The short connect answer's tail matched at `from` of the read being parsed.
// Title bytes of the long answer can look like that tail; the long form wins
// when its own tail follows in this read, or when the bytes that follow are
// too few to hold it and do not start another command (a read that ends
// within a command head counts as one). A recorder that sent the short form
// sends nothing more until the login.
bool NxNet::longConnectAnswerFollows(int from) const
{
    int extra = _bCmdV2 ? (552 - 272) : 2 * (552 - 272);
    int after = _recvedSize - from;
    if (!_recvPtr || after <= 0)
        return false;
    const uint8_t* rest = _recvPtr + from;
    if (after >= extra) {
        uint32_t t = be32(rest + extra - 4);
        return t == kTailV1 || t == kTailV2;
    }
    // Bytes that start another command mean the short form was whole.
    static const uint8_t kHead[3] = {0x00, 0x00, 0xAD};
    if (after >= 4)
        return !(std::memcmp(rest, kHead, 3) == 0 && (rest[3] == 0xC2 || rest[3] == 0xC3));
    return std::memcmp(rest, kHead, size_t(after)) != 0;
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
        // "Streaming" is reported with the first picture decoded.
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

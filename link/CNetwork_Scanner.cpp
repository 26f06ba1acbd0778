// The second device's stream scanner, received commands and frame delivery,
// and the ASCII-hex helpers.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <shared_mutex>
#include <thread>

#include "link/CNetwork.h"
#include "link/INetView.h"
#include "link/NxLib.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"

namespace {

int hexDigit(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// n hex characters; false when one is not a hex digit.
bool parseHex(const uint8_t* p, int n, uint32_t* out)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
        int d = hexDigit(p[i]);
        if (d < 0)
            return false;
        v = v << 4 | uint32_t(d);
    }
    *out = v;
    return true;
}

void writeHex(uint8_t* out, uint32_t v, int n)
{
    static const char kDigits[] = "0123456789ABCDEF";
    for (int i = n - 1; i >= 0; --i, v >>= 4)
        out[i] = uint8_t(kDigits[v & 15]);
}

// Local wall-clock time counted as UTC, the recorders' time base.
uint32_t localNow()
{
    std::time_t t = std::time(nullptr);
    std::tm lt{};
    localtime_r(&t, &lt);
    return mktime2(uint32_t(lt.tm_year + 1900), uint32_t(lt.tm_mon + 1), uint32_t(lt.tm_mday), uint32_t(lt.tm_hour),
                   uint32_t(lt.tm_min), uint32_t(lt.tm_sec));
}

}  // namespace

bool parseAWORD(const uint8_t* p, uint16_t* out)
{
    uint32_t v = 0;
    if (!parseHex(p, 4, &v))
        return false;
    *out = uint16_t(v);
    return true;
}

uint16_t AWORD2WORD(const uint8_t* p)
{
    uint16_t v = 0;
    return parseAWORD(p, &v) ? v : 0;
}

void WORD2AWORD(uint8_t* out, uint16_t v) { writeHex(out, v, 4); }
void BYTE2ABYTE(uint8_t* out, uint8_t v) { writeHex(out, v, 2); }
void DWORD2ADWORD(uint8_t* out, uint32_t v) { writeHex(out, v, 8); }

uint8_t ABYTE2BYTE(const uint8_t* p)
{
    uint32_t v = 0;
    return parseHex(p, 2, &v) ? uint8_t(v) : 0;
}

uint32_t ADWORD2DWORD(const uint8_t* p)
{
    uint32_t v = 0;
    return parseHex(p, 8, &v) ? v : 0;
}

void bytes2abytes(uint8_t* out, const uint8_t* in, size_t len)
{
    for (size_t i = 0; i < len; ++i)
        BYTE2ABYTE(out + 2 * i, in[i]);
}

// ---------------------------------------------------------------------------
// Scanner

void CNetwork::ProcessNet()
{
    parseReceived(m_readbuf.get(), m_readbytes);
}

// A stop ends the scan at once, however much of the read is left.
void CNetwork::parseReceived(const uint8_t* data, int n)
{
    for (int i = 0; i < n && !stopRequested(); ++i)
        scanByte(data[i]);
}

void CNetwork::resetScanner()
{
    m_dwStreamType = 0;
    m_dwStreamTypeOld = 0;
    m_dwCode = 0xFFFFFFFF;
    m_videoTail = 0;
    m_dwSkipCnt = 0;
    m_dwLenAudio = 0;
    m_nStartFrameVideo = 0;
    m_bEndFrameAudio = false;
    m_nStartFrameAudio = 0;
    m_dwLenCmd = 0;
    m_dwLenVideo = 0;
    m_bEndFrameVideo = false;
    m_dwSizeCmd = 0;
}

// Each byte goes into the current stream before the start-code test, so a
// frame is delivered when the byte after the next start code arrives.
void CNetwork::scanByte(uint8_t b)
{
    m_dwCode = m_dwCode << 8 | b;
    if (m_bEndFrameVideo)
        deliverVideoFrame();
    if (m_bEndFrameAudio) {
        m_dwLenAudio = 0;
        m_dwSkipCnt = 0;
        m_bEndFrameAudio = false;
        if (m_nStartFrameAudio > 0)
            --m_nStartFrameAudio;
    }

    const uint32_t tail = m_videoTail;
    m_videoTail = 0;
    switch (m_dwStreamType) {
    case 3:
        putCommandByte(b);
        break;
    case 2:
        if (m_nStartFrameAudio > 0) {
            if (m_dwSkipCnt < 2) {
                ++m_dwSkipCnt;
            } else {
                ++m_dwLenAudio;
                ++m_audioTotal;
            }
        }
        break;
    case 1:
        if (m_nStartFrameVideo > 0) {
            // Bytes beyond the buffer are counted only; such a frame is dropped.
            if (uint64_t(m_dwLenVideo) + 4 < kVideoBufSize)
                m_pBufVideo[m_dwLenVideo + 4] = b;
            if (m_dwLenVideo < UINT32_MAX)
                ++m_dwLenVideo;
            m_videoTail = std::min<uint32_t>(tail + 1, 4);
        }
        break;
    default:
        break;
    }

    if ((m_dwCode & 0xFFFFFF00u) != 0x00000100u)
        return;
    const uint8_t code = uint8_t(m_dwCode);
    if (code != 0xFE && code != 0xFA && code != 0xF8 && code != 0xF9)
        return;
    if (m_dwStreamType == 3 && code != 0xFE) {
        vlog("command cut short by a frame");
        m_dwStreamType = m_dwStreamTypeOld;
        m_dwLenCmd = 4;
    }
    switch (code) {
    case 0xFE:
        if (m_dwStreamType != 3) {
            // The message's start code is no part of the frame it interrupts.
            m_dwLenVideo -= std::min(m_dwLenVideo, m_videoTail);
            m_videoTail = 0;
            m_dwStreamTypeOld = m_dwStreamType;
        }
        m_dwStreamType = 3;
        m_dwLenCmd = 4;
        m_dwSizeCmd = 0;
        break;
    case 0xFA:
        if (m_nStartFrameAudio > 0)
            m_bEndFrameAudio = true;
        if (m_nStartFrameVideo > 0)
            m_bEndFrameVideo = true;
        m_endCodeBytes = m_videoTail;
        if (m_nStartFrameAudio < INT_MAX)
            ++m_nStartFrameAudio;
        m_dwStreamTypeOld = m_dwStreamType;
        m_dwStreamType = 2;
        break;
    default:  // F8, F9
        m_endCodeBytes = m_videoTail;
        if (m_nStartFrameVideo > 0) {
            // The open frame keeps its own code until it is delivered.
            m_bEndFrameVideo = true;
            m_nextVideoCode = code;
        } else {
            m_pBufVideo[3] = code;
        }
        if (m_nStartFrameAudio > 0)
            m_bEndFrameAudio = true;
        if (m_nStartFrameVideo < INT_MAX)
            ++m_nStartFrameVideo;
        m_dwStreamTypeOld = m_dwStreamType;
        m_dwStreamType = 1;
        break;
    }
}

void CNetwork::putCommandByte(uint8_t b)
{
    if (m_dwLenCmd < kCmdBufSize)
        m_pBufCmd[m_dwLenCmd] = b;
    ++m_dwLenCmd;
    if (m_dwLenCmd == 8) {
        uint16_t size = 0;
        if (!parseAWORD(m_pBufCmd.get() + 4, &size) || size < kCmdMinSize || size > kCmdBufSize) {
            vlog("malformed command length");
            m_dwStreamType = m_dwStreamTypeOld;
            m_dwLenCmd = 4;
            return;
        }
        m_dwSizeCmd = size;
    }
    if (m_dwLenCmd >= 8 && m_dwLenCmd >= m_dwSizeCmd) {
        m_dwStreamType = m_dwStreamTypeOld;
        ProcessCommand(m_pBufCmd.get(), m_dwSizeCmd);
        m_dwLenCmd = 4;
    }
}

void CNetwork::ProcessCommand(const uint8_t* msg, uint32_t size)
{
    if (size < uint32_t(kCmdMinSize) || size > kCmdBufSize)
        return;
    char text[kCmdBufSize];
    for (uint32_t i = 0; i < size; ++i)
        text[i] = msg[i] >= 0x20 && msg[i] < 0x7F ? char(msg[i]) : '.';
    // The echo's own format: a bare "%s" may be one string with other call
    // sites', whose lines a flood's repeats would then swallow.
    vlog("%.*s", int(size), text);
    if (msg[8] == 0x10)
        return;
    uint16_t code = 0;
    if (!parseAWORD(msg + 8, &code))
        return;
    if (size < minimumSize(code)) {
        vlog("command %d too short", code);
        return;
    }
    switch (code) {
    case 17:
        vlog("MAX USER");
        break;
    case 15: {
        uint32_t version = uint32_t(msg[12]) << 24 | uint32_t(msg[13]) << 16 | uint32_t(msg[14]) << 8 | msg[15];
        m_uiNetworkVer = version;
        m_moveOffsetX = int8_t(msg[20]);
        m_moveOffsetY = int8_t(msg[21]);
        m_VideoStd = msg[22] == 1 ? 568 : 460;
        // The view keeps only the newest values of a flood.
        if (m_pView)
            m_pView->setNetMouseInfo(version, m_moveOffsetX, m_moveOffsetY, m_VideoStd);
        break;
    }
    case 14:
        m_IsCurrentMode_Search = msg[12] == 1;
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Frame delivery

void CNetwork::deliverVideoFrame()
{
    if (!bIsFirstVideoData) {
        setNetStatus(NET_STREAMING);
        bIsFirstVideoData = true;
    }
    // The frame is its start code and payload; the stored bytes of the start
    // code that ended it (all four, unless a command took some) follow.
    const uint64_t stored = m_dwLenVideo;
    const uint32_t len = uint32_t(std::min<uint64_t>(stored + 4 - m_endCodeBytes, UINT32_MAX));
    m_videoTail = 0;
    if (stored + 4 > kVideoBufSize) {
        vlog("video frame over buffer size dropped (%u bytes)", len);
        ++m_droppedFrames;
    } else {
        if (onFrame)
            onFrame(m_pBufVideo.get(), len);
        decodeIntoQueue(len);
    }
    m_vsample.m_dwBytesUsed = 0;
    m_dwLenVideo = 0;
    m_bEndFrameVideo = false;
    if (m_nStartFrameVideo > 0)
        --m_nStartFrameVideo;
    m_pBufVideo[3] = m_nextVideoCode;
}

void CNetwork::decodeIntoQueue(uint32_t len)
{
    if (!videoQ)
        return;
    tag_FrameV_Orgin* slot;
    while (!(slot = videoQ->tryGetWriteBuffer())) {
        if (stopRequested())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!decodeIntoSlot(slot, len)) {
        videoQ->cancelWriteBuffer(slot);
        return;
    }
    videoQ->putWriteBuffer(slot);
    // Only a picture that can be shown keeps the stream alive.
    notePicture();
}

// Decodes the frame straight into slot and fills its head; false when there
// is no picture.
bool CNetwork::decodeIntoSlot(tag_FrameV_Orgin* slot, uint32_t len)
{
    std::shared_lock<std::shared_mutex> lock(m_decoderLock);
    CoDecoder* dec = videoDecoder(0);
    if (!dec)
        return false;
    // The decoder's reader may look a few bytes past the frame.
    std::memset(m_pBufVideo.get() + len, 0, 16);
    _pk.insize = int32_t(len);
    _pk.inbuff = m_pBufVideo.get();
    dec->setOutputTarget(slot->outbuff, sizeof slot->outbuff);
    bool got = dec->Decode(&_pk);
    dec->setOutputTarget(nullptr, 0);
    if (!got)
        return false;
    if (_pk.w <= 0 || _pk.h <= 0 || _pk.w > 1920 || _pk.h > 1080 || !_pk.outbuff) {
        vlog("picture size refused (%d x %d)\r\n", _pk.w, _pk.h);
        return false;
    }
    // The whole head is written: a slot may hold an earlier link's fields.
    int32_t bytes = _pk.w * _pk.h * 4;
    slot->result = _pk.result;
    slot->time = localNow();
    slot->ch = 0;
    slot->now_type = 0;
    slot->add_nal = 0;
    slot->w = _pk.w;
    slot->h = _pk.h;
    slot->outsize = bytes;
    slot->evt_rec = 0;
    slot->evt_md = 0;
    slot->evt_ss = 0;
    if (_pk.outbuff != slot->outbuff)
        std::memcpy(slot->outbuff, _pk.outbuff, size_t(std::min(bytes, _pk.outsize > 0 ? _pk.outsize : bytes)));
    return true;
}

// Recorder link: requests from the user interface.
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
#include <array>
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

// The pan-tilt and preset record: channel, command, preset, speed.
std::array<uint8_t, 16> ptzRecord(int8_t ch, int32_t cmd, int8_t preset, int8_t speed)
{
    std::array<uint8_t, 16> rec;
    put32(rec.data(), uint32_t(int32_t(ch)));
    put32(rec.data() + 4, uint32_t(cmd));
    put32(rec.data() + 8, uint32_t(int32_t(preset)));
    put32(rec.data() + 12, uint32_t(int32_t(speed)));
    return rec;
}

}  // namespace

// ---------------------------------------------------------------------------
// Requests

// Applied by the worker before its next frame, so the gates stay its own.
void NxNet::discontinuityNet(int8_t)
{
    {
        // The new stream's first frame goes at once, not at the end of the
        // old stream's second.
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        _searchInfo.startAfresh();
    }
    m_streamCuts.fetch_add(1);
    m_pendingDiscontinuity = true;
}

void NxNet::applyDiscontinuity()
{
    if (uint16_t lost = m_lostChannels.exchange(0)) {
        for (int ch = 0; ch < 16; ++ch)
            if (lost & (1u << ch))
                _netInfo.bFirstDecoding[ch] = 0;
    }
    if (!m_pendingDiscontinuity.exchange(false))
        return;
    std::memset(_netInfo.bFirstDecoding, 0, sizeof _netInfo.bFirstDecoding);
    _netInfo.seqnum[0] = 0;
    // The new stream's frames are counted afresh.
    for (Pos& p : m_framePos)
        p = Pos{};
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
    m_keyOnlyLive = keyFrameOnly == 1;
    streamChanged();
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
    const std::array<uint8_t, 16> rec = ptzRecord(ch, cmd, 0, speed);
    SendCmdToServer(53, rec.data(), rec.size());
}

void NxNet::RequestPreset(int8_t ch, int32_t cmd, int8_t preset)
{
    if (!connected())
        return;
    const std::array<uint8_t, 16> rec = ptzRecord(ch, cmd, preset, 0);
    SendCmdToServer(53, rec.data(), rec.size());
}

void NxNet::RequestSearchInfo(int32_t cmd, int32_t a, int32_t b)
{
    if (!connected())
        return;
    if (cmd == 15)
        noteAsked(cmd, a);
    SendCmdToServer(cmd, a, b);
}

void NxNet::RequestHistory(const uint8_t* record, size_t len)
{
    if (!connected())
        return;
    // Pages are taken from now until the last one, a failure or EndHistory.
    m_historyOpen = true;
    SendCmdToServer(32, record, len);
}

void NxNet::EndHistory()
{
    m_historyOpen = false;
}

void NxNet::RequestSearch(int32_t, int32_t startTime)
{
    std::lock_guard<std::recursive_mutex> lock(m_reqLock);
    _searchInfo.eSearchType = 0;
    _searchInfo.eNowPlaySpeed = 1;
    m_flow = Flow::Forward;
    m_everyFrame = true;
    forgetPositions();
    allDataReq(false, true);
    discontinuityNet();
    noteAsked(13, 0);
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
    m_flow = Flow::Forward;
    forgetPositions();
    allDataReq(false, true);
    discontinuityNet();
    SendCmdToServer(30, 0, 0);
    uint8_t sw[16];
    std::memset(sw, 1, sizeof sw);
    sendDataRequest(0, sw);
    streamChanged();
    return true;
}

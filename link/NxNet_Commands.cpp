// Recorder link: command frames, the command writer and received commands.
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

// A frame must fit the send queue and the caller's buffer.
bool fitsSendQ(size_t total, size_t cap)
{
    if (total <= size_t(NxNet::kSendQSize) && total <= cap)
        return true;
    vlog("network command size over !\r");
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Frame builders

size_t writeToSendQWithFF(uint8_t* out, size_t cap, int cmd, const uint8_t* payload, size_t len)
{
    size_t total = 2 * len + 12;
    if (!fitsSendQ(total, cap))
        return 0;
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
    if (!fitsSendQ(total, cap))
        return 0;
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
    // Answers count only while their request is outstanding.
    auto asked = [&](bool outstanding) {
        if (!outstanding)
            dropUnasked(cmd);
        return outstanding;
    };
    switch (cmd) {
    case 1:
        if (asked(!m_gotConnectAnswer))
            onConnectAnswer(p, len);
        break;
    case 2:
        if (asked(!m_loggedIn)) {
            vlogFailure("connection refused: too many users\r\n");
            setNetStatus(NET_MAX_USER);
            failConnectionQuietly();
        }
        break;
    case 4:
        if (asked(m_loginPending) && need(4))
            onLoginAccepted(p, len);
        break;
    case 5:
        if (asked(m_loginPending)) {
            m_loginPending = false;
            vlogFailure("login refused (%d)\r\n", len > 0 ? int(p[0]) : 0);
            setNetStatus(NET_LOGIN_FAIL, std::string(reinterpret_cast<const char*>(p), len > 0 ? 1 : 0));
            failConnectionQuietly();
        }
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
        if (asked(takeAsked(cmd)) && need(8)) {
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
        if (!asked(takeAsked(cmd)))
            break;
        vlog("COMMAND_SEARCH_INFO_FAIL");
        NetSearchInfo s = searchInfo();
        reportSearch(SEARCH_INFO_FAIL, int32_t(s.hdd_start_time), int32_t(s.hdd_end_time), nullptr, 0);
        break;
    }
    case 17:
        if (asked(takeAsked(cmd)) && need(8)) {
            vlog("COMMAND_SEARCH_INFO recv");
            uint32_t start = le32(p);
            uint32_t end = le32(p + 4);
            {
                std::lock_guard<std::recursive_mutex> lock(m_reqLock);
                _searchInfo.hdd_start_time = start;
                _searchInfo.hdd_end_time = end;
            }
            vlog("start %d end %d", int(start), int(end));
            reportSearch(start && end ? SEARCH_INFO_RANGE : SEARCH_INFO_FAIL, int32_t(start), int32_t(end), nullptr, 0);
        }
        break;
    case 18:
        if (asked(takeAsked(cmd)) && need(8)) {
            vlog("COMMAND_SEARCH_INFO_MONTH");
            reportSearch(SEARCH_INFO_MONTH, int32_t(le32(p + 4)), int32_t(le32(p)), nullptr, 0);
        }
        break;
    case 19:
        if (asked(takeAsked(cmd)) && need(8)) {
            vlog("COMMAND_SEARCH_INFO_DAYS");
            uint32_t t = le32(p);
            tm_t tm{};
            to_tm(t, &tm);
            vlog("DAY %d/%d/%d %d:%d:%d", tm.year, tm.mon, tm.mday, tm.hour, tm.min, tm.sec);
            if (t != 0)
                reportSearch(SEARCH_INFO_DAY, int32_t(le32(p + 4)), 0, p + 8, size_t(len - 8));
            else
                reportSearch(SEARCH_INFO_FAIL, 0, 0, nullptr, 0);
        }
        break;
    case 20:
        if (!asked(takeAsked(cmd)))
            break;
        vlog("START FAIL");
        if (need(4) && (le32(p) == 45 || le32(p) == 46) && _pMain)
            _pMain->ShowSearchAlertView();
        break;
    case 21: {
        // A failed search matters only while recordings play.
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        if (!asked(_searchInfo.hdd_search_mode_flag))
            break;
        vlog("SEARCH FAIL");
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
        onHistoryPage(p, len);
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

bool NxNet::reportSearch(int type, int32_t v1, int32_t v2, const uint8_t* data, size_t len)
{
    if (!_pMain)
        return false;
    // The worker holds the answer back (and reads nothing more) while the
    // GUI thread has too many waiting; a stop or a stuck GUI drops it.
    auto deadline = std::chrono::steady_clock::now() + answerWait;
    while (!_pMain->hasRoomForAnswer(len)) {
        if (stopRequested() || std::chrono::steady_clock::now() >= deadline) {
            vlog("search answer dropped (type %d)", type);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    _pMain->SetSearchInfo(type, v1, v2, data, len);
    return true;
}

// Event-log pages are taken only while a request is open: from the request
// to its last page (any status but "more follow"), or EndHistory.
void NxNet::onHistoryPage(const uint8_t* p, int len)
{
    if (!m_historyOpen) {
        vlog("event-log page without a request dropped");
        return;
    }
    if (len < 4 || le32(p) != 2)
        m_historyOpen = false;
    reportSearch(SEARCH_INFO_HISTORY, 0, 0, p, size_t(std::max(len, 0)));
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
    m_gotConnectAnswer = true;
    SetModelParam(&info, model);
    vlog("MAX CH %d", chCount);
    if (chCount < 1) {
        // A recorder without channels cannot be used: a failure the user sees.
        vlogFailure("channel count %d: recorder not usable\r\n", chCount);
        setNetStatus(NET_MODEL_MISMATCH);
        failConnectionQuietly();
        return;
    }
    info.maxch = uint16_t(std::min(chCount, 16));
    if (chCount > 16)
        vlog("channel count %d cut to %d", chCount, int(info.maxch));
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
    m_loginPending = true;
    m_loginSentAt = Clock::now();
    SendCmdToServer(3, 0, 0);
}

void NxNet::onLoginAccepted(const uint8_t* p, int len)
{
    m_loginPending = false;
    m_loggedIn = true;
    noteRoundTrip(Clock::now() - m_loginSentAt);
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
    m_videoLoss = uint16_t(_netInfo.vl);
    if (m_pView)
        m_pView->SetVideoLoss(uint16_t(_netInfo.vl));
    noteEcho();
    // Every echo counts and is answered; a flood of them is not answered
    // one for one.
    if (echoReplyAllowed())
        SendCmdToServer(12, 0, 0);
    m_echoCount++;
    m_echoTotal++;
}

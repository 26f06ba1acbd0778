// Recorder link: frame delivery, unscrambling and playback pacing.
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
#include <shared_mutex>
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

void NetSearchInfo::startAfresh()
{
    dvrNowTime = 0;
    elapseTime = 1u << 24;  // past any window
    std::memset(dvrSpeedTime, 0, sizeof dvrSpeedTime);
}

// Holds a playback frame until its time; false when it is thrown away, its
// stream is cut (a seek, pause or new request) or the link stops. A speed
// change during the hold applies to the held frame at the next check, so the
// frame is released at the new pace and the channel's following frames keep
// their reference.
bool NxNet::waitForPacing(int c, uint32_t cut)
{
    Clock::time_point start = Clock::now();
    // Counted as time the worker read nothing, however the wait ends.
    struct Hold {
        NxNet& net;
        Clock::time_point start;
        ~Hold()
        {
            net.m_holding = false;
            net.m_heldTotal += Clock::now() - start;
        }
    } hold{*this, start};
    for (;;) {
        int r;
        const uint32_t nowMs = pacingClock();
        {
            std::lock_guard<std::recursive_mutex> lock(m_reqLock);
            if (!_searchInfo.hdd_search_mode_flag)
                return true;
            // The stream it belongs to was cut while it waited.
            if (m_streamCuts.load() != cut)
                return false;
            r = _searchInfo.canPop(c, _pk.speed, _pk.time, false, nowMs);
        }
        if (r == 1)
            return true;
        if (r == -1) {
            vlog("ThrowBin");
            _netInfo.dropFpsPerCh[c]++;
            _netInfo.bFirstDecoding[c] = 0;
            return false;
        }
        m_holding = true;
        TcpSendPump();
        noteHeld();
        if (pacingPause)
            pacingPause();
        else
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
        noteHeld();
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
    bool hidden = false;
    const uint32_t cut = m_streamCuts.load();
    int stream;
    {
        std::lock_guard<std::recursive_mutex> lock(m_reqLock);
        // A frame kept under this request belongs to its stream, however
        // late it is handed on.
        stream = m_streamSeq.load();
        NetSearchInfo& s = _searchInfo;
        search = s.hdd_search_mode_flag;
        bool keep;
        const bool isNDAV = uint32_t(_pk.stream_id) == le32(reinterpret_cast<const uint8_t*>("NDAV"));
        if (isNDAV) {
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
        if (search && isNDAV && awaitingSeekStart(c))
            return true;
        noteFirstFrameOfRequest();
        if (search)
            countFrame(c, _pk.time);
        if (isSkipFrame()) {
            _netInfo.dropFpsPerCh[c]++;
            return true;
        }
        if (m_covertMask.load() & (1u << c))
            return true;
        // Frames that come on after a pause leave the position where the
        // pause left it: playback resumes from there.
        if (search && s.eNowPlaySpeed == 0)
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
            StepFrame step = stepFrame(c);
            if (step == StepFrame::Drop)
                return true;
            hidden = step == StepFrame::Hide;
        }
    }
    if (stopRequested())
        return true;
    if (hidden) {
        noteHeld();
        dispatchVideo(c, stream, search, true);
        return true;
    }
    if (search) {
        if (!waitForPacing(c, cut))
            return true;
        noteReleased(c);
    }
    dispatchVideo(c, stream, search);
    return true;
}

// ---------------------------------------------------------------------------
// Decoding threads

// Hands the frame to the decoding threads. In playback the worker first
// waits for a slot to decode into and for room, as before, which holds the
// stream back. In live view it never waits: a channel whose decodes pile up,
// or that finds no free slot, skips to its next key frame; a live picture
// takes its slot only when its decode starts.
void NxNet::dispatchVideo(int c, int stream, bool search, bool hidden)
{
    if (!videoQ)
        return;
    tag_FrameV_Orgin* slot = nullptr;
    if (search) {
        slot = waitForVideoSlot();
        if (!slot)
            return;
    } else if (m_decodePool.pending(c) >= kLivePendingMax || videoQ->freeCount() == 0) {
        fallBehind(c);
        return;
    }
    DecodePool::Job* job = search ? waitForJob() : m_decodePool.makeJob(_pk);
    if (!job) {
        if (slot)
            videoQ->cancelWriteBuffer(slot);
        if (!search)
            fallBehind(c);
        return;
    }
    job->queue = videoQ;
    job->slot = slot;
    job->hidden = hidden;
    job->stream = stream;
    tagNxPacket& pk = job->pk;
    if (_dvr.video_encypt == 1 && pk.frame_type == 1)
        unscramble(job->data.data(), pk.insize);
    pk.deinterlace = (_dvr.model == 122 && pk.w_org == 1920 && pk.h_org == 1080 && pk.speed > 15.0f) ? 1 : 0;
    m_decodePool.submit(job);
}

DecodePool::Job* NxNet::waitForJob()
{
    for (;;) {
        if (DecodePool::Job* job = m_decodePool.makeJob(_pk))
            return job;
        if (stopRequested())
            return nullptr;
        noteHeld();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void NxNet::fallBehind(int c)
{
    _netInfo.bFirstDecoding[c] = 0;
    _netInfo.dropFpsPerCh[c]++;
}

// On a decoding thread: decodes straight into the job's slot and commits it,
// or gives the slot back when there is no picture.
void NxNet::decodeJob(DecodePool::Job& job)
{
    tagNxPacket& pk = job.pk;
    const int c = pk.ch;
    // A channel that lost a picture here decodes nothing until a key frame.
    if (pk.frame_type == 1)
        m_decodeWaitsKey[c] = false;
    if (m_decodeWaitsKey[c]) {
        dropJob(job);
        return;
    }
    if (!job.slot) {
        job.slot = job.queue->tryGetWriteBuffer();
        if (!job.slot) {
            // The view is behind: the channel skips to its next key frame.
            m_decodeWaitsKey[c] = true;
            m_lostChannels.fetch_or(uint16_t(1u << c));
            return;
        }
    }
    tag_FrameV_Orgin* slot = job.slot;
    if (onDecode)
        onDecode(pk);
    bool got = false;
    {
        std::shared_lock<std::shared_mutex> lock(m_decoderLock);
        CoDecoder* dec = videoDecoder(pk.ch);
        if (dec) {
            dec->setOutputTarget(slot->outbuff, sizeof slot->outbuff);
            got = dec->Decode(&pk);
            if (!got && pk.misc2) {
                if (auto* h264 = dynamic_cast<CFFmpeg*>(dec))
                    got = h264->DecodeDummy(&pk);
            }
            dec->setOutputTarget(nullptr, 0);
        }
        if (got && (pk.w <= 0 || pk.h <= 0 || pk.w > 1920 || pk.h > 1080 || !pk.outbuff)) {
            vlog("picture size refused (%d x %d)\r\n", pk.w, pk.h);
            got = false;
        }
        // A picture that did not go straight into the slot is copied once.
        if (got && pk.outbuff != slot->outbuff) {
            int64_t bytes = int64_t(pk.w) * pk.h * 4;
            std::memcpy(slot->outbuff, pk.outbuff, size_t(std::min<int64_t>(bytes, pk.outsize > 0 ? pk.outsize : bytes)));
        }
    }
    // A picture decoded only for the ones after it is not shown.
    if (!got || job.hidden) {
        job.queue->cancelWriteBuffer(slot);
        return;
    }
    slot->result = pk.result;
    slot->time = pk.time;
    slot->ch = pk.ch;
    slot->now_type = pk.now_type;
    slot->add_nal = pk.add_nal;
    slot->w = pk.w;
    slot->h = pk.h;
    slot->outsize = pk.outsize;
    slot->evt_rec = pk.evt_rec;
    slot->evt_md = pk.evt_md;
    slot->evt_ss = pk.evt_ss;
    job.queue->putWriteBuffer(slot);
    noteShown(c, pk.frame_type == 1, job.stream);
}

// A job dropped before it ran gives its slot back.
void NxNet::dropJob(DecodePool::Job& job)
{
    if (job.queue && job.slot)
        job.queue->cancelWriteBuffer(job.slot);
}

void NxNet::stopDecodes()
{
    uint16_t lost = m_decodePool.cancel();
    for (int ch = 0; ch < 16; ++ch)
        if (lost & (1u << ch))
            m_decodeWaitsKey[ch] = true;
    m_lostChannels.fetch_or(lost);
}

void NxNet::waitDecodesIdle()
{
    m_decodePool.waitIdle();
}

void NxNet::setDecodeThreads(int n)
{
    m_decodePool.setThreads(n);
}

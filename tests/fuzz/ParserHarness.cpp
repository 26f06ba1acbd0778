#include "fuzz/ParserHarness.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <vector>

#include "decode/CFFmpeg.h"
#include "fuzz/ParserInput.h"
#include "link/CNetDef.h"
#include "link/NxNet.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"

namespace parserfuzz {

namespace {

// Readings of one pacing hold before the harness moves things on.
constexpr int kMaxReadings = 8;
// A clock jump that ends any hold (the widest window is 8 s; the link
// ignores jumps over 10 s).
constexpr uint32_t kClockJumpMs = 9500;

// The link with what the harness needs from its base.
class FuzzLink : public NxNet {
public:
    bool hasAudioDecoder() const { return _DecoderA != nullptr; }
    // The channels' video decoders: the given set, or with null the link's
    // own H.264 decoders.
    void useDecoders(CoDecoder** set)
    {
        std::unique_lock<std::shared_mutex> lock(m_decoderLock);
        _DecoderV = set ? set : _iDecoderV.getDecoderAtIndex(0);
    }
    // The channel's H.264 decoder comes back as new, as with a new link's
    // SetDecoder.
    void renewVideoDecoder(int ch)
    {
        if (auto* d = dynamic_cast<CFFmpeg*>(videoDecoder(ch)))
            d->ResetStream();
    }
    // What the watchdog does to a link that lost its connection.
    void stop() { ucThreadExit = 1; }
    bool stopped() const { return stopRequested(); }
};

// The stand-in video decoder (see Decoding). Pictures that do not go into
// the slot, the blue ones, come from a buffer all stand-ins share.
class StandInDecoder : public CoDecoder {
public:
    explicit StandInDecoder(std::vector<uint8_t>* own) : own_(own) {}

    bool Decode(tagNxPacket* pk) override
    {
        const bool blue = pk->add_nal && pk->insize == 0;
        if (!blue && !holdsSlice(pk->inbuff, pk->insize))
            return false;
        const int w = pk->w_org;
        const int h = pk->h_org;
        if (w <= 0 || h <= 0 || w > CFFmpeg::kMaxWidth || h > CFFmpeg::kMaxHeight)
            return false;
        const size_t bytes = size_t(w) * size_t(h) * 4;
        uint8_t* out = own_->data();
        pk->outsize = int32_t(bytes);
        if (!blue && target_ && targetSize_ >= bytes) {
            out = target_;
            pk->outsize = CFFmpeg::kOutBytes;
        }
        // The picture's first and last bytes: the extent a view reads.
        out[0] = blue ? 0xFF : pk->inbuff[0];
        out[bytes - 1] = 0;
        pk->result = 1;
        pk->w = w;
        pk->h = h;
        pk->outbuff = out;
        return true;
    }
    void setOutputTarget(uint8_t* target, size_t size) override
    {
        target_ = target;
        targetSize_ = size;
    }

private:
    // A start code followed by a coded slice (NAL unit type 1 or 5).
    static bool holdsSlice(const uint8_t* p, int n)
    {
        for (int i = 0; p && i + 3 < n; ++i) {
            if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
                const int type = p[i + 3] & 0x1F;
                if (type == 1 || type == 5)
                    return true;
            }
        }
        return false;
    }

    std::vector<uint8_t>* own_;
    uint8_t* target_ = nullptr;
    size_t targetSize_ = 0;
};

void expect(bool ok, const char* what)
{
    if (ok)
        return;
    std::fprintf(stderr, "parser harness: %s\n", what);
    std::abort();
}

// Field reader over the input; short fields read as zero.
class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    PARSERFUZZ_UNTRACED bool done() const { return pos_ >= n_; }
    PARSERFUZZ_UNTRACED uint32_t get(int bytes)
    {
        uint32_t v = 0;
        for (int i = 0; i < bytes && pos_ < n_; ++i)
            v |= uint32_t(p_[pos_++]) << (8 * i);
        return v;
    }
    // Up to n bytes; answers the pointer and the count taken.
    const uint8_t* take(size_t& n)
    {
        n = std::min(n, n_ - pos_);
        const uint8_t* at = p_ + pos_;
        pos_ += n;
        return at;
    }

private:
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
};

}  // namespace

struct ParserHarness::Impl {
    FuzzLink link;
    RingBuffer videoQ;
    RingBufferA audioQ;
    RunStats stats;
    uint32_t clock = 0;
    uint32_t step = 100;
    int readings = 0;
    std::optional<int16_t> holdSpeed;
    Decoding decoding = Decoding::h264;
    // Channels whose H.264 decoder has decoded since it was made new, and
    // those that have decoded in this run.
    uint16_t h264Used = 0;
    uint16_t h264UsedNow = 0;
    std::vector<uint8_t> standInPictures = std::vector<uint8_t>(CFFmpeg::kOutBytes);
    std::vector<StandInDecoder> standIns = std::vector<StandInDecoder>(16, StandInDecoder(&standInPictures));
    std::array<CoDecoder*, 16> standInSet{};

    Impl()
    {
        for (int c = 0; c < 16; ++c)
            standInSet[c] = &standIns[c];
        // Pictures are decoded as each frame is delivered, so a run does
        // the same whatever the timing.
        link.setDecodeThreads(0);
        link.setQpointerV(&videoQ);
        link.setQpointerA(&audioQ);
        link.SetDecoder(SITE_MODEL_DVR);
        link.onCommand = [this](int, const uint8_t*, int) { ++stats.commands; };
        link.onFrame = [this](const tagNxPacket& pk) {
            ++stats.frames;
            readings = 0;
            drain();
        };
        link.pacingClock = [this] { return readClock(); };
        // A run's first picture of a channel meets a new H.264 decoder: it
        // is renewed then, only when it is needed (a decoder costs about
        // 1 MiB of fresh memory under the address sanitizer).
        link.onDecode = [this](const tagNxPacket& pk) {
            const uint16_t bit = uint16_t(1u << (pk.ch & 15));
            if (decoding != Decoding::h264 || (h264UsedNow & bit))
                return;
            if (h264Used & bit)
                link.renewVideoDecoder(pk.ch & 15);
            h264Used |= bit;
            h264UsedNow |= bit;
        };
        // No thread waits for a held frame's time: the pacing clock moves.
        link.pacingPause = [] {};
    }
    ~Impl() { link.useDecoders(nullptr); }

    // The consumer side: takes every picture and audio block out, checking
    // what a view or an audio device would rely on.
    void drain()
    {
        while (tag_FrameV_Orgin* s = videoQ.tryGetReadBuffer()) {
            expect(s->ch >= 0 && s->ch < 16, "picture of a channel out of range");
            expect(s->w > 0 && s->w <= 1920 && s->h > 0 && s->h <= 1080, "picture size out of range");
            videoQ.putReadBuffer();
            ++stats.pictures;
        }
        while (tag_FrameA_Orgin* s = audioQ.tryGetReadBuffer()) {
            expect(s->dwLength > 0 && s->dwLength <= sizeof s->bufAudio, "audio block length out of range");
            audioQ.putReadBuffer();
            ++stats.audioBlocks;
        }
    }

    // The pacing clock; also where a held frame meets the input's button
    // press, and where a hold that would last forever is ended.
    uint32_t readClock()
    {
        ++stats.readings;
        if (holdSpeed) {
            int16_t s = *holdSpeed;
            holdSpeed.reset();
            link.PlaySpeed(s);
        } else if (++readings > kMaxReadings) {
            readings = 0;
            int s = link.searchInfo().eNowPlaySpeed;
            if (s == PLAY_STEP_FORWARD || s == PLAY_STEP_BACKWARD) {
                // The step button again; a link that lost its connection
                // takes no button and is stopped instead.
                if (!link.PlaySpeed(s))
                    link.stop();
            } else {
                clock += kClockJumpMs;
                return clock;
            }
        }
        clock += step;
        return clock;
    }

    void feed(Reader& in)
    {
        int split = int(in.get(1));
        size_t n = in.get(2);
        const uint8_t* p = in.take(n);
        for (size_t off = 0; off < n;) {
            size_t k = split > 0 ? std::min(n - off, size_t(split)) : n - off;
            link.parseReceived(p + off, int(k));
            off += k;
        }
        // The audio decoder comes with the login; a link that has a model
        // but missed its login gets one too.
        int group = link._dvrInfo().group;
        if (group != 0 && !link.hasAudioDecoder())
            link.SetADecoder(uint32_t(group));
    }

    void step1(Reader& in)
    {
        switch (in.get(1)) {
        case kRead: feed(in); break;
        case kPlay: link.RequestSearch(0, int32_t(in.get(4))); break;
        case kSpeed: link.PlaySpeed(int16_t(in.get(2))); break;
        case kHoldSpeed: holdSpeed = int16_t(in.get(2)); break;
        case kExitLive: link.ExitLive(); break;
        case kAudio: link.RequestAudioCh(int8_t(in.get(1))); break;
        case kLiveCh: {
            int keys = int(in.get(1));
            link.RequestLiveCh(keys, int8_t(in.get(1)));
            break;
        }
        case kDiscontinuity: link.discontinuityNet(); break;
        case kClockStep: step = in.get(2); break;
        case kSearchInfo: {
            int kind = int(in.get(1));
            link.RequestSearchInfo(15, kind, int32_t(in.get(4)));
            break;
        }
        default: return;  // no op: nothing was queued
        }
        // The send pump: whatever was queued has gone out.
        link.setSendIndices(0, 0);
    }
};

ParserHarness::ParserHarness()
{
    static const bool quiet = [] {
        setLogSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    d = std::make_unique<Impl>();
}

ParserHarness::~ParserHarness() = default;

RunStats ParserHarness::run(const uint8_t* data, size_t size, Decoding decoding)
{
    Impl& s = *d;
    // A new link's state; the H.264 decoders are renewed as they are met.
    s.link.resetForTest();
    s.h264UsedNow = 0;
    s.decoding = decoding;
    s.link.useDecoders(decoding == Decoding::standIn ? s.standInSet.data() : nullptr);
    s.link.setSocketForTest(-1, true);  // requests go out; sends go nowhere
    s.videoQ.reset();
    s.audioQ.reset();
    s.stats = RunStats{};
    s.clock = 0;
    s.step = 100;
    s.readings = 0;
    s.holdSpeed.reset();
    Reader in(data, size);
    while (!in.done() && !s.link.stopped())
        s.step1(in);
    s.drain();
    s.stats.unasked = s.link.unaskedAnswers();
    return s.stats;
}

}  // namespace parserfuzz

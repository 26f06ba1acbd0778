#pragma once
// Input format of the parser fuzz target: a list of records, each an op
// byte and its fields (little-endian). Bytes that are no op are skipped.
//
//   'W' split:u8 len:u16 bytes[len]  bytes from the recorder, handed to the
//                                    parser in reads of `split` bytes (0: one)
//   'P' time:u32    playback from this time (the search panel's Play)
//   'S' speed:i16   playback speed button
//   'H' speed:i16   the same, pressed while the next playback frame is held
//   'X'             back to live
//   'A' ch:u8       audio of this 1-based channel, 0 for none
//   'L' keys:u8 ch:u8  live channel request (1: key frames only)
//   'D'             discontinuity (the view was cleared)
//   'C' step:u16    pacing clock step per reading, ms
//
// The target decodes the pictures of one input in kH264Share with the
// link's H.264 decoders, of the others with a stand-in (ParserHarness.h); a
// hash of the input's bytes chooses, so that a crash reproduces from its
// file alone.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace parserfuzz {

constexpr uint32_t kH264Share = 64;
static_assert((kH264Share & (kH264Share - 1)) == 0 && kH264Share <= 64, "one pad byte below the op codes");

// Code of the harness that is kept out of the coverage instrumentation (and
// so not inlined into code that has it): its compares, traced for every
// input byte, tell the fuzzer nothing about the link.
#if defined(__clang__)
#define PARSERFUZZ_UNTRACED __attribute__((noinline, no_sanitize("coverage")))
#else
#define PARSERFUZZ_UNTRACED __attribute__((noinline))
#endif

// FNV-1a.
PARSERFUZZ_UNTRACED inline uint32_t inputHash(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

inline bool decodesWithH264(const uint8_t* data, size_t size)
{
    return inputHash(data, size) % kH264Share == 0;
}

enum Op : uint8_t {
    kRead = 'W',
    kPlay = 'P',
    kSpeed = 'S',
    kHoldSpeed = 'H',
    kExitLive = 'X',
    kAudio = 'A',
    kLiveCh = 'L',
    kDiscontinuity = 'D',
    kClockStep = 'C',
    kSearchInfo = 'I',
};

// Builds an input record by record.
class InputWriter {
public:
    // Received bytes; longer runs are cut into records of at most 65,535.
    void read(const std::vector<uint8_t>& bytes, uint8_t split = 0)
    {
        size_t off = 0;
        do {
            size_t n = std::min<size_t>(bytes.size() - off, 0xFFFF);
            op(kRead);
            out_.push_back(split);
            put(uint32_t(n), 2);
            out_.insert(out_.end(), bytes.begin() + long(off), bytes.begin() + long(off + n));
            off += n;
        } while (off < bytes.size());
    }
    void play(uint32_t time) { op(kPlay), put(time, 4); }
    void speed(int16_t s) { op(kSpeed), put(uint16_t(s), 2); }
    void holdSpeed(int16_t s) { op(kHoldSpeed), put(uint16_t(s), 2); }
    void exitLive() { op(kExitLive); }
    void audio(uint8_t ch) { op(kAudio), out_.push_back(ch); }
    void liveCh(uint8_t keys, uint8_t ch) { op(kLiveCh), out_.push_back(keys), out_.push_back(ch); }
    void discontinuity() { op(kDiscontinuity); }
    void clockStep(uint16_t ms) { op(kClockStep), put(ms, 2); }
    // A recording-information request (kind 1 day, 2 month, 3 range).
    void searchInfo(uint8_t kind, uint32_t time) { op(kSearchInfo), out_.push_back(kind), put(time, 4); }
    // A byte that is no op at the end, if needed, to make the input one the
    // target decodes with the H.264 decoders: the hash's low bits become
    // zero when the byte is equal to them, and multiplying by the odd FNV
    // prime keeps them so.
    void padForH264()
    {
        if (!decodesWithH264(out_.data(), out_.size()))
            out_.push_back(uint8_t(inputHash(out_.data(), out_.size()) % kH264Share));
    }

    const std::vector<uint8_t>& bytes() const { return out_; }

private:
    void op(Op o) { out_.push_back(o); }
    void put(uint32_t v, int n)
    {
        for (int i = 0; i < n; ++i)
            out_.push_back(uint8_t(v >> (8 * i)));
    }
    std::vector<uint8_t> out_;
};

}  // namespace parserfuzz

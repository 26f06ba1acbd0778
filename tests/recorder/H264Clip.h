#pragma once
// A short loop of real H.264 pictures, made with libavcodec's libx264
// encoder (Baseline, one slice per picture, an IDR every `gop` pictures, two
// GOPs long, so the loop can repeat forever): one solid colour, a moving,
// detailed scene that costs a decoder what a camera's picture does, or the
// timeline's colours over one whole cycle.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recorder/Palette.h"
#include "recorder/Wire.h"

namespace testrec {

struct EncodedFrame {
    Bytes data;  // Annex B, 4-byte start codes
    bool key = false;
};

enum class ClipContent {
    Solid,   // the colour over the whole picture
    Moving,  // panning stripes, a moving box and sensor noise; colour unused
    // Picture i is timelineColour(i / fps, i % fps, fps) for one cycle of the
    // timeline; gop must equal fps, so each second starts with a key frame.
    Timeline,
};

struct ClipSpec {
    int width = 352;
    int height = 240;
    int fps = 10;
    int gop = 5;
    Rgb colour;
    ClipContent content = ClipContent::Solid;
    int bitrateKbps = 0;  // 0: constant quality
    // Strip the parameter sets and rewrite the slices for the fixed pair a
    // client puts in front of "NDAV" frames (only for the six sizes it has).
    bool fixedParameterSets = false;

    bool operator==(const ClipSpec& o) const;
};

class H264Clip {
public:
    // Encodes, or answers the clip encoded before for the same spec. Never
    // null; check ok().
    static std::shared_ptr<const H264Clip> get(const ClipSpec& spec);

    bool ok() const { return error_.empty() && !frames_.empty(); }
    const std::string& error() const { return error_; }
    const std::vector<EncodedFrame>& frames() const { return frames_; }
    const ClipSpec& spec() const { return spec_; }

    // SPS and PPS as the encoder made them (Annex B), for decoding tests.
    const Bytes& parameterSets() const { return parameterSets_; }

private:
    explicit H264Clip(const ClipSpec& spec);
    void encode();
    void convertToFixedSets();

    ClipSpec spec_;
    std::vector<EncodedFrame> frames_;
    Bytes parameterSets_;
    std::string error_;
};

// The fixed parameter-set pair for a picture size, as a client puts it in
// front of "NDAV" frames; empty for sizes it has none for.
Bytes fixedParameterSets(int width, int height);
bool hasFixedParameterSets(int width, int height);

// Coded bytes of the given size (at least 16) that no H.264 decoder makes a
// picture of: a slice naming a picture parameter set that cannot exist.
Bytes undecodablePicture(size_t size);

}  // namespace testrec

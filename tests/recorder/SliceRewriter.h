#pragma once
// Rewrites the slice headers of an H.264 stream so that its slices decode
// behind a fixed parameter-set pair (the one a client puts in front of
// frames that carry none): Baseline, CAVLC, frame_num of 9 bits, picture
// order count type 0 with 10-bit lsb, initial QP 26, chroma QP offset 2,
// constrained intra prediction, no deblocking control in slice headers.
// The macroblock data is copied bit for bit; the encoder must have used
// the same PPS tools (checked) and the default deblocking filter.

#include <cstdint>
#include <optional>
#include <string>

#include "recorder/Wire.h"

namespace testrec {

struct SpsFields {
    int log2MaxFrameNum = 0;
    int pocType = 0;
    int log2MaxPocLsb = 0;
    bool deltaPicOrderAlwaysZero = false;
    bool frameMbsOnly = true;
    int widthMbs = 0;
    int heightMbs = 0;
};

struct PpsFields {
    bool cabac = false;
    bool bottomFieldPicOrder = false;
    int numRefIdxL0Default = 1;
    bool weightedPred = false;
    int picInitQp = 26;
    int chromaQpOffset = 0;
    bool deblockingControl = false;
    bool constrainedIntra = false;
    bool redundantPicCnt = false;
};

class SliceRewriter {
public:
    // The encoder's own parameter sets (NAL units without start code).
    bool setParameterSets(const Bytes& spsNal, const Bytes& ppsNal, std::string* error);

    // One slice NAL unit (type 1 or 5) rewritten for the fixed pair.
    // frameNum and pocLsb are the values the new header carries.
    std::optional<Bytes> rewrite(const Bytes& nal, uint32_t frameNum, uint32_t pocLsb, std::string* error) const;

    const SpsFields& sps() const { return sps_; }
    const PpsFields& pps() const { return pps_; }

    // Fields of the fixed pair.
    static constexpr int kLog2MaxFrameNum = 9;
    static constexpr int kLog2MaxPocLsb = 10;
    static constexpr int kPicInitQp = 26;
    static constexpr int kChromaQpOffset = 2;

private:
    SpsFields sps_;
    PpsFields pps_;
    bool ready_ = false;
};

}  // namespace testrec

#include "recorder/SliceRewriter.h"

#include "recorder/AnnexB.h"

namespace testrec {

namespace {

bool fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

bool parseSps(const Bytes& nal, SpsFields& s)
{
    const Bytes rbsp = removeEmulationPrevention(nal.data() + 1, nal.size() - 1);
    BitReader r(rbsp.data(), rbsp.size());
    const uint32_t profile = r.u(8);
    r.u(16);  // constraint flags, level
    r.ue();   // sps id
    if (profile != 66 && profile != 77 && profile != 88)
        return false;  // high profiles carry chroma fields not handled here
    s.log2MaxFrameNum = int(r.ue()) + 4;
    s.pocType = int(r.ue());
    if (s.pocType == 0) {
        s.log2MaxPocLsb = int(r.ue()) + 4;
    } else if (s.pocType == 1) {
        s.deltaPicOrderAlwaysZero = r.flag();
        r.se();
        r.se();
        const uint32_t cycle = r.ue();
        for (uint32_t i = 0; i < cycle && r.ok(); ++i)
            r.se();
    }
    r.ue();  // max_num_ref_frames
    r.flag();
    s.widthMbs = int(r.ue()) + 1;
    s.heightMbs = int(r.ue()) + 1;
    s.frameMbsOnly = r.flag();
    return r.ok();
}

bool parsePps(const Bytes& nal, PpsFields& p)
{
    const Bytes rbsp = removeEmulationPrevention(nal.data() + 1, nal.size() - 1);
    BitReader r(rbsp.data(), rbsp.size());
    r.ue();
    r.ue();
    p.cabac = r.flag();
    p.bottomFieldPicOrder = r.flag();
    if (r.ue() != 0)
        return false;  // slice groups
    p.numRefIdxL0Default = int(r.ue()) + 1;
    r.ue();
    p.weightedPred = r.flag();
    r.u(2);
    p.picInitQp = 26 + r.se();
    r.se();
    p.chromaQpOffset = r.se();
    p.deblockingControl = r.flag();
    p.constrainedIntra = r.flag();
    p.redundantPicCnt = r.flag();
    return r.ok();
}

bool isPSlice(uint32_t sliceType) { return sliceType % 5 == 0 || sliceType % 5 == 3; }
bool isBSlice(uint32_t sliceType) { return sliceType % 5 == 1; }

// Copies ref_pic_list_modification for one list.
void copyListModification(BitReader& r, BitWriter& w)
{
    const bool flag = r.flag();
    w.flag(flag);
    for (int guard = 0; flag && guard < 64 && r.ok(); ++guard) {
        const uint32_t idc = r.ue();
        w.ue(idc);
        if (idc == 3)
            break;
        w.ue(r.ue());
    }
}

void copyRefPicMarking(BitReader& r, BitWriter& w, bool idr)
{
    if (idr) {
        w.flag(r.flag());
        w.flag(r.flag());
        return;
    }
    const bool adaptive = r.flag();
    w.flag(adaptive);
    for (int guard = 0; adaptive && guard < 64 && r.ok(); ++guard) {
        const uint32_t op = r.ue();
        w.ue(op);
        if (op == 0)
            break;
        if (op == 1 || op == 3)
            w.ue(r.ue());
        if (op == 2)
            w.ue(r.ue());
        if (op == 3 || op == 6)
            w.ue(r.ue());
        if (op == 4)
            w.ue(r.ue());
    }
}

}  // namespace

bool SliceRewriter::setParameterSets(const Bytes& spsNal, const Bytes& ppsNal, std::string* error)
{
    ready_ = false;
    if (nalType(spsNal) != 7 || !parseSps(spsNal, sps_))
        return fail(error, "unreadable sequence parameter set");
    if (nalType(ppsNal) != 8 || !parsePps(ppsNal, pps_))
        return fail(error, "unreadable picture parameter set");
    if (!sps_.frameMbsOnly)
        return fail(error, "field coding is not supported");
    if (pps_.cabac || pps_.weightedPred || pps_.redundantPicCnt || pps_.bottomFieldPicOrder)
        return fail(error, "encoder used tools the fixed parameter sets lack");
    if (pps_.chromaQpOffset != kChromaQpOffset || !pps_.constrainedIntra)
        return fail(error, "encoder chroma QP offset or intra constraint differs from the fixed set");
    ready_ = true;
    return true;
}

std::optional<Bytes> SliceRewriter::rewrite(const Bytes& nal, uint32_t frameNum, uint32_t pocLsb,
                                            std::string* error) const
{
    const int type = nalType(nal);
    if (!ready_ || (type != 1 && type != 5)) {
        fail(error, "not a slice or no parameter sets");
        return std::nullopt;
    }
    const bool idr = type == 5;
    const bool reference = (nal[0] & 0x60) != 0;
    const Bytes rbsp = removeEmulationPrevention(nal.data() + 1, nal.size() - 1);
    BitReader r(rbsp.data(), rbsp.size());
    BitWriter w;

    w.ue(r.ue());  // first_mb_in_slice
    const uint32_t sliceType = r.ue();
    w.ue(sliceType);
    r.ue();
    w.ue(0);  // pps id
    r.u(sps_.log2MaxFrameNum);
    w.u(frameNum, kLog2MaxFrameNum);
    if (idr)
        w.ue(r.ue());  // idr_pic_id
    if (sps_.pocType == 0)
        r.u(sps_.log2MaxPocLsb);
    if (sps_.pocType == 1 && !sps_.deltaPicOrderAlwaysZero)
        r.se();
    w.u(pocLsb, kLog2MaxPocLsb);
    if (isBSlice(sliceType)) {
        fail(error, "B slices are not supported");
        return std::nullopt;
    }
    if (isPSlice(sliceType)) {
        const bool override = r.flag();
        uint32_t count = uint32_t(pps_.numRefIdxL0Default - 1);
        if (override)
            count = r.ue();
        // The fixed set defaults to one reference.
        w.flag(count != 0);
        if (count != 0)
            w.ue(count);
        copyListModification(r, w);
    }
    if (reference)
        copyRefPicMarking(r, w, idr);
    const int sliceQp = pps_.picInitQp + r.se();
    w.se(sliceQp - kPicInitQp);
    if (pps_.deblockingControl) {
        const uint32_t idc = r.ue();
        int32_t alpha = 0, beta = 0;
        if (idc != 1) {
            alpha = r.se();
            beta = r.se();
        }
        if (idc != 0 || alpha != 0 || beta != 0) {
            fail(error, "slice uses a deblocking setting the fixed set cannot state");
            return std::nullopt;
        }
    }
    const size_t stop = rbspStopBit(rbsp);
    if (!r.ok() || stop == SIZE_MAX || stop < r.position()) {
        fail(error, "truncated slice");
        return std::nullopt;
    }
    w.copyBits(rbsp.data(), r.position(), stop);
    Bytes out{nal[0]};
    const Bytes body = addEmulationPrevention(w.finishRbsp());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace testrec

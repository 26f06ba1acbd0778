#pragma once
#include <cstdint>

#include "decode/Cls_R2AdoDec.h"

// Adaptive state of a G.726 decoder.
struct g72x_state {
    int32_t yl;      // locked (steady-state) scale factor
    int16_t yu;      // unlocked (non-steady-state) scale factor
    int16_t dms;     // short-term average of F(I)
    int16_t dml;     // long-term average of F(I)
    int16_t ap;      // speed control
    int16_t a[2];    // pole coefficients
    int16_t b[6];    // zero coefficients
    int16_t pk[2];   // signs of the last two partial reconstructions
    int16_t dq[6];   // last six differences, floating form
    int16_t sr[2];   // last two reconstructed signals, floating form
    uint8_t td;      // tone detect
};

// G.726 decoder at 24 kbit/s: 3-bit codes packed least significant bit
// first (eight codes per three bytes), linear 16-bit output.
class Cls_R2G723d24 : public Cls_R2AdoDec {
public:
    static constexpr uint32_t kFcc = 0x41333237;  // "723A" in memory order

    Cls_R2G723d24();
    ~Cls_R2G723d24() override;

    void Init() override;
    void SetSrcData(const void* src, unsigned long len) override;
    void SetDestBuf(void* dst, unsigned long len) override;
    unsigned long Decode() override;

    // Next 3-bit code of the input, or -1 when none is left.
    int GetCode();
    // One code to one sample; advances the adaptive state.
    int16_t CodeDecToPcm16(int code);

    const g72x_state& state() const { return m_state; }

    int PredictZero() const;
    int PredictPole() const;
    int GetQtzStep() const;
    static int Reconstruct(bool sign, int dqln, int y);
    void UpdtCalc(int codeSize, int y, int wi, int fi, int dq, int sr, int dqsez);
    static int Fmult(int an, int srn);

private:
    bool DetectTransition(int mag) const;
    void AdaptScale(int y, int wi);
    int UpdatePoles(int pk0, int dqsez);
    void UpdateZeros(int dq, int leakShift);
    void AdaptSpeed(bool tr, int y, int fi);

    const uint8_t* m_src = nullptr;
    uint32_t m_srcLeft = 0;
    uint32_t m_bits = 0;
    uint32_t m_holder = 0;
    int16_t* m_dst = nullptr;
    uint32_t m_dstLeft = 0;
    g72x_state m_state{};
};

#include "decode/Cls_R2G723d24.h"

#include <bit>
#include <cstdlib>

namespace {

// 24 kbit/s tables indexed by the 3-bit code: inverse quantizer log
// magnitudes, scale factor multipliers W(I) and rate-of-change values F(I).
constexpr int16_t kDqln[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int16_t kWi[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int16_t kFi[8] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0};

// Number of powers of two (1 .. 16384) not above v: the exponent of a
// magnitude in the 4-bit exponent, 6-bit mantissa form.
int Exponent(int v)
{
    if (v <= 0)
        return 0;
    int e = std::bit_width(static_cast<unsigned>(v));
    return e > 15 ? 15 : e;
}

// Magnitude and sign to the 11-bit floating form kept in the history.
int16_t ToFloat(int mag, bool negative)
{
    int exp = Exponent(mag);
    int f = mag == 0 ? 0x20 : (exp << 6) + ((mag << 6) >> exp);
    return static_cast<int16_t>(negative ? f - 0x400 : f);
}

}  // namespace

Cls_R2G723d24::Cls_R2G723d24()
{
    fcc = kFcc;
}

Cls_R2G723d24::~Cls_R2G723d24() = default;

void Cls_R2G723d24::Init()
{
    m_state = g72x_state{};
    m_state.yl = 34816;
    m_state.yu = 544;
    for (int16_t& v : m_state.dq)
        v = 32;
    for (int16_t& v : m_state.sr)
        v = 32;
}

void Cls_R2G723d24::SetSrcData(const void* src, unsigned long len)
{
    Cls_R2AdoDec::SetSrcData(src, len);
    m_src = static_cast<const uint8_t*>(src);
    m_srcLeft = m_src ? static_cast<uint32_t>(len > 0xFFFFFFFFul ? 0xFFFFFFFFul : len) : 0;
    m_bits = 0;
    m_holder = 0;
}

void Cls_R2G723d24::SetDestBuf(void* dst, unsigned long len)
{
    Cls_R2AdoDec::SetDestBuf(dst, len);
    m_dst = static_cast<int16_t*>(dst);
    m_dstLeft = m_dst ? static_cast<uint32_t>(len > 0xFFFFFFFFul ? 0xFFFFFFFFul : len) : 0;
}

int Cls_R2G723d24::GetCode()
{
    if (!m_src)
        return -1;
    if (m_bits < 3) {
        if (m_srcLeft == 0) {
            src_empty = 1;
            return -1;
        }
        m_holder |= uint32_t(*m_src++) << m_bits;
        m_bits += 8;
        --m_srcLeft;
    }
    int code = int(m_holder & 7);
    m_holder >>= 3;
    m_bits -= 3;
    return code;
}

unsigned long Cls_R2G723d24::Decode()
{
    unsigned long written = 0;
    while (m_dstLeft >= 2) {
        int code = GetCode();
        if (code < 0)
            return written;
        *m_dst++ = CodeDecToPcm16(code);
        m_dstLeft -= 2;
        written += 2;
    }
    dst_buf_full = 1;
    return written;
}

int16_t Cls_R2G723d24::CodeDecToPcm16(int code)
{
    code &= 7;
    const int16_t sezi = static_cast<int16_t>(PredictZero());
    const int16_t sez = sezi >> 1;
    const int16_t sei = static_cast<int16_t>(sezi + PredictPole());
    const int16_t se = sei >> 1;
    const int16_t y = static_cast<int16_t>(GetQtzStep());
    const int16_t dq = static_cast<int16_t>(Reconstruct(code & 4, kDqln[code], y));
    const int16_t sr = static_cast<int16_t>(dq < 0 ? se - (dq & 0x3FFF) : se + dq);
    const int16_t dqsez = static_cast<int16_t>(sr - se + sez);
    UpdtCalc(3, y, kWi[code], kFi[code], dq, sr, dqsez);
    return static_cast<int16_t>(sr * 4);
}

int Cls_R2G723d24::PredictZero() const
{
    int sum = 0;
    for (int i = 0; i < 6; ++i)
        sum += Fmult(m_state.b[i] >> 2, m_state.dq[i]);
    return sum;
}

int Cls_R2G723d24::PredictPole() const
{
    return Fmult(m_state.a[1] >> 2, m_state.sr[1]) + Fmult(m_state.a[0] >> 2, m_state.sr[0]);
}

int Cls_R2G723d24::GetQtzStep() const
{
    if (m_state.ap >= 256)
        return m_state.yu;
    int y = m_state.yl >> 6;
    int dif = m_state.yu - y;
    int al = m_state.ap >> 2;
    if (dif > 0)
        y += (dif * al) >> 6;
    else if (dif < 0)
        y += (dif * al + 0x3F) >> 6;
    return y;
}

int Cls_R2G723d24::Reconstruct(bool sign, int dqln, int y)
{
    int dql = dqln + (y >> 2);
    if (dql < 0)
        return sign ? -0x8000 : 0;
    int dex = (dql >> 7) & 15;
    int dqt = 128 + (dql & 127);
    int dq = (dqt << 7) >> (14 - dex);
    return sign ? dq - 0x8000 : dq;
}

int Cls_R2G723d24::Fmult(int an, int srn)
{
    int anmag = an > 0 ? an : ((-an) & 0x1FFF);
    int anexp = Exponent(anmag) - 6;
    int anmant = anmag == 0 ? 32 : anexp >= 0 ? anmag >> anexp : anmag << -anexp;
    int wanexp = anexp + ((srn >> 6) & 0xF) - 13;
    int wanmant = (anmant * (srn & 077) + 0x30) >> 4;
    int retval = wanexp >= 0 ? ((wanmant << wanexp) & 0x7FFF) : (wanmant >> -wanexp);
    return (an ^ srn) < 0 ? -retval : retval;
}

bool Cls_R2G723d24::DetectTransition(int mag) const
{
    if (m_state.td == 0)
        return false;
    int ylint = m_state.yl >> 15;
    int ylfrac = (m_state.yl >> 10) & 0x1F;
    int thr2 = ylint > 9 ? 31 << 10 : (32 + ylfrac) << ylint;
    int dqthr = (thr2 + (thr2 >> 1)) >> 1;
    return mag > dqthr;
}

void Cls_R2G723d24::AdaptScale(int y, int wi)
{
    int yu = y + ((wi - y) >> 5);
    yu = yu < 544 ? 544 : yu > 5120 ? 5120 : yu;
    m_state.yu = static_cast<int16_t>(yu);
    m_state.yl += yu + ((-m_state.yl) >> 6);
}

// Second-order pole update; answers the new a2 (needed by tone detection).
int Cls_R2G723d24::UpdatePoles(int pk0, int dqsez)
{
    g72x_state& s = m_state;
    const int pks1 = pk0 ^ s.pk[0];
    int a2p = static_cast<int16_t>(s.a[1] - (s.a[1] >> 7));
    if (dqsez != 0) {
        int fa1 = pks1 ? s.a[0] : -s.a[0];
        if (fa1 < -8191)
            a2p -= 0x100;
        else if (fa1 > 8191)
            a2p += 0xFF;
        else
            a2p += fa1 >> 5;
        if (pk0 ^ s.pk[1])
            a2p = a2p <= -12160 ? -12288 : a2p >= 12416 ? 12288 : a2p - 0x80;
        else
            a2p = a2p <= -12416 ? -12288 : a2p >= 12160 ? 12288 : a2p + 0x80;
        a2p = static_cast<int16_t>(a2p);
    }
    s.a[1] = static_cast<int16_t>(a2p);

    int a1 = s.a[0] - (s.a[0] >> 8);
    if (dqsez != 0)
        a1 += pks1 == 0 ? 192 : -192;
    a1 = static_cast<int16_t>(a1);
    const int a1ul = 15360 - a2p;
    a1 = a1 < -a1ul ? -a1ul : a1 > a1ul ? a1ul : a1;
    s.a[0] = static_cast<int16_t>(a1);
    return a2p;
}

void Cls_R2G723d24::UpdateZeros(int dq, int leakShift)
{
    for (int i = 0; i < 6; ++i) {
        int b = m_state.b[i] - (m_state.b[i] >> leakShift);
        if (dq & 0x7FFF)
            b += (dq ^ m_state.dq[i]) >= 0 ? 128 : -128;
        m_state.b[i] = static_cast<int16_t>(b);
    }
}

void Cls_R2G723d24::AdaptSpeed(bool tr, int y, int fi)
{
    g72x_state& s = m_state;
    s.dms = static_cast<int16_t>(s.dms + ((fi - s.dms) >> 5));
    s.dml = static_cast<int16_t>(s.dml + (((fi << 2) - s.dml) >> 7));
    int ap = s.ap;
    if (tr)
        ap = 256;
    else if (y < 1536 || s.td == 1 || std::abs((s.dms << 2) - s.dml) >= (s.dml >> 3))
        ap += (0x200 - ap) >> 4;
    else
        ap += (-ap) >> 4;
    s.ap = static_cast<int16_t>(ap);
}

void Cls_R2G723d24::UpdtCalc(int codeSize, int y, int wi, int fi, int dq, int sr, int dqsez)
{
    g72x_state& s = m_state;
    const int pk0 = dqsez < 0 ? 1 : 0;
    const int mag = dq & 0x7FFF;
    const bool tr = DetectTransition(mag);

    AdaptScale(y, wi);
    int a2p = 0;
    if (tr) {
        s.a[0] = s.a[1] = 0;
        for (int16_t& b : s.b)
            b = 0;
    } else {
        a2p = UpdatePoles(pk0, dqsez);
        UpdateZeros(dq, codeSize == 5 ? 9 : 8);
    }

    for (int i = 5; i > 0; --i)
        s.dq[i] = s.dq[i - 1];
    s.dq[0] = ToFloat(mag, dq < 0);

    s.sr[1] = s.sr[0];
    if (sr <= -32768)
        s.sr[0] = static_cast<int16_t>(0xFC20);
    else
        s.sr[0] = ToFloat(sr < 0 ? -sr : sr, sr < 0);

    s.pk[1] = s.pk[0];
    s.pk[0] = static_cast<int16_t>(pk0);
    s.td = (!tr && a2p < -11776) ? 1 : 0;
    AdaptSpeed(tr, y, fi);
}

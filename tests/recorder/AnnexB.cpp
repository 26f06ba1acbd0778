#include "recorder/AnnexB.h"

namespace testrec {

namespace {

// Length of a start code at i (3 or 4), 0 when none.
size_t startCodeAt(const uint8_t* d, size_t n, size_t i)
{
    if (i + 3 <= n && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1)
        return 3;
    if (i + 4 <= n && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 0 && d[i + 3] == 1)
        return 4;
    return 0;
}

}  // namespace

std::vector<Bytes> splitAnnexB(const uint8_t* d, size_t n)
{
    std::vector<Bytes> nals;
    size_t begin = SIZE_MAX;
    size_t i = 0;
    while (i < n) {
        const size_t sc = startCodeAt(d, n, i);
        if (sc == 0) {
            ++i;
            continue;
        }
        if (begin != SIZE_MAX)
            nals.emplace_back(d + begin, d + i);
        i += sc;
        begin = i;
    }
    if (begin != SIZE_MAX && begin < n)
        nals.emplace_back(d + begin, d + n);
    // Trailing zero bytes belong to the next start code, not to the unit.
    for (auto& nal : nals)
        while (!nal.empty() && nal.back() == 0)
            nal.pop_back();
    return nals;
}

Bytes joinAnnexB(const std::vector<Bytes>& nals)
{
    Bytes out;
    for (const auto& nal : nals) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

Bytes removeEmulationPrevention(const uint8_t* d, size_t n)
{
    Bytes out;
    out.reserve(n);
    int zeros = 0;
    for (size_t i = 0; i < n; ++i) {
        if (zeros >= 2 && d[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = d[i] == 0 ? zeros + 1 : 0;
        out.push_back(d[i]);
    }
    return out;
}

Bytes addEmulationPrevention(const Bytes& rbsp)
{
    Bytes out;
    out.reserve(rbsp.size() + rbsp.size() / 64 + 4);
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        out.push_back(b);
    }
    return out;
}

uint32_t BitReader::u(int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
        if (pos_ >= bits_) {
            overrun_ = true;
            return 0;
        }
        const uint8_t bit = (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        v = (v << 1) | bit;
        ++pos_;
    }
    return v;
}

uint32_t BitReader::ue()
{
    int zeros = 0;
    while (u(1) == 0) {
        if (!ok() || ++zeros > 31) {
            overrun_ = true;
            return 0;
        }
    }
    return zeros == 0 ? 0 : ((1u << zeros) - 1 + u(zeros));
}

int32_t BitReader::se()
{
    const uint32_t k = ue();
    return (k & 1) ? int32_t((k + 1) / 2) : -int32_t(k / 2);
}

void BitWriter::u(uint32_t value, int n)
{
    for (int i = n - 1; i >= 0; --i) {
        cur_ = (cur_ << 1) | ((value >> i) & 1);
        if (++used_ == 8) {
            out_.push_back(uint8_t(cur_));
            cur_ = 0;
            used_ = 0;
        }
    }
}

void BitWriter::ue(uint32_t value)
{
    const uint64_t v = uint64_t(value) + 1;
    int len = 0;
    while ((v >> len) > 1)
        ++len;
    u(0, len);
    u(uint32_t(v), len + 1);
}

void BitWriter::se(int32_t value) { ue(value > 0 ? uint32_t(2 * value - 1) : uint32_t(-2 * int64_t(value))); }

void BitWriter::copyBits(const uint8_t* data, size_t from, size_t to)
{
    for (size_t p = from; p < to; ++p)
        u((data[p / 8] >> (7 - p % 8)) & 1, 1);
}

Bytes BitWriter::finishRbsp()
{
    u(1, 1);
    while (used_ != 0)
        u(0, 1);
    return out_;
}

size_t rbspStopBit(const Bytes& rbsp)
{
    for (size_t i = rbsp.size(); i-- > 0;) {
        if (rbsp[i] == 0)
            continue;
        for (int b = 0; b < 8; ++b)
            if ((rbsp[i] >> b) & 1)
                return i * 8 + size_t(7 - b);
    }
    return SIZE_MAX;
}

}  // namespace testrec

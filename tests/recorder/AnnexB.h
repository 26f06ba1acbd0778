#pragma once
// H.264 byte-stream helpers: NAL unit splitting, emulation prevention and
// bit-level reading and writing of RBSP data.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recorder/Wire.h"

namespace testrec {

// NAL units of an Annex B stream, each without its start code.
std::vector<Bytes> splitAnnexB(const uint8_t* data, size_t n);
inline std::vector<Bytes> splitAnnexB(const Bytes& b) { return splitAnnexB(b.data(), b.size()); }

// Joins NAL units with 4-byte start codes.
Bytes joinAnnexB(const std::vector<Bytes>& nals);

inline int nalType(const Bytes& nal) { return nal.empty() ? -1 : (nal[0] & 0x1F); }

Bytes removeEmulationPrevention(const uint8_t* data, size_t n);
Bytes addEmulationPrevention(const Bytes& rbsp);

class BitReader {
public:
    BitReader(const uint8_t* data, size_t n) : data_(data), bits_(n * 8) {}

    uint32_t u(int n);
    bool flag() { return u(1) != 0; }
    uint32_t ue();
    int32_t se();
    size_t position() const { return pos_; }
    size_t size() const { return bits_; }
    bool ok() const { return !overrun_; }

private:
    const uint8_t* data_;
    size_t bits_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

class BitWriter {
public:
    void u(uint32_t value, int n);
    void flag(bool b) { u(b ? 1 : 0, 1); }
    void ue(uint32_t value);
    void se(int32_t value);
    // Copies bits [from, to) of a buffer.
    void copyBits(const uint8_t* data, size_t from, size_t to);
    // Stop bit and zero bits up to the byte boundary; answers the bytes.
    Bytes finishRbsp();

private:
    Bytes out_;
    uint32_t cur_ = 0;
    int used_ = 0;
};

// Position of the last 1 bit (the RBSP stop bit), or npos when none.
size_t rbspStopBit(const Bytes& rbsp);

}  // namespace testrec

#pragma once
// Test-side encoder of the second device's intra slice pictures, written from
// the format description alone: float DCT, the coefficient code table listed
// by run, and a float reconstruction of what a decoder must hold afterwards.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace intratest {

struct Planes {  // YUV 4:2:0, plane 0 Y, 1 Cb, 2 Cr
    int w, h;
    std::vector<uint8_t> p[3];
    Planes(int w_ = 640, int h_ = 224, int y = 0, int cb = 0, int cr = 0) : w(w_), h(h_)
    {
        p[0].assign(size_t(w * h), uint8_t(y));
        p[1].assign(size_t(w * h / 4), uint8_t(cb));
        p[2].assign(size_t(w * h / 4), uint8_t(cr));
    }
    uint8_t& at(int c, int x, int y) { return p[c][size_t(y * (c ? w / 2 : w) + x)]; }
    uint8_t at(int c, int x, int y) const { return p[c][size_t(y * (c ? w / 2 : w) + x)]; }
};

// Coefficient codes without the sign bit, by run, then level from 1.
inline const std::vector<std::vector<std::string>> kCodesByRun = {
    {"11", "0100", "00101", "0000110", "00100110", "00100001", "0000001010", "000000011101", "000000011000",
     "000000010011", "000000010000", "0000000011010", "0000000011001", "0000000011000", "0000000010111",
     "00000000011111", "00000000011110", "00000000011101", "00000000011100", "00000000011011", "00000000011010",
     "00000000011001", "00000000011000", "00000000010111", "00000000010110", "00000000010101", "00000000010100",
     "00000000010011", "00000000010010", "00000000010001", "00000000010000", "000000000011000",
     "000000000010111", "000000000010110", "000000000010101", "000000000010100", "000000000010011",
     "000000000010010", "000000000010001", "000000000010000"},
    {"011", "000110", "00100101", "0000001100", "000000011011", "0000000010110", "0000000010101",
     "000000000011111", "000000000011110", "000000000011101", "000000000011100", "000000000011011",
     "000000000011010", "000000000011001", "0000000000010011", "0000000000010010", "0000000000010001",
     "0000000000010000"},
    {"0101", "0000100", "0000001011", "000000010100", "0000000010100"},
    {"00111", "00100100", "000000011100", "0000000010011"},
    {"00110", "0000001111", "000000010010"},
    {"000111", "0000001001", "0000000010010"},
    {"000101", "000000011110", "0000000000010100"},
    {"000100", "000000010101"}, {"0000111", "000000010001"}, {"0000101", "0000000010001"},
    {"00100111", "0000000010000"}, {"00100011", "0000000000011010"}, {"00100010", "0000000000011001"},
    {"00100000", "0000000000011000"}, {"0000001110", "0000000000010111"}, {"0000001101", "0000000000010110"},
    {"0000001000", "0000000000010101"}, {"000000011111"}, {"000000011010"}, {"000000011001"}, {"000000010111"},
    {"000000010110"}, {"0000000011111"}, {"0000000011110"}, {"0000000011101"}, {"0000000011100"},
    {"0000000011011"}, {"0000000000011111"}, {"0000000000011110"}, {"0000000000011101"},
    {"0000000000011100"}, {"0000000000011011"},
};

inline const int kMatrix[64] = {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
                                19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
                                22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
                                26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

struct Encoder {
    int q = 2;
    int forceLevel = 0;  // nonzero: every AC coefficient gets this level, signs alternating
    bool reverseSlices = false;
    int escapes = 0, longEscapes = 0;
    Planes recon;  // what a decoder holds after the pictures so far

    // Type 1 codes every macroblock; type 0 only those in mbs (row * 40 +
    // column), with the luma blocks of lumaMask (bit i = block i).
    std::vector<uint8_t> encode(const Planes& src, int type, const std::set<int>& mbs = {}, unsigned lumaMask = 15)
    {
        if (recon.w != src.w || recon.h != src.h)
            recon = Planes(src.w, src.h);
        out = {0, 0, 1, 0xF8, uint8_t(type << 7 | q << 3), 0xFF, 0x12, 0x34};
        const int rows = src.h / 16;
        for (int k = 0; k < rows; ++k) {
            const int row = reverseSlices ? rows - 1 - k : k;
            bits = 0;
            put(0x000001, 24);
            put(unsigned(row), 5);
            int next = 0;
            for (int col = 0; col < src.w / 16; ++col) {
                if (type == 0 && !mbs.count(row * 40 + col))
                    continue;
                if (type == 0) {
                    put(unsigned(col - next + 1), 6);
                    for (int b = 3; b >= 0; --b)  // flags of blocks 3, 2, 1, 0
                        put(lumaMask >> b & 1, 1);
                }
                next = col + 1;
                for (int b = 0; b < 6; ++b)
                    if (type == 1 || b > 3 || (lumaMask >> b & 1))
                        block(src, b < 4 ? 0 : b - 3, b < 4 ? col * 16 + 8 * (b & 1) : col * 8,
                              b < 4 ? row * 16 + 8 * (b >> 1) : row * 8);
            }
            if (type == 0)
                put(0, 6);
            while (bits % 8)
                put(0, 1);
        }
        return out;
    }

private:
    std::vector<uint8_t> out;
    long bits = 0;

    void put(unsigned v, int n)
    {
        for (int i = n - 1; i >= 0; --i, ++bits) {
            if (bits % 8 == 0)
                out.push_back(0);
            out.back() |= uint8_t((v >> i & 1) << (7 - bits % 8));
        }
    }
    // Orthonormal 8x8 DCT (or its inverse), rows then columns.
    static void dct(const double* in, double* out, bool inverse)
    {
        static double b[8][8];  // b[k][x]
        for (int k = 0; k < 64; ++k)
            b[k / 8][k % 8] = (k < 8 ? std::sqrt(0.125) : 0.5) * std::cos((2 * (k % 8) + 1) * (k / 8) * M_PI / 16);
        double t[64] = {};
        for (int i = 0; i < 512; ++i) {
            const int r = i / 64, c = i / 8 % 8, k = i % 8;
            t[r * 8 + c] += in[r * 8 + k] * (inverse ? b[k][c] : b[c][k]);
        }
        std::fill_n(out, 64, 0.0);
        for (int i = 0; i < 512; ++i) {
            const int r = i / 64, c = i / 8 % 8, k = i % 8;
            out[r * 8 + c] += (inverse ? b[k][r] : b[r][k]) * t[k * 8 + c];
        }
    }

    void block(const Planes& src, int c, int x0, int y0)
    {
        double px[64], f[64], g[64] = {};
        for (int j = 0; j < 64; ++j)
            px[j] = src.at(c, x0 + j % 8, y0 + j / 8);
        dct(px, f, false);
        const int dc = std::clamp(int(std::lround(f[0] / 8)), 0, 255);
        put(unsigned(dc), 8);
        g[0] = dc * 8;
        int run = 0, sign = 1;
        for (int d = 0; d < 15; ++d)  // zigzag: diagonals, alternating direction
            for (int t = 0; t <= d; ++t) {
                const int r = d & 1 ? t : d - t, col = d - r, i = r * 8 + col;
                if (r > 7 || col > 7 || i == 0)
                    continue;
                int l = forceLevel ? (sign = -sign) * forceLevel : int(std::lround(f[i] * 4 / (q * kMatrix[i])));
                l = std::clamp(l, -256, 255);
                if (l == 0) {
                    ++run;
                    continue;
                }
                coefficient(run, l);
                const int mag = std::abs(l) * q * kMatrix[i] >> 2;
                g[i] = l > 0 ? std::min(mag, 2047) : -std::min(mag, 2048);
                run = 0;
            }
        put(0b10, 2);  // end of block
        dct(g, px, true);
        for (int j = 0; j < 64; ++j)
            recon.at(c, x0 + j % 8, y0 + j / 8) = uint8_t(std::clamp(std::lround(px[j]), 0L, 255L));
    }

    void coefficient(int run, int l)
    {
        if (run < int(kCodesByRun.size()) && std::abs(l) <= int(kCodesByRun[size_t(run)].size())) {
            for (char ch : kCodesByRun[size_t(run)][size_t(std::abs(l) - 1)])
                put(unsigned(ch - '0'), 1);
            put(l < 0, 1);
            return;
        }
        ++escapes;
        put(1, 6);
        put(unsigned(run), 6);
        if (l >= 128 || l <= -128) {
            ++longEscapes;
            put(l > 0 ? 0x00 : 0x80, 8);
            put(unsigned(l > 0 ? l : l + 256), 8);
        } else {
            put(unsigned(l) & 0xFF, 8);
        }
    }
};

}  // namespace intratest

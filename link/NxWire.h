#pragma once
// Recorder protocol constants and byte helpers shared by the link's files.
#include <cstdint>

namespace nxwire {

inline constexpr uint32_t kHeadV1 = 0x0000ADC2;
inline constexpr uint32_t kHeadV2 = 0x0000ADC3;
inline constexpr uint32_t kTailV1 = 0x000001B4;
inline constexpr uint32_t kTailV2 = 0x4E454E44;  // "NEND"
inline constexpr uint32_t kCodeF3 = 0x000001F3;
inline constexpr uint32_t kCodeF5 = 0x000001F5;
inline constexpr uint32_t kCodeNDAV = 0x4E444156;  // "NDAV"
inline constexpr uint32_t kCodeNDAv = 0x4E444176;  // "NDAv"
inline constexpr uint32_t kCodeBADJ = 0x4241444A;  // "BADJ"
inline constexpr uint32_t kCodeNDAg = 0x4E444160;  // "NDA`"
inline constexpr uint32_t kCodeNDAp = 0x4E444170;  // "NDAp"
inline constexpr int kFrameSizeMax = 4194268;
inline constexpr uint8_t kLoginSalt[8] = {0x05, 0x01, 0x0C, 0x09, 0x03, 0x0E, 0x04, 0x07};
inline constexpr uint8_t kXorMask[] = "KJVQKJVQKJVQKJVQ";

inline uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
inline uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t le32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }
inline uint16_t le16(const uint8_t* p) { return uint16_t(p[1] << 8 | p[0]); }
inline void put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

}  // namespace nxwire

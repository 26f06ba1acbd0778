#pragma once
// Login digests and key-frame scrambling, on OpenSSL.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "recorder/Wire.h"

namespace testrec {

inline constexpr uint8_t kLoginSalt[8] = {0x05, 0x01, 0x0C, 0x09, 0x03, 0x0E, 0x04, 0x07};
inline constexpr char kXorMask[] = "KJVQKJVQKJVQKJVQ";
inline constexpr char kAesKey[] = "ZEPHYRPLUMKEY728";
inline constexpr uint8_t kAesIv[16] = {0x5e, 0x2a, 0x91, 0xc4, 0xd0, 0x7b, 0x36, 0xf8,
                                       0xa1, 0xe9, 0x4c, 0x0d, 0x7b, 0x25, 0xf3, 0x6a};

// SHA-256 of the salt followed by the text's bytes.
std::array<uint8_t, 32> saltedDigest(const std::string& text);

// AES-128-CBC without padding under the fixed key and vector; n must be a
// multiple of 16. Answers false on failure.
bool aesEncrypt(const uint8_t* in, size_t n, uint8_t* out);
bool aesDecrypt(const uint8_t* in, size_t n, uint8_t* out);

// Scrambles the first 64 coded bytes of a key frame in place: AES for model
// groups 11 and 12, the XOR mask for the others. Fewer than 64 bytes are
// padded with zeros first.
bool scrambleKeyFrame(Bytes& coded, int group);

}  // namespace testrec

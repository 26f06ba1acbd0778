#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Thin wrappers over OpenSSL libcrypto.
namespace Crypto {

std::array<uint8_t, 32> sha256(const uint8_t* data, size_t len);

// AES-128-CBC over one buffer. iv may be null for a zero vector. Without
// padding the input must be a multiple of 16 bytes. Empty optional on failure.
std::optional<std::vector<uint8_t>> aes128cbc(bool encrypt, bool pkcs7Padding, const uint8_t key[16],
                                              const uint8_t* iv, const uint8_t* in, size_t len);

}  // namespace Crypto

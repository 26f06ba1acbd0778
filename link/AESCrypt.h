#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// AES and Base64 helpers on byte buffers and strings. The cipher is always
// AES-128-CBC: the key string's first 16 UTF-8 bytes, zero-padded.
namespace AESCrypt {

// The one key string the client uses (site book, key-frame unscrambling).
inline constexpr std::string_view kFixedKey = "ZEPHYRPLUMKEY728";
// Vector of the "WithVector" variants.
inline constexpr std::array<uint8_t, 16> AES_IV = {0x5e, 0x2a, 0x91, 0xc4, 0xd0, 0x7b, 0x36, 0xf8,
                                                   0xa1, 0xe9, 0x4c, 0x0d, 0x7b, 0x25, 0xf3, 0x6a};

using Bytes = std::vector<uint8_t>;

// PKCS#7 padding, zero vector. Empty optional on failure (including a key
// longer than 16 bytes).
std::optional<Bytes> AES256EncryptWithKey(std::span<const uint8_t> data, std::string_view key);
std::optional<Bytes> AES256DecryptWithKey(std::span<const uint8_t> data, std::string_view key);
// No padding, AES_IV: the input must be a multiple of 16 bytes.
std::optional<Bytes> AES256EncryptWithVectorWithKey(std::span<const uint8_t> data, std::string_view key);
std::optional<Bytes> AES256DecryptWithVectorWithKey(std::span<const uint8_t> data, std::string_view key);

// Standard alphabet with "=" padding; lineLength 0 means no line breaks,
// otherwise "\n" after every group that brings the line to lineLength or more.
std::string base64Encoding(std::span<const uint8_t> data);
std::string base64EncodingWithLineLength(std::span<const uint8_t> data, unsigned lineLength);
// Lenient decoding: bytes outside the alphabet are skipped, "=" ends the
// text, an unfinished group without "=" is dropped.
Bytes dataWithBase64EncodedString(std::string_view text);

// The text's bytes enciphered with the key, as Base64; empty on failure.
std::string AES256EncryptWithKey(const std::string& text, std::string_view key);
// Base64 text deciphered with the key; empty when deciphering fails.
std::string AES256DecryptWithKey(const std::string& text, std::string_view key);

}  // namespace AESCrypt

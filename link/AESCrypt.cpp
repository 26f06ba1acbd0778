#include "link/AESCrypt.h"

#include <algorithm>
#include <cstring>

#include "platform/Crypto.h"

namespace AESCrypt {

namespace {

constexpr char kEncodingTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The first 16 bytes of a zero-filled key buffer; keys that do not fit are
// refused rather than cut or replaced.
std::optional<std::array<uint8_t, 16>> keyBytes(std::string_view key)
{
    std::array<uint8_t, 16> k{};
    if (key.size() > k.size())
        return std::nullopt;
    std::memcpy(k.data(), key.data(), key.size());
    return k;
}

std::optional<Bytes> crypt(bool encrypt, bool withVector, std::span<const uint8_t> data, std::string_view key)
{
    const auto k = keyBytes(key);
    if (!k)
        return std::nullopt;
    const uint8_t* iv = withVector ? AES_IV.data() : nullptr;
    return Crypto::aes128cbc(encrypt, !withVector, k->data(), iv, data.data(), data.size());
}

// Alphabet value of a byte; -1 for "=" and -2 for bytes to skip.
int decodeValue(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return c == '=' ? -1 : -2;
}

// Appends the first `bytes` bytes that four 6-bit values make.
void appendGroup(Bytes& out, const int v[4], int bytes)
{
    const uint32_t n = uint32_t(v[0]) << 18 | uint32_t(v[1]) << 12 | uint32_t(v[2]) << 6 | uint32_t(v[3]);
    const uint8_t b[3] = {uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    out.insert(out.end(), b, b + bytes);
}

}  // namespace

std::optional<Bytes> AES256EncryptWithKey(std::span<const uint8_t> data, std::string_view key)
{
    return crypt(true, false, data, key);
}

std::optional<Bytes> AES256DecryptWithKey(std::span<const uint8_t> data, std::string_view key)
{
    return crypt(false, false, data, key);
}

std::optional<Bytes> AES256EncryptWithVectorWithKey(std::span<const uint8_t> data, std::string_view key)
{
    return crypt(true, true, data, key);
}

std::optional<Bytes> AES256DecryptWithVectorWithKey(std::span<const uint8_t> data, std::string_view key)
{
    return crypt(false, true, data, key);
}

std::string base64Encoding(std::span<const uint8_t> data)
{
    return base64EncodingWithLineLength(data, 0);
}

std::string base64EncodingWithLineLength(std::span<const uint8_t> data, unsigned lineLength)
{
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4 + (lineLength ? data.size() / 3 + 1 : 0));
    unsigned onLine = 0;
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t n = std::min<size_t>(3, data.size() - i);
        const uint32_t g = uint32_t(data[i]) << 16 | (n > 1 ? uint32_t(data[i + 1]) << 8 : 0u) |
                           (n > 2 ? uint32_t(data[i + 2]) : 0u);
        out += kEncodingTable[g >> 18 & 63];
        out += kEncodingTable[g >> 12 & 63];
        out += n > 1 ? kEncodingTable[g >> 6 & 63] : '=';
        out += n > 2 ? kEncodingTable[g & 63] : '=';
        onLine += 4;
        if (lineLength != 0 && onLine >= lineLength) {
            out += '\n';
            onLine = 0;
        }
    }
    return out;
}

Bytes dataWithBase64EncodedString(std::string_view text)
{
    Bytes out;
    out.reserve(text.size() / 4 * 3 + 2);
    int v[4] = {};
    int pending = 0;
    for (unsigned char c : text) {
        const int value = decodeValue(c);
        if (value == -2)
            continue;
        if (value == -1) {
            if (pending > 0) {
                for (int i = pending; i < 4; ++i)
                    v[i] = 0;
                appendGroup(out, v, pending == 3 ? 2 : 1);
            }
            return out;
        }
        v[pending++] = value;
        if (pending == 4) {
            appendGroup(out, v, 3);
            pending = 0;
        }
    }
    return out;
}

std::string AES256EncryptWithKey(const std::string& text, std::string_view key)
{
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const auto enc = AES256EncryptWithKey(std::span<const uint8_t>(p, text.size()), key);
    return enc ? base64Encoding(*enc) : std::string();
}

std::string AES256DecryptWithKey(const std::string& text, std::string_view key)
{
    const Bytes data = dataWithBase64EncodedString(text);
    const auto dec = AES256DecryptWithKey(std::span<const uint8_t>(data), key);
    return dec ? std::string(dec->begin(), dec->end()) : std::string();
}

}  // namespace AESCrypt

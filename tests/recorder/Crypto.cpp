#include "recorder/Crypto.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace testrec {

std::array<uint8_t, 32> saltedDigest(const std::string& text)
{
    std::array<uint8_t, 32> out{};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    unsigned int len = 0;
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return out;
    EVP_DigestUpdate(ctx.get(), kLoginSalt, sizeof kLoginSalt);
    EVP_DigestUpdate(ctx.get(), text.data(), text.size());
    EVP_DigestFinal_ex(ctx.get(), out.data(), &len);
    return out;
}

static bool aesRun(const uint8_t* in, size_t n, uint8_t* out, bool encrypt)
{
    if (n % 16 != 0)
        return false;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx)
        return false;
    const auto* key = reinterpret_cast<const unsigned char*>(kAesKey);
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key, kAesIv, encrypt ? 1 : 0) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    int len = 0, tail = 0;
    if (EVP_CipherUpdate(ctx.get(), out, &len, in, int(n)) != 1)
        return false;
    if (EVP_CipherFinal_ex(ctx.get(), out + len, &tail) != 1)
        return false;
    return size_t(len + tail) == n;
}

bool aesEncrypt(const uint8_t* in, size_t n, uint8_t* out) { return aesRun(in, n, out, true); }

bool aesDecrypt(const uint8_t* in, size_t n, uint8_t* out) { return aesRun(in, n, out, false); }

bool scrambleKeyFrame(Bytes& coded, int group)
{
    if (coded.size() < 64)
        coded.resize(64, 0);
    if (group == 11 || group == 12) {
        uint8_t out[64];
        if (!aesEncrypt(coded.data(), 64, out))
            return false;
        std::copy(out, out + 64, coded.begin());
        return true;
    }
    for (size_t i = 0; i < 64; ++i)
        coded[i] ^= uint8_t(kXorMask[i % 16]);
    return true;
}

}  // namespace testrec

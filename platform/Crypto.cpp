#include "platform/Crypto.h"

#include <openssl/evp.h>

#include <memory>

namespace Crypto {

std::array<uint8_t, 32> sha256(const uint8_t* data, size_t len)
{
    std::array<uint8_t, 32> out{};
    unsigned outLen = 0;
    EVP_Digest(data, len, out.data(), &outLen, EVP_sha256(), nullptr);
    return out;
}

std::optional<std::vector<uint8_t>> aes128cbc(bool encrypt, bool pkcs7Padding, const uint8_t key[16],
                                              const uint8_t* iv, const uint8_t* in, size_t len)
{
    static const uint8_t kZeroIv[16] = {};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                         EVP_CIPHER_CTX_free);
    if (!ctx || len > size_t(INT32_MAX) - 32)
        return std::nullopt;
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key, iv ? iv : kZeroIv, encrypt ? 1 : 0) != 1)
        return std::nullopt;
    EVP_CIPHER_CTX_set_padding(ctx.get(), pkcs7Padding ? 1 : 0);
    std::vector<uint8_t> out(len + 16);
    int n1 = 0;
    int n2 = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &n1, in, int(len)) != 1)
        return std::nullopt;
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + n1, &n2) != 1)
        return std::nullopt;
    out.resize(size_t(n1 + n2));
    return out;
}

}  // namespace Crypto

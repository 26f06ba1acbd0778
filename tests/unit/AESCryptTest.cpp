#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "link/AESCrypt.h"

namespace {

using namespace AESCrypt;

Bytes bytesOf(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes fromHex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(AESCrypt, PaddedVariantsUseZeroVectorAndPkcs7)
{
    const auto empty = AES256EncryptWithKey(Bytes{}, kFixedKey);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 16u);
    const auto back = AES256DecryptWithKey(*empty, kFixedKey);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->empty());

    const auto block = AES256EncryptWithKey(Bytes(16, 0), kFixedKey);
    ASSERT_TRUE(block);
    EXPECT_EQ(*block, fromHex("6fb13e39a59e6a78711eb8fa512f596cd4c8f6762529d7e7dc2b4aa43694c70b"));

    // Not a whole number of blocks: the cipher refuses.
    EXPECT_FALSE(AES256DecryptWithKey(Bytes(15, 1), kFixedKey));
}

TEST(AESCrypt, VectorVariantsUseFixedVectorWithoutPadding)
{
    const Bytes zeros(64, 0);
    const auto enc = AES256EncryptWithVectorWithKey(zeros, kFixedKey);
    ASSERT_TRUE(enc);
    EXPECT_EQ(*enc, fromHex("44badcb607470b8555b684a1a8d9ef48b704a5252b3bfe3ecd6ff9551205ed04"
                            "8509f4e46fb019a151f6aaf15beeb03f99851f189a172417c076e098b16be760"));
    const auto dec = AES256DecryptWithVectorWithKey(*enc, kFixedKey);
    ASSERT_TRUE(dec);
    EXPECT_EQ(*dec, zeros);

    const auto any64 = AES256DecryptWithVectorWithKey(Bytes(64, 0xA5), kFixedKey);
    ASSERT_TRUE(any64);
    EXPECT_EQ(any64->size(), 64u);
    EXPECT_FALSE(AES256DecryptWithVectorWithKey(Bytes(63, 0xA5), kFixedKey));
    EXPECT_FALSE(AES256EncryptWithVectorWithKey(Bytes(17, 0), kFixedKey));
}

TEST(AESCrypt, KeyIsZeroPaddedAndLongKeysRefused)
{
    // "abc" stands for the 16-byte key 61 62 63 00 ... 00.
    const auto enc = AES256EncryptWithKey(bytesOf("hello"), "abc");
    ASSERT_TRUE(enc);
    EXPECT_EQ(base64Encoding(*enc), "d1QG4T2tivoi0Kiu3NEmZQ==");
    EXPECT_FALSE(AES256EncryptWithKey(bytesOf("hello"), "ZEPHYRPLUMKEY7281"));
    EXPECT_FALSE(AES256DecryptWithVectorWithKey(Bytes(64, 0), "ZEPHYRPLUMKEY7281"));
    EXPECT_EQ(AES256EncryptWithKey(std::string("hello"), "ZEPHYRPLUMKEY7281"), "");
}

TEST(AESCrypt, StringWrappers)
{
    EXPECT_EQ(AES256EncryptWithKey(std::string("admin"), kFixedKey), "0wthgNlQ0UmJHZK8RKEk8w==");
    EXPECT_EQ(AES256DecryptWithKey(std::string("0wthgNlQ0UmJHZK8RKEk8w=="), kFixedKey), "admin");
    for (const std::string text : {"", "1234", "a password of more than sixteen bytes", "P\xC3\xA4sswort \xE6\x97\xA5"}) {
        const std::string enc = AES256EncryptWithKey(text, kFixedKey);
        EXPECT_FALSE(enc.empty());
        EXPECT_EQ(AES256DecryptWithKey(enc, kFixedKey), text);
    }
    // Undecipherable input gives an empty string.
    EXPECT_EQ(AES256DecryptWithKey(std::string("not base64 at all!"), kFixedKey), "");
    EXPECT_EQ(AES256DecryptWithKey(std::string("YWJj"), kFixedKey), "");
    EXPECT_EQ(AES256DecryptWithKey(std::string(""), kFixedKey), "");
}

TEST(Base64, Encoding)
{
    EXPECT_EQ(base64Encoding(bytesOf("")), "");
    EXPECT_EQ(base64Encoding(bytesOf("a")), "YQ==");
    EXPECT_EQ(base64Encoding(bytesOf("ab")), "YWI=");
    EXPECT_EQ(base64Encoding(bytesOf("abc")), "YWJj");
    EXPECT_EQ(base64Encoding(Bytes{0xFB, 0xFF, 0xBF}), "+/+/");
    EXPECT_EQ(base64EncodingWithLineLength(bytesOf("abcdef"), 4), "YWJj\nZGVm\n");
    EXPECT_EQ(base64EncodingWithLineLength(bytesOf("abcdef"), 6), "YWJjZGVm\n");
    EXPECT_EQ(base64EncodingWithLineLength(bytesOf("abcdefg"), 8), "YWJjZGVm\nZw==");
    EXPECT_EQ(base64EncodingWithLineLength(bytesOf("abcdef"), 0), "YWJjZGVm");
}

TEST(Base64, LenientDecoding)
{
    EXPECT_EQ(dataWithBase64EncodedString("YWJj"), bytesOf("abc"));
    EXPECT_EQ(dataWithBase64EncodedString("YW Jj"), bytesOf("abc"));
    EXPECT_EQ(dataWithBase64EncodedString("Y\r\nW\tJ-j\xC3\xA9"), bytesOf("abc"));
    EXPECT_EQ(dataWithBase64EncodedString("YWI="), bytesOf("ab"));
    EXPECT_EQ(dataWithBase64EncodedString("YQ=="), bytesOf("a"));
    EXPECT_EQ(dataWithBase64EncodedString("YWJjZA"), bytesOf("abc"));  // unfinished group dropped
    EXPECT_EQ(dataWithBase64EncodedString("YQ==YWJj"), bytesOf("a"));  // "=" ends the text
    EXPECT_EQ(dataWithBase64EncodedString("YWJj="), bytesOf("abc"));
    EXPECT_EQ(dataWithBase64EncodedString("Y="), Bytes{0x60});  // one value: one byte, missing bits 0
    EXPECT_EQ(dataWithBase64EncodedString(""), Bytes{});
    EXPECT_EQ(dataWithBase64EncodedString("!!!"), Bytes{});
    EXPECT_EQ(dataWithBase64EncodedString("+/+/"), (Bytes{0xFB, 0xFF, 0xBF}));
}

TEST(Base64, RoundTripWithLineBreaks)
{
    std::mt19937 rng(3);
    for (size_t n = 0; n < 200; n += 7) {
        Bytes data(n);
        for (auto& b : data)
            b = uint8_t(rng());
        EXPECT_EQ(dataWithBase64EncodedString(base64EncodingWithLineLength(data, 76)), data) << n;
        EXPECT_EQ(dataWithBase64EncodedString(base64Encoding(data)), data) << n;
    }
}

}  // namespace

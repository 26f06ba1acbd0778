#include "device/DeviceWire.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

namespace testdev {

namespace {

void appendHex(Bytes& out, unsigned v, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, v);
    out.insert(out.end(), text, text + digits);
}

// Most significant bit first.
class BitWriter {
public:
    void put(uint32_t v, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            cur_ = uint8_t(cur_ << 1 | ((v >> i) & 1));
            if (++bits_ == 8)
                flush();
        }
    }
    void align()
    {
        while (bits_ != 0)
            put(0, 1);
    }
    Bytes& bytes() { return out_; }

private:
    void flush()
    {
        out_.push_back(cur_);
        cur_ = 0;
        bits_ = 0;
    }
    Bytes out_;
    uint8_t cur_ = 0;
    int bits_ = 0;
};

int clampByte(int v) { return v > 255 ? 255 : (v < 0 ? 1 : v); }

}  // namespace

Bytes message(uint16_t code, const Bytes& params)
{
    Bytes m(kCommandCode, kCommandCode + 4);
    appendHex(m, unsigned(12 + params.size()), 4);
    appendHex(m, code, 4);
    m.insert(m.end(), params.begin(), params.end());
    return m;
}

int hexWord(const uint8_t* p)
{
    int v = 0;
    for (int i = 0; i < 4; ++i) {
        char c = char(p[i]);
        int d = c >= '0' && c <= '9' ? c - '0' : (c >= 'A' && c <= 'F' ? c - 'A' + 10 : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1));
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

std::string md5Upper(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(text.data(), text.size(), digest, &n, EVP_md5(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", digest[i]);
        hex += two;
    }
    return hex;
}

Bytes expectedLogin(const std::string& password, const std::string& webCode)
{
    std::string params = md5Upper(password) + md5Upper(webCode.empty() ? kDefaultWebCode : webCode);
    return message(kLogin, Bytes(params.begin(), params.end()));
}

Bytes flatPicture(uint8_t y, uint8_t cb, uint8_t cr, int slices, uint16_t stamp)
{
    const int quantiser = 8;
    Bytes pic = {0x00, 0x00, 0x01, 0xF8, uint8_t(0x80 | quantiser << 3), 0xFF, uint8_t(stamp >> 8), uint8_t(stamp)};
    BitWriter w;
    for (int row = 0; row < slices; ++row) {
        w.align();
        w.put(0x000001, 24);
        w.put(uint32_t(row), 5);
        for (int mb = 0; mb < 640 / 16; ++mb) {
            for (int block = 0; block < 6; ++block) {
                w.put(block < 4 ? y : (block == 4 ? cb : cr), 8);  // DC value
                w.put(0x2, 2);                                      // end of block
            }
        }
    }
    w.align();
    pic.insert(pic.end(), w.bytes().begin(), w.bytes().end());
    return pic;
}

Bytes garbledPicture(int slices)
{
    Bytes pic = {0x00, 0x00, 0x01, 0xF8, uint8_t(0x80 | 8 << 3), 0xFF, 0x12, 0x34};
    for (int row = 0; row < slices; ++row) {
        pic.insert(pic.end(), {0x00, 0x00, 0x01});
        pic.insert(pic.end(), 256, 0xFF);
    }
    return pic;
}

Bgr flatColour(uint8_t y, uint8_t cb, uint8_t cr)
{
    int u = cb - 128;
    int v = cr - 128;
    int yy = 1024 * y;
    return {clampByte((yy + 1815 * u) >> 10), clampByte((yy - 352 * u - 731 * v) >> 10), clampByte((yy + 1436 * v) >> 10)};
}

}  // namespace testdev

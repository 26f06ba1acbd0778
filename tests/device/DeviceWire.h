#pragma once
// Byte packing for the second device's side of its protocol: ASCII-hex
// command messages, the login digests and intra-coded test pictures.

#include <cstdint>
#include <string>
#include <vector>

namespace testdev {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kCommandCode[4] = {0x00, 0x00, 0x01, 0xFE};
inline constexpr const char* kDefaultWebCode = "QOLVENTRAMIDECAF";

// Message codes.
enum : uint16_t {
    kHello = 1,      // connection accepted, model text from byte 26
    kLoginOk = 3,
    kLoginRefused = 4,
    kSearchMode = 14,
    kPointerInfo = 15,
    kMaxUser = 17,
    kLogin = 0x81,
    kKey = 0x85,
    kPointer = 0x88,
};

// 00 00 01 FE, total length and code as four upper-case hex characters,
// then params.
Bytes message(uint16_t code, const Bytes& params = {});
// Length or code word of a message; -1 when not four hex characters.
int hexWord(const uint8_t* p);

std::string md5Upper(const std::string& text);

// Login message the device expects for a password and web code.
Bytes expectedLogin(const std::string& password, const std::string& webCode);

// A picture of the intra slice format, every macroblock coded with flat
// blocks: 640x224 (14 slices) or 640x272 (17), starting 00 00 01 F8.
Bytes flatPicture(uint8_t y, uint8_t cb, uint8_t cr, int slices = 14, uint16_t stamp = 0x1234);

// A picture of the same frame, header and slice count whose slices hold
// garbage (a slice row past the picture): the decoder refuses it.
Bytes garbledPicture(int slices = 14);

// The BGR a flat picture decodes to.
struct Bgr {
    int b, g, r;
};
Bgr flatColour(uint8_t y, uint8_t cb, uint8_t cr);

}  // namespace testdev

#pragma once
// Byte packing for the recorder side of the protocol: little/big-endian
// helpers and the two command frame formats.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testrec {

using Bytes = std::vector<uint8_t>;

// Command frame format: V1 (00 00 AD C2, every byte followed by FF,
// tail 00 00 01 B4) or V2 (00 00 AD C3, 32-bit id, raw payload, "NEND").
enum class CmdFormat { V1, V2 };

inline constexpr uint8_t kHeadV1[4] = {0x00, 0x00, 0xAD, 0xC2};
inline constexpr uint8_t kHeadV2[4] = {0x00, 0x00, 0xAD, 0xC3};
inline constexpr uint8_t kTailV1[4] = {0x00, 0x00, 0x01, 0xB4};
inline constexpr uint8_t kTailV2[4] = {'N', 'E', 'N', 'D'};

void appendLe16(Bytes& out, uint16_t v);
void appendLe32(Bytes& out, uint32_t v);
void appendBytes(Bytes& out, const void* data, size_t n);

// Writers at a fixed offset; the buffer grows when too short.
void setU8(Bytes& out, size_t off, uint8_t v);
void setLe16(Bytes& out, size_t off, uint16_t v);
void setLe32(Bytes& out, size_t off, uint32_t v);
void setBe16(Bytes& out, size_t off, uint16_t v);
void setBe32(Bytes& out, size_t off, uint32_t v);

uint16_t getLe16(const uint8_t* p);
uint32_t getLe32(const uint8_t* p);
uint16_t getBe16(const uint8_t* p);
uint32_t getBe32(const uint8_t* p);

// Reads from a buffer; 0 when the field lies beyond its end.
uint16_t readLe16(const Bytes& b, size_t off);
uint32_t readLe32(const Bytes& b, size_t off);

// Builds one command frame. In V1 only the low 16 bits of the id are sent.
Bytes buildCommandFrame(uint32_t id, const Bytes& payload, CmdFormat format);

// Text as bytes (no terminator) and hexadecimal dump for messages.
Bytes bytesOf(const std::string& s);
std::string hexDump(const uint8_t* p, size_t n, size_t limit = 64);

// Calendar conversion with wall-clock fields counted as UTC (seconds since 1970).
uint32_t civilToTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
struct Civil {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
Civil timeToCivil(uint32_t t);

inline constexpr uint32_t kSeconds2008 = 1199145600u;  // 2008-01-01 00:00:00

}  // namespace testrec

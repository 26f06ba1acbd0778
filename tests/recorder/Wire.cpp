#include "recorder/Wire.h"

#include <cstdio>

namespace testrec {

void appendLe16(Bytes& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void appendLe32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

void appendBytes(Bytes& out, const void* data, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + n);
}

static void ensure(Bytes& out, size_t size)
{
    if (out.size() < size)
        out.resize(size, 0);
}

void setU8(Bytes& out, size_t off, uint8_t v)
{
    ensure(out, off + 1);
    out[off] = v;
}

void setLe16(Bytes& out, size_t off, uint16_t v)
{
    ensure(out, off + 2);
    out[off] = uint8_t(v);
    out[off + 1] = uint8_t(v >> 8);
}

void setLe32(Bytes& out, size_t off, uint32_t v)
{
    ensure(out, off + 4);
    for (int i = 0; i < 4; ++i)
        out[off + i] = uint8_t(v >> (8 * i));
}

void setBe16(Bytes& out, size_t off, uint16_t v)
{
    ensure(out, off + 2);
    out[off] = uint8_t(v >> 8);
    out[off + 1] = uint8_t(v);
}

void setBe32(Bytes& out, size_t off, uint32_t v)
{
    ensure(out, off + 4);
    for (int i = 0; i < 4; ++i)
        out[off + i] = uint8_t(v >> (24 - 8 * i));
}

uint16_t getLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t getLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

uint16_t getBe16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

uint32_t getBe32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint16_t readLe16(const Bytes& b, size_t off) { return off + 2 <= b.size() ? getLe16(b.data() + off) : 0; }

uint32_t readLe32(const Bytes& b, size_t off) { return off + 4 <= b.size() ? getLe32(b.data() + off) : 0; }

static Bytes buildV1(uint32_t id, const Bytes& payload)
{
    Bytes out;
    out.reserve(payload.size() * 2 + 12);
    appendBytes(out, kHeadV1, 4);
    out.insert(out.end(), {uint8_t(id), 0xFF, uint8_t(id >> 8), 0xFF});
    for (uint8_t b : payload) {
        out.push_back(b);
        out.push_back(0xFF);
    }
    appendBytes(out, kTailV1, 4);
    return out;
}

static Bytes buildV2(uint32_t id, const Bytes& payload)
{
    Bytes out;
    out.reserve(payload.size() + 12);
    appendBytes(out, kHeadV2, 4);
    appendLe32(out, id);
    out.insert(out.end(), payload.begin(), payload.end());
    appendBytes(out, kTailV2, 4);
    return out;
}

Bytes buildCommandFrame(uint32_t id, const Bytes& payload, CmdFormat format)
{
    return format == CmdFormat::V1 ? buildV1(id, payload) : buildV2(id, payload);
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string hexDump(const uint8_t* p, size_t n, size_t limit)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < n && i < limit; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        if (i)
            out += ' ';
        out += buf;
    }
    if (n > limit)
        out += " ...";
    return out;
}

// Days from 1970-01-01 of a proleptic Gregorian date (era-based algorithm).
static int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

uint32_t civilToTime(int year, int month, int day, int hour, int minute, int second)
{
    const int64_t days = daysFromCivil(year, unsigned(month), unsigned(day));
    return uint32_t(days * 86400 + hour * 3600 + minute * 60 + second);
}

Civil timeToCivil(uint32_t t)
{
    const int64_t z0 = int64_t(t / 86400);
    const uint32_t rest = t % 86400;
    const int64_t z = z0 + 719468;
    const int64_t era = z / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    Civil c;
    c.day = int(doy - (153 * mp + 2) / 5 + 1);
    c.month = int(mp < 10 ? mp + 3 : mp - 9);
    c.year = int(int64_t(yoe) + era * 400 + (c.month <= 2));
    c.hour = int(rest / 3600);
    c.minute = int(rest % 3600 / 60);
    c.second = int(rest % 60);
    return c;
}

}  // namespace testrec

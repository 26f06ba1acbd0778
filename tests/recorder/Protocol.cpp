#include "recorder/Protocol.h"

#include <algorithm>
#include <cstring>

#include "recorder/Crypto.h"

namespace testrec {

int modelGroup(int id)
{
    if (id == 1 || (id >= 51 && id <= 53))
        return 8;
    if ((id >= 11 && id <= 13) || (id >= 41 && id <= 45) || id == 91)
        return 1;
    if (id == 21 || id == 22)
        return 2;
    if ((id >= 61 && id <= 66) || (id >= 71 && id <= 79) || id == 101)
        return 7;
    if (id >= 81 && id <= 87)
        return 9;
    if (id == 110 || id == 111)
        return 10;
    if ((id >= 120 && id <= 128) || id == 150)
        return 11;
    if (id >= 131 && id <= 139)
        return 12;
    return 0;
}

bool usesHdhlForms(int group) { return group == 8 || group == 9 || group == 11 || group == 12; }

static int dayAnswerSize(int group)
{
    if (group == 7)
        return 17388;
    return group == 2 ? 14460 : 11628;
}

static int historyAnswerSize(int group, int version)
{
    switch (group) {
    case 7: return 262160;
    case 1: return version <= 6 ? 3856 : 8208;
    case 2: return version <= 5 ? 3856 : (version <= 13 ? 6256 : 13328);
    case 8:
    case 9:
    case 11:
    case 12: return 8208;
    default: return 0;
    }
}

static int modelInfoSize(int group, int modelId)
{
    if (group == 7)
        return 128;
    if (group == 2 || group == 8 || group == 9)
        return 0;
    switch (modelId) {
    case 11: return 2200;
    case 12: return 4580;
    case 13: return 7912;
    default: return 0;
    }
}

int answerPayloadSize(uint32_t cmd, int group, int modelId, int version)
{
    switch (cmd) {
    case 1: return -1;
    case 2: case 5: case 20: case 21: return 56;
    case 4: return version <= 3 ? 8 : (version <= 10 ? 12 : 24);
    case 7: return 16;
    case 11: case 73: return version <= 5 ? 0 : (version == 6 ? 12 : (version == 7 ? 16 : 28));
    case 14: case 17: case 18: case 45: case 65: case 66: case 69: return 8;
    case 19: case 67: return dayAnswerSize(group);
    case 33: return historyAnswerSize(group, version);
    case 38: return 1028;
    case 39: return 1116;
    case 42: case 60: return 4;
    case 48: return group == 1 ? 768 : 0;
    case 51: return 44;
    case 58: return modelInfoSize(group, modelId);
    case 61: return 36;
    case 70: return 88;
    case 86: return 16512;
    default: return 0;
    }
}

int requestPayloadSize(uint32_t cmd, int version)
{
    switch (cmd) {
    case 3: return version <= 1 ? 100 : 104;
    case 6: return 24;
    case 12: case 13: case 22: case 23: case 25: case 30:
    case 47: case 50: case 57: case 72: case 75: case 76: return 0;
    case 15: return 8;
    case 26: case 27: case 28: case 29: case 35: return 4;
    case 32: return version <= 5 ? 8 : 16;
    case 44: return 32;
    case 53: return 16;
    case 79: return 12;
    default: return -1;
    }
}

Bytes fitPayload(Bytes payload, size_t size)
{
    payload.resize(size, 0);
    return payload;
}

static std::string titleOf(const DeviceInfo& d, int ch)
{
    if (size_t(ch) < d.titles.size())
        return d.titles[size_t(ch)];
    return "CAM " + std::to_string(ch + 1);
}

// Title as UTF-16LE code units, cut to the slot size.
static void putTitle(Bytes& out, size_t off, size_t slot, const std::string& ascii)
{
    for (size_t i = 0; i < ascii.size() && 2 * i + 1 < slot; ++i)
        setLe16(out, off + 2 * i, uint8_t(ascii[i]));
}

Bytes connectAnswer552(const DeviceInfo& d)
{
    Bytes p(552, 0);
    setLe32(p, 0, d.modelId);
    setLe16(p, 4, uint16_t(d.channels));
    setLe16(p, 6, uint16_t(d.audioChannels));
    p[8] = uint8_t(d.videoStandard);
    p[9] = uint8_t(d.bandwidth);
    p[10] = uint8_t(d.vendor);
    p[11] = uint8_t(d.scrambling);
    setLe16(p, 12, uint16_t(d.version));
    setLe16(p, 14, uint16_t(d.hwVersion));
    setLe32(p, 16, d.fwVersion);
    std::memcpy(p.data() + 20, d.webCode.data(), std::min<size_t>(16, d.webCode.size()));
    setLe32(p, 36, d.titleKind);
    for (int ch = 0; ch < 16 && ch < d.channels; ++ch)
        putTitle(p, 40 + 32 * size_t(ch), 32, titleOf(d, ch));
    return p;
}

Bytes connectAnswer272(const DeviceInfo& d)
{
    Bytes p(272, 0);
    setLe32(p, 0, d.modelId);
    setLe16(p, 4, uint16_t(d.channels));
    setLe16(p, 6, uint16_t(d.audioChannels));
    if (d.version <= 6) {
        setLe32(p, 8, uint32_t(d.videoStandard));
    } else {
        p[8] = uint8_t(d.videoStandard);
        p[9] = uint8_t(d.bandwidth);
    }
    for (int ch = 0; ch < 16 && ch < d.channels; ++ch)
        putTitle(p, 12 + 16 * size_t(ch), 16, titleOf(d, ch));
    setLe16(p, 268, uint16_t(d.version));
    setLe16(p, 270, uint16_t(d.hwVersion));
    return p;
}

static void putLoginText(Bytes& p, size_t off, const std::string& text, int version)
{
    if (version >= 24) {
        const auto digest = saltedDigest(text);
        std::copy(digest.begin(), digest.end(), p.begin() + long(off));
        return;
    }
    std::memcpy(p.data() + off, text.data(), std::min<size_t>(49, text.size()));
}

Bytes expectedLoginRequest(const std::string& user, const std::string& password, int version)
{
    Bytes p(size_t(requestPayloadSize(3, version)), 0);
    putLoginText(p, 0, user, version);
    putLoginText(p, 50, password, version);
    return p;
}

Bytes loginAccepted(int version, uint32_t permission, uint32_t covert, uint16_t recording)
{
    Bytes p;
    setLe32(p, 0, 0);
    setLe32(p, 4, permission);
    setLe32(p, 8, covert);
    setLe16(p, 12, recording);
    return fitPayload(p, size_t(answerPayloadSize(4, 0, 0, version)));
}

Bytes reasonPayload(uint32_t reason)
{
    Bytes p(56, 0);
    setLe32(p, 0, reason);
    return p;
}

Bytes echoPayload(int version, uint16_t videoLossMask)
{
    Bytes p(size_t(answerPayloadSize(11, 0, 0, version)), 0);
    if (version > 6)
        setLe16(p, 0, videoLossMask);
    return p;
}

Bytes rangeAnswer(uint32_t start, uint32_t end)
{
    Bytes p;
    appendLe32(p, start);
    appendLe32(p, end);
    return p;
}

static bool overlaps(uint32_t from, uint32_t to, uint32_t start, uint32_t end)
{
    return start != 0 && end != 0 && from <= end && to > start;
}

uint32_t monthDayMask(uint32_t monthTime, uint32_t start, uint32_t end)
{
    const Civil c = timeToCivil(monthTime);
    uint32_t mask = 0;
    for (int day = 1; day <= 31; ++day) {
        const uint32_t t = civilToTime(c.year, c.month, day);
        if (timeToCivil(t).month != c.month)
            break;
        if (overlaps(t, t + 86400, start, end))
            mask |= 1u << (day - 1);
    }
    return mask;
}

Bytes monthAnswer(uint32_t monthTime, uint32_t start, uint32_t end)
{
    Bytes p;
    appendLe32(p, monthTime);
    appendLe32(p, monthDayMask(monthTime, start, end));
    return p;
}

namespace {

// Day map layout: H form (12-byte minutes) or HDHL form (8-byte minutes).
struct DayForm {
    size_t minuteSize;
    size_t hourSize;
};

constexpr DayForm kDayH{12, 724}, kDayHdhl{8, 484};

// A record of a form's whole size is sent in that form; a shorter one is
// the group's form cut to what the client reads.
DayForm dayFormOf(int group, size_t recordSize)
{
    if (recordSize == 4 + 24 * kDayHdhl.hourSize)
        return kDayHdhl;
    if (recordSize == 4 + 24 * kDayH.hourSize)
        return kDayH;
    return usesHdhlForms(group) ? kDayHdhl : kDayH;
}

// Writes a 16-bit field only when it fits in the record as sent: groups
// whose answer is shorter than their form send the record's start.
void put16Within(Bytes& p, size_t off, uint16_t v)
{
    if (off + 2 <= p.size())
        setLe16(p, off, v);
}

// Minute record: every channel recording, channel 1 motion in minutes 0-9,
// channel 2 sensor in 10-19, channel 3 motion and sensor in 20-29.
void fillMinute(Bytes& p, size_t off, int minute, uint16_t all)
{
    put16Within(p, off, all);
    uint16_t md = 0, sensor = 0;
    if (minute < 10)
        md = 0x0001;
    else if (minute < 20)
        sensor = 0x0002;
    else if (minute < 30)
        md = sensor = 0x0004;
    put16Within(p, off + 2, uint16_t(md & all));
    put16Within(p, off + 4, uint16_t(sensor & all));
}

void fillDay(Bytes& p, const DayForm& form, uint32_t dayTime, uint32_t start, uint32_t end, uint16_t all)
{
    const size_t base = 8;
    if (!overlaps(dayTime, dayTime + 86400, start, end))
        return;
    put16Within(p, base, all);
    for (int h = 0; h < 24; ++h) {
        const uint32_t ht = dayTime + uint32_t(h) * 3600;
        if (!overlaps(ht, ht + 3600, start, end))
            continue;
        const size_t hourOff = base + 4 + form.hourSize * size_t(h);
        put16Within(p, hourOff, all);
        for (int m = 0; m < 60; ++m) {
            const uint32_t mt = ht + uint32_t(m) * 60;
            if (overlaps(mt, mt + 60, start, end))
                fillMinute(p, hourOff + 4 + form.minuteSize * size_t(m), m, all);
        }
    }
}

}  // namespace

Bytes dayAnswer(int group, int modelId, int version, uint32_t dayTime, uint32_t start, uint32_t end,
                int channels)
{
    const size_t size = size_t(answerPayloadSize(19, group, modelId, version));
    Bytes p(size, 0);
    const Civil c = timeToCivil(dayTime);
    const uint32_t midnight = civilToTime(c.year, c.month, c.day);
    setLe32(p, 0, dayTime);
    setLe32(p, 4, uint32_t(c.day - 1));
    const uint16_t all = uint16_t(channels >= 16 ? 0xFFFF : (1u << std::max(channels, 0)) - 1);
    fillDay(p, dayFormOf(group, size - 8), midnight, start, end, all);
    return p;
}

// Event-log items. The n-th item of a search (counting over all its pages)
// takes the n-th entry of these lists, round and round.
struct ItemH {
    uint8_t kind, ch;
    int32_t setup;
};
static const ItemH kItemsH[] = {
    {0x10, 0, 0},          // motion, channel 1
    {0x20, 1, 0},          // sensor, channel 2
    {0x90, 0xFF, 0},       // power on
    {0x31, 2, 0},          // unattended, channel 3
    {0x40, 3, 0},          // museum, channel 4
    {0x81, 0, 0},          // video on, channel 1
    {0x80, 1, 0},          // video loss, channel 2
    {0x94, 2, 0x1130},     // setup: record on/off, channel 3
    {0x94, 0, 0x120},      // setup: password
    {0xA2, 0xFF, 0},       // network search
    {0xB1, 0xFF, 0},       // emergency off
    {0x60, 5, 0},          // a type without a name
};

struct ItemHdhl {
    uint16_t code;
    const char* text;  // up to 24 bytes, not always valid UTF-8
};
static const ItemHdhl kItemsHdhl[] = {
    {3, "CH1"},
    {6, "CH2"},
    {10, ""},
    {0x43, "CH3"},                          // DEL entry
    {0x83, "CH4"},                          // DST entry
    {0xC1, "CH1"},                          // both: DEL wins
    {47, "Kamera \xC3\xBC"},               // UTF-8 text
    {58, "\xC3\x28 bad"},                   // not UTF-8
    {4, "ABCDEFGHIJKLMNOPQRSTUVWX"},       // fills the field, no zero byte
    {61, "x"},                              // beyond the name table
};

static void putHistoryItemH(Bytes& p, size_t off, uint32_t t, int n)
{
    const ItemH& it = kItemsH[size_t(n) % std::size(kItemsH)];
    setLe32(p, off, t >= kSeconds2008 ? t - kSeconds2008 : 0);
    p[off + 4] = it.kind;
    p[off + 6] = it.ch;
    setLe32(p, off + 8, uint32_t(it.setup));
}

static void putHistoryItemHdhl(Bytes& p, size_t off, uint32_t t, int n)
{
    const ItemHdhl& it = kItemsHdhl[size_t(n) % std::size(kItemsHdhl)];
    setLe32(p, off, t);
    setLe16(p, off + 4, it.code);
    std::memcpy(p.data() + off + 8, it.text, std::min<size_t>(24, std::strlen(it.text)));
}

Bytes historyPage(int group, int modelId, int version, HistoryStatus status, uint32_t dayStart, int firstItem,
                  int items)
{
    const size_t size = size_t(answerPayloadSize(33, group, modelId, version));
    if (size < 8)
        return Bytes(size, 0);
    Bytes p(size, 0);
    setLe32(p, 0, uint32_t(status));
    if (status == HistoryStatus::Empty || status == HistoryStatus::Busy)
        return p;
    const bool hdhl = usesHdhlForms(group);
    const size_t first = hdhl ? 20 : 16, itemSize = hdhl ? 32 : 16;
    int count = 0;
    for (int k = 0; k < items && first + itemSize * size_t(k + 1) <= size; ++k, ++count) {
        const int n = firstItem + k;
        const uint32_t t = dayStart + uint32_t(n + 1) * 600;
        if (hdhl)
            putHistoryItemHdhl(p, first + itemSize * size_t(k), t, n);
        else
            putHistoryItemH(p, first + itemSize * size_t(k), t, n);
    }
    setLe32(p, 4, uint32_t(count));
    return p;
}

}  // namespace testrec

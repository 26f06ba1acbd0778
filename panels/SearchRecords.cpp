#include "panels/SearchRecords.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/NxLib.h"

namespace {

// Reads little-endian fields from a received record; a field that does not
// lie wholly inside it reads as 0.
class Reader {
public:
    Reader(const uint8_t* p, size_t len) : m_p(p), m_len(p ? len : 0) {}
    bool has(size_t off, size_t n) const { return off <= m_len && n <= m_len - off; }
    uint8_t u8(size_t off) const { return has(off, 1) ? m_p[off] : 0; }
    uint16_t u16(size_t off) const { return has(off, 2) ? uint16_t(m_p[off] | m_p[off + 1] << 8) : 0; }
    uint32_t u32(size_t off) const
    {
        if (!has(off, 4))
            return 0;
        return uint32_t(m_p[off]) | uint32_t(m_p[off + 1]) << 8 | uint32_t(m_p[off + 2]) << 16 |
               uint32_t(m_p[off + 3]) << 24;
    }
    const uint8_t* at(size_t off) const { return m_p + off; }

private:
    const uint8_t* m_p;
    size_t m_len;
};

void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

std::string format(const char* fmt, int a)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, a);
    return buf;
}

std::string timeText(uint32_t t, const char* suffix)
{
    tm_t tm{};
    to_tm(t, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d/%02d/%02d %02d:%02d:%02d%s", tm.year, tm.mon, tm.mday, tm.hour, tm.min,
                  tm.sec, suffix);
    return buf;
}

// Days from 1970-01-01 to the date, proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void readMinute(const Reader& r, size_t off, tagSearchMin_HDHL* m)
{
    m->rch = r.u16(off);
    m->md = r.u16(off + 2);
    m->sensor = r.u16(off + 4);
    m->dummy = r.u16(off + 6);
}

void readMinute(const Reader& r, size_t off, tagSearchMin_H* m)
{
    m->rch = r.u16(off);
    m->md = r.u16(off + 2);
    m->sensor = r.u16(off + 4);
    m->museum = r.u16(off + 6);
    m->unattanded = r.u16(off + 8);
    m->_rsvd = r.u16(off + 10);
}

template <typename Day, size_t MinSize, size_t HourSize>
void readDay(const uint8_t* p, size_t len, Day* out)
{
    const Reader r(p, len);
    out->rch = r.u16(0);
    out->dummy = r.u16(2);
    for (size_t h = 0; h < 24; ++h) {
        const size_t ho = 4 + HourSize * h;
        auto& hour = out->rhour[h];
        hour.rch = r.u16(ho);
        hour.dummy = r.u16(ho + 2);
        for (size_t m = 0; m < 60; ++m)
            readMinute(r, ho + 4 + MinSize * m, &hour.rmin[m]);
    }
}

const char* const logStrH[17] = {"",        "MOTION",  "SENSOR",    "UNATTENDED", "MUSEUM", "", "", "",
                                  "VIDEO",   "SYSTEM",  "NETWORK",   "EMERGENCY",  "",       "", "", "",
                                  ""};

std::string systemText(const St_GrDvrLogItm& item, int sub)
{
    static const char* const kSystem[10] = {"Power on",       "Power off",   "Login",        "Logout",
                                            "",               "Backup",      "HardDisk Error", "Entry Setup",
                                            "Escape Setup",   "Backup CH Info"};
    if (sub != 4)
        return sub < 10 ? kSystem[sub] : "";
    const int ch = item.ch + 1;
    switch (item.setup) {
    case 0x120: return "Change Password";
    case 0x240: return format("Change Motion Area (CH%d)", ch);
    case 0x740: return format("Change Motion Detection (CH%d)", ch);
    case 0x7E0: return format("Change Camera title (CH%d)", ch);
    case 0x1060: return format("Change Post Frame (CH%d)", ch);
    case 0x1120: return format("Change Resolution (CH%d)", ch);
    case 0x1130: return format("Change Record On/Off (CH%d)", ch);
    case 0x1140: return format("Change Record Quality (CH%d)", ch);
    case 0x1150: return format("Change FPS (CH%d)", ch);
    case 0x1160: return format("Change Schedule (CH%d)", ch);
    default: return "Setup Operation";
    }
}

// Length of the valid UTF-8 sequence starting at p (n bytes left), 0 if none.
size_t utf8Sequence(const uint8_t* p, size_t n)
{
    const uint8_t c = p[0];
    if (c < 0x80)
        return 1;
    size_t len;
    uint8_t lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;  // no overlong forms
        if (c == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi)
        return 0;
    for (size_t i = 2; i < len; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return len;
}

}  // namespace

bool IsHdhlGroup(int32_t group)
{
    return group == 8 || group == 9 || group == 11 || group == 12;
}

// ---------------------------------------------------------------------------
// Month grid

const int8_t MonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int DaysInMonth(int year, int month)
{
    if (month < 1 || month > 12)
        return 0;
    if (month == 2)
        return year % 4 == 0 ? 29 : 28;
    return MonthDays[month - 1];
}

CalendarMonth LayoutMonth(int year, int month)
{
    CalendarMonth out;
    if (month < 1 || month > 12)
        return out;
    const int64_t days = daysFromCivil(year, month, 1);
    // 1970-01-01 was a Thursday.
    out.firstColumn = int(((days + 4) % 7 + 7) % 7);
    out.days = DaysInMonth(year, month);
    for (int d = 1; d <= out.days; ++d)
        out.cell[out.firstColumn + d - 1] = int8_t(d);
    return out;
}

// ---------------------------------------------------------------------------
// Day recording map

bool IsHdhlDayRecord(size_t len, int32_t group)
{
    if (len == kSearchDaySize_HDHL)
        return true;
    if (len == kSearchDaySize_H)
        return false;
    return IsHdhlGroup(group);
}

void ReadSearchDay(const uint8_t* p, size_t len, tagSearchDay_HDHL* out)
{
    readDay<tagSearchDay_HDHL, kSearchMinSize_HDHL, kSearchHourSize_HDHL>(p, len, out);
}

void ReadSearchDay(const uint8_t* p, size_t len, tagSearchDay_H* out)
{
    readDay<tagSearchDay_H, kSearchMinSize_H, kSearchHourSize_H>(p, len, out);
}

CellColour MinuteColour(uint16_t rch, uint16_t md, uint16_t sensor, int ch)
{
    if (ch < 0 || ch > 15)
        return CellColour::White;
    const uint16_t b = uint16_t(1u << ch);
    const bool motion = md & b, sens = sensor & b;
    if (motion && sens)
        return CellColour::Yellow;
    if (motion)
        return CellColour::Blue;
    if (sens)
        return CellColour::Red;
    return (rch & b) ? CellColour::Green : CellColour::White;
}

// ---------------------------------------------------------------------------
// Event log

const char* const lpszHistoryType[61] = {
    " ",
    "VIDEO_LOSS",
    "VIDEO_ACTIVE",
    "MOTION",
    "LOG_ON",
    "LOG_OFF",
    "SENSOR",
    "DISK_FULL",
    "MENU_ACCESS",
    "REC_RESOLUTION",
    "POWER_ON",
    "TIME_MODIFY",
    "PW_MODIFY",
    "ERASE_DATA",
    "DETECTION_AREA_CHANGE",
    "MD_ENABLE",
    "MD_DISABLE",
    "MD_SENS_CHANGE",
    "REC_SCHED_CHANGE",
    "REC_ENABLE",
    "REC_DISABLE",
    "REC_QUALITY_CHANGE",
    "REC_FRAME_CHANGE",
    "REC_POST_CHANGE",
    "BACKUP_START",
    "BACKUP_END",
    "REC_SCHED",
    "REC_EMERG",
    "DHCP_START",
    "DHCP_FAIL",
    "REC_EVENT_CHANGE",
    "REC_MODE_CHANGE",
    "EMAP_MODIFY",
    "DVR_SERVER_CONNECT",
    "RELAY0_MODIFY",
    "RELAY1_MODIFY",
    "REMOTE_SENSOR",
    "VIDEO_SURVEIL_BUFFOVER",
    "VIDEO_SURVEIL_START",
    "VIDEO_SURVEIL_STOP",
    "MU/UA",
    "WHITE_ON_OFF",
    "BLACK_ON_OFF",
    "Notify Hdd Error",
    "BACKUP_CHANNEL",
    "BACKUP_BEGIN_TIME",
    "BACKUP_END_TIME",
    "CAMERA_TITLE",
    "POWER FAIL",
    "POWER RECOVER",
    "TIME SYNC",
    "MOTION OFF",
    "SENSOR OFF",
    "RECORD FAIL",
    "GATEWAY FAIL",
    "DEFAULT SETUP",
    "FACTORY SETUP",
    "CONFIRM ALERT",
    "NETWORK LINK UP",
    "NETWORK LINK DOWN",
    "HISTORY_END",
};

void PackHistoryReq(const tagHistoryReq& req, uint8_t out[kHistoryReqSize])
{
    put32(out, req.startTime);
    put32(out + 4, req.reserved);
    put16(out + 8, req.chMask);
    put16(out + 10, req.eventMask);
    put16(out + 12, req.reserved2);
    put16(out + 14, req.version);
}

bool ReadHistoryHeader(const uint8_t* p, size_t len, uint32_t* status, int32_t* count)
{
    const Reader r(p, len);
    if (!r.has(0, 8))
        return false;
    *status = r.u32(0);
    *count = int32_t(r.u32(4));
    return true;
}

// Reads the page's items, at most the count it claims and only those that
// lie wholly inside it; row(reader, offset) makes the row of one item.
template <typename MakeRow>
static std::vector<HistoryInfo> readHistoryItems(const uint8_t* p, size_t len, size_t first, size_t size, size_t cap,
                                                 MakeRow row)
{
    std::vector<HistoryInfo> rows;
    uint32_t status = 0;
    int32_t count = 0;
    if (!ReadHistoryHeader(p, len, &status, &count) || count <= 0 || len < first)
        return rows;
    const size_t n = std::min({size_t(count), (len - first) / size, cap});
    const Reader r(p, len);
    rows.reserve(n);
    for (size_t i = 0; i < n; ++i)
        rows.push_back(row(r, first + size * i));
    return rows;
}

std::vector<HistoryInfo> ReadHistoryItems_H(const uint8_t* p, size_t len, size_t maxItems)
{
    auto row = [](const Reader& r, size_t off) {
        St_GrDvrLogItm item;
        item.time = r.u32(off);
        item.kind = r.u8(off + 4);
        item.ch = r.u8(off + 6);
        item.setup = int32_t(r.u32(off + 8));
        return HistoryRow_H(item);
    };
    return readHistoryItems(p, len, kHistoryItemsAt_H, kHistoryItemSize_H, std::min(maxItems, kHistoryMaxItems_H),
                            row);
}

std::vector<HistoryInfo> ReadHistoryItems_HDHL(const uint8_t* p, size_t len, size_t maxItems)
{
    auto row = [](const Reader& r, size_t off) {
        St_DvrLogItmHDHL item;
        item.time = r.u32(off);
        item.code = r.u16(off + 4);
        std::memcpy(item.text, r.at(off + 8), sizeof item.text);
        return HistoryRow_HDHL(item);
    };
    return readHistoryItems(p, len, kHistoryItemsAt_HDHL, kHistoryItemSize_HDHL, maxItems, row);
}

void getLogString_H(const St_GrDvrLogItm& item, std::string* event, std::string* detail)
{
    const int type = item.kind >> 4;
    const int sub = item.kind & 0x0F;
    const std::string chText = item.ch == 0xFF ? std::string() : format("CH %d", item.ch + 1);
    switch (type) {
    case 1:
    case 2:
    case 3:
    case 4:
        *event = logStrH[type];
        *detail = chText;
        break;
    case 8:
        *event = sub == 1 ? "VIDEO ON" : "VIDEO LOSS";
        *detail = chText;
        break;
    case 9:
        *event = logStrH[type];
        *detail = systemText(item, sub);
        break;
    case 10: {
        static const char* const kNetwork[4] = {"Logout", "Login", "Search", "Setup"};
        *event = logStrH[type];
        *detail = sub < 4 ? kNetwork[sub] : "";
        break;
    }
    case 11:
        *event = logStrH[type];
        *detail = sub == 0 ? "On" : (sub == 1 ? "Off" : "");
        break;
    default:
        *event = format("Unknown %d", type);
        detail->clear();
        break;
    }
}

HistoryInfo HistoryRow_H(const St_GrDvrLogItm& item)
{
    const uint32_t t = item.time + kTime2008;
    HistoryInfo row;
    std::string event, detail;
    getLogString_H(item, &event, &detail);
    row.SetTimeSring(timeText(t, ""));
    row.SetEvent(std::move(event));
    row.SetInfo(std::move(detail));
    row.SetTime(int32_t(t));
    return row;
}

HistoryInfo HistoryRow_HDHL(const St_DvrLogItmHDHL& item)
{
    const char* suffix = (item.code & 0x40) ? " DEL" : ((item.code & 0x80) ? " DST" : "");
    HistoryInfo row;
    row.SetTimeSring(timeText(item.time, suffix));
    row.SetEvent(lpszHistoryType[(item.code & ~0xC0u) % 61]);
    row.SetInfo(Utf8FieldText(item.text, sizeof item.text));
    row.SetTime(int32_t(item.time));
    return row;
}

std::string Utf8FieldText(const char* field, size_t size)
{
    const auto* p = reinterpret_cast<const uint8_t*>(field);
    const size_t n = size_t(std::find(p, p + size, 0) - p);
    for (size_t i = 0; i < n;) {
        const size_t step = utf8Sequence(p + i, n - i);
        if (step == 0)
            return {};
        i += step;
    }
    return std::string(field, n);
}

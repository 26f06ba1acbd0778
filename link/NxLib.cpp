#include "link/NxLib.h"

#include <cstdio>
#include <cstring>

namespace {

struct ModelRange {
    int first;
    int last;
    EnumModelGroup group;
    const char* prefix;  // nullptr: "UNKNOWN"
    int firstIndex;      // name suffix of the first id
};

// Ranges of model ids; names are PREFIX_Mnn counting from firstIndex.
constexpr ModelRange kModels[] = {
    {1, 1, 8, nullptr, 0},
    {11, 13, 1, "VOREL", 1},
    {21, 22, 2, "VOREL", 4},
    {41, 45, 1, "TAMIK", 1},
    {51, 53, 8, "VOREL", 6},
    {61, 66, 7, "VOREL", 9},
    {71, 79, 7, "TAMIK", 6},
    {81, 81, 9, "VOREL", 15},
    {82, 87, 9, nullptr, 0},
    {91, 91, 1, nullptr, 0},
    {101, 101, 7, "SURRA", 1},
    {110, 111, 10, nullptr, 0},
    {120, 128, 11, nullptr, 0},
    {131, 139, 12, nullptr, 0},
    {150, 150, 11, nullptr, 0},
};

const ModelRange* findModel(EnumModel model)
{
    for (const auto& r : kModels)
        if (model >= r.first && model <= r.last)
            return &r;
    return nullptr;
}

constexpr int32_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool isLeap(uint32_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

}  // namespace

EnumModelGroup GetModelGroup(EnumModel model)
{
    const ModelRange* r = findModel(model);
    return r ? r->group : 0;
}

void GetModelName(EnumModel model, char* buf)
{
    const ModelRange* r = findModel(model);
    if (model == 1) {
        std::memcpy(buf, "PROTO_T1", 9);
        return;
    }
    if (!r || !r->prefix) {
        std::memcpy(buf, "UNKNOWN", 8);
        return;
    }
    std::snprintf(buf, 32, "%s_M%02d", r->prefix, r->firstIndex + (model - r->first));
}

uint32_t mktime2(uint32_t year, uint32_t mon, uint32_t day, uint32_t hour, uint32_t min, uint32_t sec)
{
    int32_t m = int32_t(mon) - 2;
    if (m <= 0) {
        m += 12;
        year -= 1;
    }
    uint32_t days = day - year / 100 + year / 4 + 365u * year + year / 400 + (367u * uint32_t(m)) / 12u;
    return ((days * 24u + hour) * 60u + min) * 60u + sec - 719499u * 86400u;
}

void to_tm(uint32_t t, tm_t* out)
{
    int32_t seconds = int32_t(t);
    int32_t days = seconds / 86400;
    int32_t r = seconds - days * 86400;
    int32_t hour = r / 3600;
    int32_t min = (r - hour * 3600) / 60;
    int32_t sec = r - hour * 3600 - min * 60;

    int32_t year = 1970;
    int32_t left = days;
    while (left >= (isLeap(year) ? 366 : 365)) {
        left -= isLeap(year) ? 366 : 365;
        ++year;
    }
    int32_t mon = 1;
    while (mon <= 12) {
        int32_t len = kMonthDays[mon - 1] + ((mon == 2 && isLeap(year)) ? 1 : 0);
        if (left < len)
            break;
        left -= len;
        ++mon;
    }
    int32_t mday = left + 1;
    int32_t wday = (days + 4) % 7;

    if (uint32_t(hour) >= 24)
        hour = 0;
    if (uint32_t(year) < 1970 || uint32_t(year) > 2038)
        year = 1970;
    if (uint32_t(mon) < 1 || uint32_t(mon) > 12)
        mon = 1;
    if (uint32_t(min) >= 60)
        min = 0;
    if (uint32_t(left) >= 31)
        mday = 1;
    if (uint32_t(sec) >= 60)
        sec = 0;
    out->year = year;
    out->mon = mon;
    out->mday = mday;
    out->hour = hour;
    out->min = min;
    out->sec = sec;
    out->wday = wday;
}

std::string timeText(uint32_t t)
{
    tm_t tm{};
    to_tm(t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d-%02d-%02d %02d:%02d:%02d", tm.year, tm.mon, tm.mday, tm.hour, tm.min, tm.sec);
    return buf;
}

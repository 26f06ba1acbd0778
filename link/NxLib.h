#pragma once
#include <cstdint>
#include <string>

using EnumModel = int32_t;
using EnumModelGroup = uint32_t;

// Broken-down recorder time; wall-clock fields counted as UTC.
struct tm_t {
    int32_t year;
    int32_t mon;   // 1..12
    int32_t mday;  // 1..31
    int32_t hour;
    int32_t min;
    int32_t sec;
    int32_t wday;  // 0 Sunday
};

// Offset of recorder times counted from 2008-01-01.
constexpr uint32_t kTime2008 = 1199145600u;

EnumModelGroup GetModelGroup(EnumModel model);
// Writes the model's name with its NUL at the start of buf (32 bytes).
void GetModelName(EnumModel model, char* buf);

uint32_t mktime2(uint32_t year, uint32_t mon, uint32_t day, uint32_t hour, uint32_t min, uint32_t sec);
void to_tm(uint32_t t, tm_t* out);
// A recorder time as "2024-01-10 08:05:09".
std::string timeText(uint32_t t);

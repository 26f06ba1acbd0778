#pragma once
// The recorder's search records as the search panels read them: recorded
// range texts, the month grid, the day recording map in its two forms, and
// the event-log request and result pages. Every read is bounded by the
// length that arrived; fields beyond it read as zero.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "panels/HistoryInfo.h"

// Groups 8, 9, 11 and 12 send the HDHL forms of the day map and of the
// event log; every other group the H forms.
bool IsHdhlGroup(int32_t group);


// ---------------------------------------------------------------------------
// Month grid

// Days of each month; February is 29 in years divisible by 4 (exact for
// the years recorder times cover).
extern const int8_t MonthDays[12];
int DaysInMonth(int year, int month);

// Day numbers of the 7 x 6 day buttons, cell 7 * row + column (column 0 is
// Sunday), 0 for an empty cell.
struct CalendarMonth {
    int firstColumn = 0;
    int days = 0;
    int8_t cell[42] = {};
};
// An empty grid for a month outside 1-12.
CalendarMonth LayoutMonth(int year, int month);

// ---------------------------------------------------------------------------
// Day recording map: channel masks (bit n = channel n + 1) for the day,
// each hour and each minute.

struct tagSearchMin_HDHL {
    uint16_t rch, md, sensor, dummy;
};
struct tagSearchHour_HDHL {
    uint16_t rch, dummy;
    tagSearchMin_HDHL rmin[60];
};
struct tagSearchDay_HDHL {
    uint16_t rch, dummy;
    tagSearchHour_HDHL rhour[24];
};

struct tagSearchMin_H {
    uint16_t rch, md, sensor, museum, unattanded, _rsvd;
};
struct tagSearchHour_H {
    uint16_t rch, dummy;
    tagSearchMin_H rmin[60];
};
struct tagSearchDay_H {
    uint16_t rch, dummy;
    tagSearchHour_H rhour[24];
};

// Sizes on the wire.
constexpr size_t kSearchMinSize_HDHL = 8;
constexpr size_t kSearchHourSize_HDHL = 4 + 60 * kSearchMinSize_HDHL;  // 484
constexpr size_t kSearchDaySize_HDHL = 4 + 24 * kSearchHourSize_HDHL;  // 11,620
constexpr size_t kSearchMinSize_H = 12;
constexpr size_t kSearchHourSize_H = 4 + 60 * kSearchMinSize_H;  // 724
constexpr size_t kSearchDaySize_H = 4 + 24 * kSearchHourSize_H;  // 17,380

// The form a day record of len bytes is in: HDHL at 11,620 bytes, H at
// 17,380; a record of any other length is the group's form, cut short.
bool IsHdhlDayRecord(size_t len, int32_t group);

// Reads a day record of len bytes; what lies beyond len reads as 0.
void ReadSearchDay(const uint8_t* p, size_t len, tagSearchDay_HDHL* out);
void ReadSearchDay(const uint8_t* p, size_t len, tagSearchDay_H* out);

enum class CellColour { White, Green, Blue, Red, Yellow };
// Colour of channel ch's minute cell: motion and sensor yellow, motion blue,
// sensor red, plain recording green, else white.
CellColour MinuteColour(uint16_t rch, uint16_t md, uint16_t sensor, int ch);

// ---------------------------------------------------------------------------
// Event log

enum EnumHistoryStatus : uint32_t {
    HISTORY_EMPTY = 0,
    HISTORY_END = 1,     // last page
    HISTORY_NORMAL = 2,  // more pages follow
    HISTORY_BUSY = 3,
};

// Event kinds of the request's event mask.
enum EnumHistoryEvent : uint16_t {
    HISTORY_EVENT_MOTION = 0x01,
    HISTORY_EVENT_SENSOR = 0x02,
    HISTORY_EVENT_VIDEO = 0x04,
    HISTORY_EVENT_SYSTEM = 0x08,
    HISTORY_EVENT_MUSEUM = 0x20,
    HISTORY_EVENT_UNATTENDED = 0x40,
    HISTORY_EVENT_ALL = 0xFFFF,
};

// The event-log request: one day, filtered by channels and event kinds.
struct tagHistoryReq {
    uint32_t startTime = 0;  // midnight of the day, recorder time base
    uint32_t reserved = 0;
    uint16_t chMask = 0;     // bit n for channel n + 1
    uint16_t eventMask = 0;
    uint16_t reserved2 = 0;
    uint16_t version = 0x0100;
};
constexpr size_t kHistoryReqSize = 16;
void PackHistoryReq(const tagHistoryReq& req, uint8_t out[kHistoryReqSize]);

// Event-log items: H form (time counted from 2008) and HDHL form.
struct St_GrDvrLogItm {
    uint32_t time = 0;
    uint8_t kind = 0;  // type in the high four bits, sub code in the low four
    uint8_t ch = 0;    // 0-based, 0xFF none
    int32_t setup = 0;
};
struct St_DvrLogItmHDHL {
    uint32_t time = 0;
    uint16_t code = 0;  // 0x40 DEL entry, 0x80 DST entry
    char text[24] = {};
};

constexpr size_t kHistoryItemsAt_H = 16, kHistoryItemSize_H = 16;
constexpr size_t kHistoryItemsAt_HDHL = 20, kHistoryItemSize_HDHL = 32;
// The H form's page holds at most this many items.
constexpr size_t kHistoryMaxItems_H = 16384;

// Event names of the HDHL form.
extern const char* const lpszHistoryType[61];

// Status and item count of a page; false when the page is too short for both.
bool ReadHistoryHeader(const uint8_t* p, size_t len, uint32_t* status, int32_t* count);
// Rows of a page's items, only those wholly inside the page, at most
// maxItems of them.
std::vector<HistoryInfo> ReadHistoryItems_H(const uint8_t* p, size_t len, size_t maxItems = SIZE_MAX);
std::vector<HistoryInfo> ReadHistoryItems_HDHL(const uint8_t* p, size_t len, size_t maxItems = SIZE_MAX);

// Event and detail texts of an H item.
void getLogString_H(const St_GrDvrLogItm& item, std::string* event, std::string* detail);
// Row of one item.
HistoryInfo HistoryRow_H(const St_GrDvrLogItm& item);
HistoryInfo HistoryRow_HDHL(const St_DvrLogItmHDHL& item);

// The field's text up to its first zero byte, or empty when that is not
// valid UTF-8.
std::string Utf8FieldText(const char* field, size_t size);

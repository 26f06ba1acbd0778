// The search answer readers against the test recorder's own packing: month
// grid, day maps in both forms (chosen by size, or cut short), event-log
// pages in both forms, and the event-log request record.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/NxLib.h"
#include "panels/SearchRecords.h"
#include "recorder/Protocol.h"
#include "recorder/Wire.h"

namespace {

using testrec::Bytes;
using testrec::civilToTime;

TEST(SearchMonthGrid, MatchesTheCalendarForEveryMonthRecordersCover)
{
    for (int y = 1970; y <= 2037; ++y) {
        for (int m = 1; m <= 12; ++m) {
            const uint32_t first = civilToTime(y, m, 1);
            const int weekday = int((first / 86400 + 4) % 7);
            int days = 28;
            while (days < 31 && testrec::timeToCivil(civilToTime(y, m, days + 1)).month == m)
                ++days;
            const CalendarMonth g = LayoutMonth(y, m);
            ASSERT_EQ(g.firstColumn, weekday) << y << "-" << m;
            ASSERT_EQ(g.days, days) << y << "-" << m;
            ASSERT_EQ(g.cell[weekday], 1);
            ASSERT_EQ(g.cell[weekday + days - 1], days);
        }
    }
}

TEST(SearchMonthGrid, MonthsOutsideTheYearGiveAnEmptyGrid)
{
    EXPECT_EQ(LayoutMonth(2024, 0).days, 0);
    EXPECT_EQ(LayoutMonth(2024, 13).cell[0], 0);
}

// The recorder's day answer for 15 January 2024, as the link hands it on.
Bytes dayRecord(int group, uint32_t from, uint32_t to)
{
    Bytes answer = testrec::dayAnswer(group, 0, 30, civilToTime(2024, 1, 15), from, to, 4);
    return Bytes(answer.begin() + 8, answer.end());
}

// A day record is read in the form of its size: 11,620 bytes are the HDHL
// form (groups 0, 1 and 10 too), 17,380 the H form; group 2's 14,452 bytes
// are an H map read only as far as it goes.
TEST(SearchDayMap, FormFollowsTheRecordSize)
{
    const uint32_t day = civilToTime(2024, 1, 15), next = civilToTime(2024, 1, 16);
    for (int group : {0, 1, 8, 9, 10, 11, 12}) {
        const Bytes rec = dayRecord(group, day, next);
        ASSERT_EQ(rec.size(), 11620u);
        ASSERT_TRUE(IsHdhlDayRecord(rec.size(), group)) << group;
        // Hour 23, minute 25, field md at 8 + 484 * 23 + 8 * 25 + 2.
        EXPECT_EQ(testrec::readLe16(rec, 8 + 484 * 23 + 8 * 25 + 2), 0x0004) << group;
        auto map = std::make_unique<tagSearchDay_HDHL>();
        ReadSearchDay(rec.data(), rec.size(), map.get());
        EXPECT_EQ(map->rhour[23].rch, 0x000F) << group;
        EXPECT_EQ(map->rhour[23].rmin[25].md, 0x0004) << group;
        EXPECT_EQ(map->rhour[23].rmin[25].sensor, 0x0004) << group;
        EXPECT_EQ(map->rhour[23].rmin[59].rch, 0x000F) << group;
    }
    const Bytes h = dayRecord(7, day, next);
    ASSERT_EQ(h.size(), 17380u);
    EXPECT_FALSE(IsHdhlDayRecord(h.size(), 8));  // the size decides, not the group
    EXPECT_EQ(testrec::readLe16(h, 8 + 724 * 23 + 12 * 25 + 4), 0x0004);
    auto map = std::make_unique<tagSearchDay_H>();
    ReadSearchDay(h.data(), h.size(), map.get());
    EXPECT_EQ(map->rhour[23].rmin[25].sensor, 0x0004);

    const Bytes two = dayRecord(2, day, next);
    ASSERT_EQ(two.size(), 14452u);
    EXPECT_FALSE(IsHdhlDayRecord(two.size(), 2));
    EXPECT_TRUE(IsHdhlDayRecord(two.size(), 11));
    ReadSearchDay(two.data(), two.size(), map.get());
    EXPECT_NE(map->rhour[19].rch, 0);
    EXPECT_EQ(map->rhour[20].rch, 0);
    // Hour 19 ends inside minute 57.
    EXPECT_EQ(map->rhour[19].rmin[57].rch, 0x000F);
    EXPECT_EQ(map->rhour[19].rmin[58].rch, 0);
    // Nothing at all leaves an empty day.
    ReadSearchDay(nullptr, 0, map.get());
    EXPECT_EQ(map->rch, 0);
    EXPECT_EQ(map->rhour[8].rmin[0].rch, 0);
}

// ---------------------------------------------------------------------------
// Event log

// "time|event|detail" of each row.
std::vector<std::string> texts(const std::vector<HistoryInfo>& rows)
{
    std::vector<std::string> out;
    for (const HistoryInfo& r : rows)
        out.push_back(r.GetTimeString() + "|" + r.GetEvent() + "|" + r.GetInfo());
    return out;
}

const uint32_t kDay = civilToTime(2024, 1, 15);

TEST(SearchHistory, HItemsOfEveryKind)
{
    // Group 1, version 6: 3,856-byte pages of the H form.
    Bytes page = testrec::historyPage(1, 11, 6, testrec::HistoryStatus::End, kDay, 0, 12);
    ASSERT_EQ(page.size(), 3856u);
    uint32_t status = 0;
    int32_t count = 0;
    ASSERT_TRUE(ReadHistoryHeader(page.data(), page.size(), &status, &count));
    EXPECT_EQ(status, HISTORY_END);
    const std::vector<HistoryInfo> rows = ReadHistoryItems_H(page.data(), page.size());
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows[0].GetTime(), int32_t(kDay + 600));
    const std::vector<std::string> t = texts(rows);
    EXPECT_EQ(t[0], "2024/01/15 00:10:00|MOTION|CH 1");
    EXPECT_EQ(t[1], "2024/01/15 00:20:00|SENSOR|CH 2");
    EXPECT_EQ(t[2], "2024/01/15 00:30:00|SYSTEM|Power on");
    EXPECT_EQ(t[3], "2024/01/15 00:40:00|UNATTENDED|CH 3");
    EXPECT_EQ(t[4], "2024/01/15 00:50:00|MUSEUM|CH 4");
    EXPECT_EQ(t[5], "2024/01/15 01:00:00|VIDEO ON|CH 1");
    EXPECT_EQ(t[6], "2024/01/15 01:10:00|VIDEO LOSS|CH 2");
    EXPECT_EQ(t[7], "2024/01/15 01:20:00|SYSTEM|Change Record On/Off (CH3)");
    EXPECT_EQ(t[8], "2024/01/15 01:30:00|SYSTEM|Change Password");
    EXPECT_EQ(t[9], "2024/01/15 01:40:00|NETWORK|Search");
    EXPECT_EQ(t[10], "2024/01/15 01:50:00|EMERGENCY|Off");
    EXPECT_EQ(t[11], "2024/01/15 02:00:00|Unknown 6|");
}

TEST(SearchHistory, HItemEdges)
{
    std::string event, detail;
    getLogString_H({0, 0x91, 0, 0}, &event, &detail);
    EXPECT_EQ(event + "/" + detail, "SYSTEM/Power off");
    getLogString_H({0, 0x10, 0xFF, 0}, &event, &detail);
    EXPECT_EQ(event + "/" + detail, "MOTION/");
    getLogString_H({0, 0x94, 0xFF, 0x240}, &event, &detail);  // the setup text does not test 0xFF
    EXPECT_EQ(detail, "Change Motion Area (CH256)");
    getLogString_H({0, 0x94, 0, 12345}, &event, &detail);
    EXPECT_EQ(detail, "Setup Operation");
    getLogString_H({0, 0x9F, 0, 0}, &event, &detail);
    EXPECT_EQ(detail, "");
    EXPECT_EQ(HistoryRow_H({0, 0x10, 0, 0}).GetTimeString(), "2008/01/01 00:00:00");
}

TEST(SearchHistory, HdhlItemsOfEveryKind)
{
    Bytes page = testrec::historyPage(11, 120, 30, testrec::HistoryStatus::Normal, kDay, 0, 10);
    ASSERT_EQ(page.size(), 8208u);
    const std::vector<std::string> t = texts(ReadHistoryItems_HDHL(page.data(), page.size()));
    ASSERT_EQ(t.size(), 10u);
    EXPECT_EQ(t[0], "2024/01/15 00:10:00|MOTION|CH1");
    EXPECT_EQ(t[1], "2024/01/15 00:20:00|SENSOR|CH2");
    EXPECT_EQ(t[2], "2024/01/15 00:30:00|POWER_ON|");
    EXPECT_EQ(t[3], "2024/01/15 00:40:00 DEL|MOTION|CH3");
    EXPECT_EQ(t[4], "2024/01/15 00:50:00 DST|MOTION|CH4");
    EXPECT_EQ(t[5], "2024/01/15 01:00:00 DEL|VIDEO_LOSS|CH1");
    EXPECT_EQ(t[6], "2024/01/15 01:10:00|CAMERA_TITLE|Kamera \xC3\xBC");
    EXPECT_EQ(t[7], "2024/01/15 01:20:00|NETWORK LINK UP|");  // not UTF-8
    EXPECT_EQ(t[8], "2024/01/15 01:30:00|LOG_ON|ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(t[9], "2024/01/15 01:40:00| |x");  // 61 wraps to the first name
}

TEST(SearchHistory, ItemCountIsBoundedByThePage)
{
    Bytes h = testrec::historyPage(7, 61, 30, testrec::HistoryStatus::End, kDay, 0, 3);
    h.resize(16 + 16 * 3 + 15);  // room for three items and part of a fourth
    testrec::setLe32(h, 4, 0x7FFFFFFF);
    EXPECT_EQ(ReadHistoryItems_H(h.data(), h.size()).size(), 3u);
    EXPECT_EQ(ReadHistoryItems_H(h.data(), h.size(), 2).size(), 2u);
    testrec::setLe32(h, 4, 0x80000000u);  // negative
    EXPECT_TRUE(ReadHistoryItems_H(h.data(), h.size()).empty());

    Bytes d = testrec::historyPage(8, 51, 30, testrec::HistoryStatus::End, kDay, 0, 3);
    d.resize(20 + 32 * 2 + 31);
    testrec::setLe32(d, 4, 5);
    EXPECT_EQ(ReadHistoryItems_HDHL(d.data(), d.size()).size(), 2u);
    EXPECT_EQ(ReadHistoryItems_HDHL(d.data(), d.size(), 1).size(), 1u);
    d.resize(19);
    EXPECT_TRUE(ReadHistoryItems_HDHL(d.data(), d.size()).empty());

    // Too short for status and count.
    uint32_t status = 9;
    int32_t count = 9;
    EXPECT_FALSE(ReadHistoryHeader(d.data(), 7, &status, &count));
    EXPECT_FALSE(ReadHistoryHeader(nullptr, 0, &status, &count));
    EXPECT_TRUE(ReadHistoryItems_H(nullptr, 0).empty());
}

TEST(SearchHistory, DetailTextMustBeUtf8)
{
    auto text = [](const std::string& s) {
        char field[24] = {};
        s.copy(field, sizeof field);
        return Utf8FieldText(field, sizeof field);
    };
    EXPECT_EQ(text("CH1 \xE2\x82\xAC \xF0\x9F\x98\x80"), "CH1 \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(text("\xC0\xAF"), "");              // overlong
    EXPECT_EQ(text("\xED\xA0\x80"), "");          // surrogate
    EXPECT_EQ(text("\xF4\x90\x80\x80"), "");      // above U+10FFFF
    EXPECT_EQ(text("ab\x80"), "");                // stray continuation
    EXPECT_EQ(text("abcdefghijklmnopqrstuvw\xE2"), "");  // cut by the field's end
    EXPECT_EQ(text(std::string("ok\0\xFF", 4)), "ok");  // ends at the first zero
}

TEST(SearchHistory, RequestRecord)
{
    tagHistoryReq req;
    req.startTime = kDay;
    req.chMask = 0x000D;
    req.eventMask = HISTORY_EVENT_MOTION | HISTORY_EVENT_SENSOR;
    uint8_t out[kHistoryReqSize];
    PackHistoryReq(req, out);
    Bytes want;
    testrec::appendLe32(want, kDay);
    testrec::appendLe32(want, 0);
    testrec::appendLe16(want, 0x000D);
    testrec::appendLe16(want, 0x0003);
    testrec::appendLe16(want, 0);
    testrec::appendLe16(want, 0x0100);
    EXPECT_EQ(Bytes(out, out + sizeof out), want);
}

}  // namespace

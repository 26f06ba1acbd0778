#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/NxLib.h"

namespace {

TEST(Time, KnownValues)
{
    EXPECT_EQ(mktime2(1970, 1, 1, 0, 0, 0), 0u);
    EXPECT_EQ(mktime2(2008, 1, 1, 0, 0, 0), kTime2008);
    EXPECT_EQ(mktime2(2038, 1, 19, 3, 14, 7), 2147483647u);
    EXPECT_EQ(mktime2(2000, 3, 1, 0, 0, 0) - mktime2(2000, 2, 28, 0, 0, 0), 172800u);
    // Out-of-range fields roll over.
    EXPECT_EQ(mktime2(2010, 1, 32, 0, 0, 0), mktime2(2010, 2, 1, 0, 0, 0));
    EXPECT_EQ(mktime2(2010, 5, 3, 24, 0, 0), mktime2(2010, 5, 4, 0, 0, 0));
}

void expectTm(uint32_t t, int y, int mo, int d, int h, int mi, int s)
{
    tm_t tm{};
    to_tm(t, &tm);
    EXPECT_EQ(tm.year, y) << t;
    EXPECT_EQ(tm.mon, mo) << t;
    EXPECT_EQ(tm.mday, d) << t;
    EXPECT_EQ(tm.hour, h) << t;
    EXPECT_EQ(tm.min, mi) << t;
    EXPECT_EQ(tm.sec, s) << t;
}

TEST(Time, ToTmVectors)
{
    tm_t tm{};
    to_tm(0, &tm);
    EXPECT_EQ(tm.wday, 4);
    to_tm(kTime2008, &tm);
    EXPECT_EQ(tm.wday, 2);
    expectTm(0, 1970, 1, 1, 0, 0, 0);
    expectTm(kTime2008, 2008, 1, 1, 0, 0, 0);
    expectTm(951782400u, 2000, 2, 29, 0, 0, 0);
    expectTm(951868800u, 2000, 3, 1, 0, 0, 0);
    expectTm(2147483647u, 2038, 1, 19, 3, 14, 7);
    expectTm(uint32_t(-1), 1970, 1, 1, 0, 0, 0);
    expectTm(uint32_t(-432000), 1970, 1, 1, 0, 0, 0);
}

TEST(Time, RoundTrip)
{
    // A stride that visits every hour, minute and second offset over the range.
    for (uint64_t t = 0; t <= 2147483647u; t += 7919) {
        tm_t tm{};
        to_tm(uint32_t(t), &tm);
        ASSERT_EQ(mktime2(tm.year, tm.mon, tm.mday, tm.hour, tm.min, tm.sec), uint32_t(t));
    }
    tm_t tm{};
    to_tm(2147483647u, &tm);
    EXPECT_EQ(mktime2(tm.year, tm.mon, tm.mday, tm.hour, tm.min, tm.sec), 2147483647u);
}

std::string nameOf(int id)
{
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    GetModelName(id, buf);
    return buf;
}

TEST(ModelTable, GroupsAndNames)
{
    EXPECT_EQ(GetModelGroup(150), 11u);
    EXPECT_EQ(GetModelGroup(149), 0u);
    EXPECT_EQ(GetModelGroup(0), 0u);
    EXPECT_EQ(GetModelGroup(-5), 0u);
    EXPECT_EQ(GetModelGroup(91), 1u);
    EXPECT_EQ(nameOf(91), "UNKNOWN");
    EXPECT_EQ(GetModelGroup(101), 7u);
    EXPECT_EQ(nameOf(101), "SURRA_M01");
    EXPECT_EQ(nameOf(1), "PROTO_T1");
    EXPECT_EQ(GetModelGroup(1), 8u);
    EXPECT_EQ(nameOf(13), "VOREL_M03");
    EXPECT_EQ(nameOf(22), "VOREL_M05");
    EXPECT_EQ(GetModelGroup(22), 2u);
    EXPECT_EQ(nameOf(45), "TAMIK_M05");
    EXPECT_EQ(nameOf(53), "VOREL_M08");
    EXPECT_EQ(GetModelGroup(53), 8u);
    EXPECT_EQ(nameOf(61), "VOREL_M09");
    EXPECT_EQ(nameOf(66), "VOREL_M14");
    EXPECT_EQ(nameOf(71), "TAMIK_M06");
    EXPECT_EQ(nameOf(79), "TAMIK_M14");
    EXPECT_EQ(GetModelGroup(79), 7u);
    EXPECT_EQ(nameOf(81), "VOREL_M15");
    EXPECT_EQ(GetModelGroup(87), 9u);
    EXPECT_EQ(nameOf(87), "UNKNOWN");
    EXPECT_EQ(GetModelGroup(110), 10u);
    EXPECT_EQ(GetModelGroup(128), 11u);
    EXPECT_EQ(GetModelGroup(131), 12u);
    EXPECT_EQ(GetModelGroup(139), 12u);
    EXPECT_EQ(GetModelGroup(140), 0u);
    EXPECT_EQ(nameOf(999), "UNKNOWN");
}

TEST(ModelTable, NameLeavesTailOfBuffer)
{
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    GetModelName(999, buf);
    EXPECT_EQ(buf[8], 'x');
}

}  // namespace

// The console log under a flood of one line.
#include <gtest/gtest.h>

#include "LinkTestUtil.h"
#include "platform/Log.h"

namespace {

TEST(Log, RepeatedLinesAreCountedAndSummarised)
{
    linktest::LogCapture log;
    for (int i = 0; i < 1000; ++i)
        vlog("flooded line %d\r", i);
    vlog("another line");
    // A few of the flood, then the rest as one count; other lines pass.
    EXPECT_EQ(log.lines(), 11);
    EXPECT_TRUE(log.has("flooded line 9\r\n"));
    EXPECT_FALSE(log.has("flooded line 10\r\n"));
    EXPECT_TRUE(log.has("another line"));
    vlogFlush();
    EXPECT_TRUE(log.has("last message repeated 990 more times: flooded line %d\n"));
    EXPECT_EQ(log.lines(), 12);
    vlogFlush();
    EXPECT_EQ(log.lines(), 12);
}

}  // namespace

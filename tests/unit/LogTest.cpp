// The console log under floods: repeats, many formats, many texts, threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Log.h"

namespace {

// Milliseconds on the log's clock; the tests move it by hand.
std::atomic<long> g_ms{0};
std::chrono::steady_clock::time_point testClock()
{
    return std::chrono::steady_clock::time_point(std::chrono::hours(1) + std::chrono::milliseconds(g_ms.load()));
}

const char kRepeated[] = "last message repeated ";

class Log : public ::testing::Test {
protected:
    Log()
    {
        g_ms = 0;
        m_oldSink = setLogSink([this](const std::string& s) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(s);
        });
        m_oldClock = setLogClock(testClock);
    }
    ~Log() override
    {
        setLogClock(m_oldClock);
        setLogSink(m_oldSink);
    }

    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    int count() const { return int(lines().size()); }
    int countOf(const std::string& line) const
    {
        int n = 0;
        for (const std::string& l : lines())
            n += l == line;
        return n;
    }
    // How many logged lines each written line stands for.
    static long weight(const std::string& l, std::string* text = nullptr)
    {
        long n = 0;
        int used = 0;
        if (std::sscanf(l.c_str(), "last message repeated %ld more times: %n", &n, &used) == 1 && used > 0) {
            if (text)
                *text = l.substr(size_t(used));
            return n;
        }
        int kinds = 0;
        if (std::sscanf(l.c_str(), "%ld more lines not shown, %d kinds", &n, &kinds) == 2 ||
            std::sscanf(l.c_str(), "%ld more lines not shown, over %d kinds", &n, &kinds) == 2) {
            EXPECT_GT(kinds, 0);
            EXPECT_LE(kinds, n);
            return n;
        }
        if (text)
            *text = l;
        return 1;
    }
    // Lines with this text, shown or summarised.
    long accounted(const std::string& text) const
    {
        long n = 0;
        std::string t;
        for (const std::string& l : lines()) {
            long w = weight(l, &t);
            n += t == text ? w : 0;
            t.clear();
        }
        return n;
    }
    long total() const
    {
        long n = 0;
        for (const std::string& l : lines())
            n += weight(l);
        return n;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    LogSink m_oldSink;
    LogClock m_oldClock;
};

TEST_F(Log, RepeatedLinesAreSummarisedWithTheirText)
{
    for (int i = 0; i < 1000; ++i)
        vlog("flooded line %d\r", 7);
    vlog("another line");
    // A few of the flood, then the rest as one count; other lines pass.
    EXPECT_EQ(count(), 11);
    EXPECT_EQ(countOf("flooded line 7\r"), 10);
    EXPECT_EQ(countOf("another line"), 1);
    vlogFlush();
    EXPECT_EQ(countOf("last message repeated 990 more times: flooded line 7"), 1);
    EXPECT_EQ(count(), 12);
    vlogFlush();
    EXPECT_EQ(count(), 12);

    // One format, two texts: each counted and named apart, at the first line
    // logged once the second is over.
    for (int i = 0; i < 50; ++i) {
        vlog("%s", "command echoed");
        vlog("%s", "connection closed by the device");
    }
    g_ms = 1100;
    vlog("next second");
    const std::vector<std::string> l = lines();
    ASSERT_EQ(l.size(), 12u + 20u + 3u);
    EXPECT_EQ(l[32], "last message repeated 40 more times: command echoed");
    EXPECT_EQ(l[33], "last message repeated 40 more times: connection closed by the device");
    EXPECT_EQ(l[34], "next second");
}

TEST_F(Log, FailureReasonShowsThroughAFlood)
{
    // A device floods command messages, all through one format.
    char text[64];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(text, sizeof text, "command %d echoed", i % 500);
        vlog("%s", text);
    }
    const int flood = count();
    vlogFailure("%s", "connection closed by the device");
    vlogFailure("login failed: %s", "bad password");
    EXPECT_EQ(countOf("connection closed by the device"), 1);
    EXPECT_EQ(countOf("login failed: bad password"), 1);
    EXPECT_EQ(count(), flood + 2);

    // A failure's own repeats are summarised with its own text.
    for (int i = 0; i < 100; ++i)
        vlogFailure("%s", "connection closed by the device");
    vlogFlush();
    EXPECT_EQ(countOf("connection closed by the device"), 10);
    EXPECT_EQ(accounted("connection closed by the device"), 101);
    EXPECT_EQ(total(), 100000 + 102);
    for (const std::string& l : lines())
        EXPECT_EQ(l.find("%s"), std::string::npos) << l;
}

TEST_F(Log, ManyFormatsTakingTurnsStayBounded)
{
    std::vector<std::string> formats;
    for (int k = 0; k < 80; ++k)
        formats.push_back("line of kind %d, format " + std::to_string(k));
    for (int i = 0; i < 1000; ++i)
        for (int k = 0; k < 80; ++k)
            vlog(formats[size_t(k)].c_str(), k);
    const int shown = count();
    EXPECT_LE(shown, 200);
    vlogFlush();
    EXPECT_LE(count(), shown + 81);
    for (int k = 0; k < 80; ++k)
        EXPECT_EQ(accounted("line of kind " + std::to_string(k) + ", format " + std::to_string(k)), 1000) << k;
}

TEST_F(Log, EndlessNewTextsAreCountedInOneLineWhenTheTableIsFull)
{
    // Every line different, 3,000 a second for five seconds.
    for (int i = 0; i < 15000; ++i) {
        g_ms = i / 3;
        vlog("reading %d", i);
    }
    g_ms = 5500;
    vlog("tick");
    const int shown = count();
    EXPECT_LE(shown, 6 * 160);
    int aggregates = 0;
    for (const std::string& l : lines())
        aggregates += l.find(" more lines not shown, ") != std::string::npos;
    EXPECT_GE(aggregates, 4);
    vlogFlush();
    EXPECT_LE(count(), shown + 200);
    EXPECT_EQ(total(), 15001);
}

TEST_F(Log, ThreadsLoggingTogetherLoseNothing)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 20000; ++i) {
                if (i % 1000 == 0)
                    vlogFailure("thread %d failed at %d", t, i);
                else
                    vlog("thread %d says %d", t, i % 50);
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(accounted("thread " + std::to_string(t) + " failed at 0"), 1);
    vlogFlush();
    EXPECT_EQ(total(), 80000);
}

// A process that ends through exit still prints what it owes, also for a
// line whose second is not over.
using LogDeathTest = Log;
TEST_F(LogDeathTest, OwedSummaryIsPrintedWhenTheProcessEnds)
{
    EXPECT_EXIT(
        {
            setLogSink(LogSink());
            for (int i = 0; i < 15; ++i)
                vlogFailure("%s", "device went away");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "last message repeated 5 more times: device went away");
}

}  // namespace

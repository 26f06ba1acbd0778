// Reports from worker threads to the GUI thread, bounded by the mailbox.
#include <gtest/gtest.h>

#include <QObject>
#include <QTest>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "platform/GuiMailbox.h"

namespace {

class Mailbox : public ::testing::Test {
protected:
    void SetUp() override { guitest::ensureApp(); }
    QObject receiver;
};

TEST_F(Mailbox, RepeatsWaitOnceAndOrderedJobsKeepTheirBudget)
{
    GuiMailbox box(&receiver, GuiMailbox::Budget{3, 100});
    std::vector<int> ran;
    // A worker repeating two kinds of report and an ordered one.
    std::thread worker([&] {
        for (int i = 0; i < 10000; ++i) {
            box.postLatest(1, [&ran, i] { ran.push_back(i); });
            box.postLatest(2, [&ran] { ran.push_back(-2); });
        }
        EXPECT_TRUE(box.post([&ran] { ran.push_back(-10); }, 60));
        EXPECT_TRUE(box.post([&ran] { ran.push_back(-11); }, 40));
        EXPECT_FALSE(box.hasRoom(1));
        EXPECT_FALSE(box.post([&ran] { ran.push_back(-12); }, 1));  // over the bytes
    });
    worker.join();
    EXPECT_EQ(box.waitingJobs(), 4);
    EXPECT_EQ(box.waitingBytes(), 100u);
    QTest::qWait(50);
    // The newest value in the place of the first, then the ordered jobs.
    EXPECT_EQ(ran, (std::vector<int>{9999, -2, -10, -11}));
    EXPECT_EQ(box.waitingJobs(), 0);
    // A job alone always fits, whatever its size.
    EXPECT_TRUE(box.post([&ran] { ran.push_back(-20); }, 1000));
    EXPECT_FALSE(box.post([&ran] { ran.push_back(-21); }, 0));
    QTest::qWait(50);
    EXPECT_EQ(ran.back(), -20);

    // Closed: what waits and what comes later never runs.
    ran.clear();
    box.postLatest(1, [&ran] { ran.push_back(1); });
    box.close();
    box.post([&ran] { ran.push_back(2); });
    QTest::qWait(50);
    EXPECT_TRUE(ran.empty());
}

}  // namespace

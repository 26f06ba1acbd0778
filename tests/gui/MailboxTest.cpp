// Reports from worker threads to the GUI thread, bounded by the mailbox.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QObject>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <string>
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

// The controller's search alert opens a modal dialog from a job; answers
// that arrive while it shows wait for it, behind those already waiting.
TEST_F(Mailbox, JobsKeepTheirOrderThroughADialogAJobOpens)
{
    GuiMailbox box(&receiver);
    std::vector<std::string> ran;
    std::thread link;
    std::atomic<bool> posted{false};
    box.postLatest(1, [&] {
        ran.push_back("alert");
        QDialog dialog;
        // Once the dialog's loop runs, a link posts more; then it closes.
        QTimer::singleShot(0, &dialog, [&] {
            link = std::thread([&] {
                box.post([&] { ran.push_back("answer2"); });
                box.postLatest(2, [&] { ran.push_back("state"); });
                posted = true;
            });
        });
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
            if (posted) {
                QCoreApplication::processEvents();
                dialog.accept();
            }
        });
        poll.start(5);
        dialog.exec();
        link.join();
        ran.push_back("alert closed");
    });
    box.post([&] { ran.push_back("answer1"); });
    ASSERT_TRUE(guitest::waitFor([&] { return ran.size() >= 5; }, std::chrono::seconds(10)));
    QTest::qWait(20);
    EXPECT_EQ(ran, (std::vector<std::string>{"alert", "alert closed", "answer1", "answer2", "state"}));
}

TEST_F(Mailbox, JobsPostedDuringDeliveryRunAfterThoseWaitingWithinTheBudget)
{
    GuiMailbox box(&receiver, GuiMailbox::Budget{2, 100});
    std::vector<int> ran;
    box.post([&] {
        ran.push_back(1);
        // What is being delivered no longer counts against the budget.
        EXPECT_TRUE(box.post([&] { ran.push_back(4); }));
        EXPECT_TRUE(box.post([&] { ran.push_back(5); }));
        EXPECT_FALSE(box.post([&] { ran.push_back(-1); }));
        box.postLatest(9, [&] { ran.push_back(6); });
        QCoreApplication::processEvents();
        ran.push_back(2);
    });
    box.post([&] { ran.push_back(3); });
    ASSERT_TRUE(guitest::waitFor([&] { return ran.size() >= 6; }, std::chrono::seconds(10)));
    QTest::qWait(20);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(box.waitingJobs(), 0);
}

TEST_F(Mailbox, OnceCloseReturnsNoJobRunsOrStarts)
{
    GuiMailbox box(&receiver);
    std::atomic<bool> closing{false}, closed{false};
    std::atomic<int> started{0}, finished{0};
    int finishedAtClose = -1, startedAtClose = -1;
    std::thread owner;
    box.post([&] {
        ++started;
        // Another thread closes the mailbox while this job runs.
        owner = std::thread([&] {
            closing = true;
            box.close();
            finishedAtClose = finished;
            startedAtClose = started;
            box.post([&] { ++started; });
            closed = true;
        });
        while (!closing)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the owner is in close() by now
        ++finished;
    });
    box.post([&] { ++started; });
    ASSERT_TRUE(guitest::waitFor([&] { return closed.load(); }, std::chrono::seconds(10)));
    owner.join();
    QTest::qWait(20);
    EXPECT_EQ(finishedAtClose, 1);
    EXPECT_EQ(startedAtClose, 1);
    EXPECT_EQ(started, 1);

    // Closed by a job on the receiver's thread: no wait, nothing after it.
    GuiMailbox own(&receiver);
    std::vector<int> ran;
    own.post([&] {
        own.close();
        ran.push_back(1);
    });
    own.post([&] { ran.push_back(2); });
    QTest::qWait(50);
    EXPECT_EQ(ran, std::vector<int>{1});
}

}  // namespace

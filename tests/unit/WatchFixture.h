#pragma once
// A recorder link against the test recorder, with short liveness limits and
// its pictures taken as a view would: the set-up of the tests of how the
// link watches its peer.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "LinkTestUtil.h"
#include "QueueDrainer.h"
#include "link/NxNet.h"
#include "output/RingBuffer.h"
#include "recorder/TestRecorder.h"

namespace linktest {

using namespace std::chrono_literals;

class WatchFixture : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (net)
            net->StopThread();
        drainer.stop();
        net.reset();
        if (rec)
            rec->stop();
    }
    void startRecorder(testrec::RecorderConfig cfg)
    {
        cfg.streamAudio = false;
        rec = std::make_unique<testrec::TestRecorder>(cfg);
        ASSERT_TRUE(rec->start(0));
    }
    // A link with short limits; its pictures are taken as a view would.
    void connect()
    {
        net = std::make_unique<NxNet>();
        net->setAppController(&reports);
        net->setQpointerV(&videoQ);
        net->SetDecoder(2);
        net->setViewPointer(&reports);
        net->setNetInfo(0, "127.0.0.1", "", "1234", rec->port(), "", 2000, "admin", 2);
        net->silenceLimit = silence;
        net->silenceFirst = silenceFirst;
        net->loginLimit = login;
        net->stallMin = stallMin;
        net->stallMax = stallMax;
        net->keyOnlyStallMax = keyOnlyMax;
        drainer.start(videoQ, [this](const tag_FrameV_Orgin& slot) {
            pictures++;
            if (onPicture)
                onPicture(slot);
        });
        net->CreateThread();
    }
    void streaming(testrec::RecorderConfig cfg = {})
    {
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        connect();
        ASSERT_TRUE(reports.waitStatus(NET_STREAMING, 5s));
    }
    void loggedIn(testrec::RecorderConfig cfg)
    {
        ASSERT_NO_FATAL_FAILURE(startRecorder(cfg));
        connect();
        ASSERT_EQ(rec->waitForLogin(3s), testrec::LoginResult::Accepted);
        ASSERT_TRUE(waitFor([&] { return net->loggedIn(); }, 2s));
    }
    // The link reported these states in this order, others between them.
    bool reportedInOrder(const std::vector<int>& seq)
    {
        std::vector<int> all = reports.statusList();
        auto it = all.begin();
        for (int s : seq) {
            it = std::find(it, all.end(), s);
            if (it == all.end())
                return false;
            ++it;
        }
        return true;
    }
    size_t dataRequests() { return rec->commandCount(6); }
    bool everWaited() { return reportedInOrder({NET_STREAMING, NET_WAIT_DATA}); }

    std::chrono::milliseconds silence{20000};
    std::chrono::milliseconds silenceFirst{65000};
    std::chrono::milliseconds login{10000};
    std::chrono::milliseconds keyOnlyMax{30000};
    std::chrono::milliseconds stallMin{400};
    std::chrono::milliseconds stallMax{800};
    Reports reports;
    RingBuffer videoQ;
    std::unique_ptr<testrec::TestRecorder> rec;
    std::unique_ptr<NxNet> net;
    QueueDrainer drainer;
    std::atomic<int> pictures{0};
    // Sees each picture as the view would take it (drainer thread); set
    // before connect().
    std::function<void(const tag_FrameV_Orgin&)> onPicture;
};

}  // namespace linktest

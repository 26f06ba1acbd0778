// The DDNS lookup: request frames, answer reading, and lookups through the
// test DDNS server that lead both link kinds to their device.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "LinkTestUtil.h"
#include "device/TestDdnsServer.h"
#include "device/TestDevice.h"
#include "link/CDDNS.h"
#include "link/CNetwork.h"
#include "link/NxNet.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"
#include "recorder/BacklogFiller.h"
#include "recorder/TestRecorder.h"

using namespace std::chrono_literals;
using testdev::Bytes;
using testdev::DdnsAnswer;
using testdev::DdnsConfig;
using testdev::TestDdnsServer;

namespace {

using linktest::waitFor;

TEST(DdnsFrames, RequestInBothFormats)
{
    CDDNS d;
    uint8_t out[128];
    d.InitDDNS("a-very-long-ddns-identifier", "127.0.0.1", 2000);
    EXPECT_STREQ(d.webcode(), "a-very-long-ddns-id");  // cut to 19 characters
    ASSERT_EQ(d.buildRequest(out, sizeof out), 92);
    EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x00, 0x00, 0xAD, 0xC2, 0x61, 0xFF, 0x00, 0xFF}));
    EXPECT_EQ(Bytes(out + 88, out + 92), (Bytes{0x00, 0x00, 0x01, 0xB4}));
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(out[9 + 2 * i], 0xFF) << i;
    EXPECT_EQ(out[8], 'a');
    EXPECT_EQ(out[8 + 2 * 19], 0);                 // the id's terminator
    EXPECT_EQ(out[8 + 2 * 32], 0x03);              // 65795: 03 01 01 00
    EXPECT_EQ(out[8 + 2 * 36], 553 & 0xFF);        // 553: 29 02 00 00
    d.InitDDNS("abc", "127.0.0.1", CDDNS::kV2Port);
    ASSERT_EQ(d.buildRequest(out, sizeof out), 52);
    EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x00, 0x00, 0xAD, 0xC3, 0x61, 0x00, 0x00, 0x00}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out + 48), 4), "NEND");
    EXPECT_EQ(Bytes(out + 40, out + 48), (Bytes{0x03, 0x01, 0x01, 0x00, 0x29, 0x02, 0x00, 0x00}));
}

TEST(DdnsFrames, AnswersAreReadOnlyWhenWhole)
{
    auto old = setLogSink([](const std::string&) {});
    char ip[64];
    int port = 0;
    for (bool v2 : {false, true}) {
        DdnsConfig cfg;
        cfg.deviceIp = "192.168.0.1";
        cfg.devicePort = 2000;
        Bytes good = TestDdnsServer::frame(98, TestDdnsServer::answerPayload(cfg), v2);
        ASSERT_TRUE(CDDNS::frameComplete(good.data(), int(good.size())));
        EXPECT_FALSE(CDDNS::frameComplete(good.data(), int(good.size()) - 1));
        ASSERT_TRUE(CDDNS::readAnswer(good.data(), int(good.size()), ip, sizeof ip, &port)) << v2;
        EXPECT_STREQ(ip, "192.168.0.1");
        EXPECT_EQ(port, 2000);
        // Either tail ends a frame of either head.
        Bytes otherTail = good;
        const uint8_t kV1Tail[4] = {0x00, 0x00, 0x01, 0xB4};
        std::memcpy(otherTail.data() + otherTail.size() - 4, v2 ? kV1Tail : reinterpret_cast<const uint8_t*>("NEND"), 4);
        ASSERT_TRUE(CDDNS::frameComplete(otherTail.data(), int(otherTail.size()))) << v2;
        port = 0;
        ASSERT_TRUE(CDDNS::readAnswer(otherTail.data(), int(otherTail.size()), ip, sizeof ip, &port)) << v2;
        EXPECT_EQ(port, 2000);
        for (DdnsAnswer bad : {DdnsAnswer::Short, DdnsAnswer::NoTerminator, DdnsAnswer::PortZero}) {
            cfg.answer = bad;
            Bytes f = TestDdnsServer::frame(98, TestDdnsServer::answerPayload(cfg), v2);
            EXPECT_FALSE(CDDNS::readAnswer(f.data(), int(f.size()), ip, sizeof ip, &port)) << int(bad) << v2;
        }
        Bytes wrongId = TestDdnsServer::frame(99, TestDdnsServer::answerPayload(DdnsConfig{}), v2);
        EXPECT_FALSE(CDDNS::readAnswer(wrongId.data(), int(wrongId.size()), ip, sizeof ip, &port));
    }
    const uint8_t notAFrame[16] = {1, 2, 3};
    EXPECT_FALSE(CDDNS::readAnswer(notAFrame, sizeof notAFrame, ip, sizeof ip, &port));
    setLogSink(old);
}

// ---------------------------------------------------------------------------
// Lookups

class DdnsLookup : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (auto& l : links)
            l->StopThread();
        links.clear();
        server.reset();
        if (dev)
            dev->stop();
        if (rec)
            rec->stop();
    }
    bool startServer(DdnsConfig cfg, bool onV2Port = false)
    {
        server = std::make_unique<TestDdnsServer>(cfg);
        return onV2Port ? server->startOnV2Port() : server->start();
    }
    // A second-device link that looks its device up through the server.
    CNetwork* deviceLink(const std::string& server, int port, const std::function<void(CDDNS&)>& tune = {})
    {
        auto net = std::make_unique<CNetwork>();
        net->setAppController(&reports);
        net->setNetInfo(1, "0.0.0.0", "lumo-1", "1234", 1, server.c_str(), port, "", 1);
        if (tune)
            tune(net->ddns());
        net->CreateThread();
        links.push_back(std::move(net));
        return static_cast<CNetwork*>(links.back().get());
    }

    linktest::LogCapture log;
    linktest::Reports reports;
    std::unique_ptr<TestDdnsServer> server;
    std::unique_ptr<testdev::TestDevice> dev;
    std::unique_ptr<testrec::TestRecorder> rec;
    std::vector<std::unique_ptr<CoNetwork>> links;
};

TEST_F(DdnsLookup, SecondDeviceFoundInV1AndV2)
{
    testdev::DeviceConfig devCfg;
    devCfg.webCode = "lumo-1";  // the DDNS id is also the device's web code
    dev = std::make_unique<testdev::TestDevice>(devCfg);
    ASSERT_TRUE(dev->start(0));
    for (bool v2 : {false, true}) {
        DdnsConfig cfg;
        cfg.v2 = v2;
        cfg.devicePort = dev->port();
        cfg.answerPieces = {3, 9, 20};  // the answer comes in pieces
        if (!startServer(cfg, v2))
            GTEST_SKIP() << "no loopback address free on port 17000";
        CNetwork* net = deviceLink(server->address(), server->port());
        ASSERT_TRUE(dev->waitUntil([&](const testdev::DeviceStatus& s) { return s.logins == (v2 ? 2 : 1); }, 5s));
        EXPECT_EQ(net->_siteInfo().dvrPort, dev->port());
        EXPECT_STREQ(net->_siteInfo().dvrip, "127.0.0.1");
        ASSERT_EQ(server->requests().size(), 1u);
        EXPECT_EQ(server->requests()[0].size(), v2 ? 52u : 92u);
        EXPECT_GT(reports.connectSteps.load(), 0);  // the "DDNS" progress line
        net->StopThread();
    }
}

TEST_F(DdnsLookup, RecorderFoundInV1AndV2WithItsSteps)
{
    testrec::RecorderConfig rc;
    rc.streamVideo = false;
    rc.streamAudio = false;
    rec = std::make_unique<testrec::TestRecorder>(rc);
    ASSERT_TRUE(rec->start(0));
    for (bool v2 : {false, true}) {
        DdnsConfig cfg;
        cfg.v2 = v2;
        cfg.devicePort = rec->port();
        if (!startServer(cfg, v2))
            GTEST_SKIP() << "no loopback address free on port 17000";
        linktest::Reports steps;
        auto nx = std::make_unique<NxNet>();
        nx->setAppController(&steps);
        nx->setViewPointer(&steps);
        nx->setNetInfo(1, "", "h-recorder", "1234", 1, server->address().c_str(), server->port(), "admin", 2);
        nx->CreateThread();
        EXPECT_TRUE(rec->waitUntil([&](const testrec::RecorderStatus& s) { return s.connections == (v2 ? 2 : 1); },
                                   5s));
        ASSERT_TRUE(steps.waitStatus(NET_CONNECT_REQ, 5s));
        std::vector<int> want = {NET_DDNS_CONNECT_REQ, NET_DDNS_SERVER_OK, NET_DDNS_INFO_OK, NET_CONNECT_REQ};
        std::vector<int> got = steps.statusList();
        got.resize(std::min(got.size(), want.size()));
        EXPECT_EQ(got, want) << v2;
        {
            std::lock_guard<std::mutex> lock(steps.m);
            EXPECT_EQ(steps.infos[0], server->address());
        }
        EXPECT_EQ(nx->_siteInfo().dvrPort, rec->port());
        ASSERT_TRUE(server->waitForRequests(1, 2s));
        EXPECT_EQ(server->requests()[0].size(), v2 ? 52u : 92u);
        nx->StopThread();
    }
}

TEST_F(DdnsLookup, RecorderReportsFailedSteps)
{
    DdnsConfig shortAnswer;
    shortAnswer.answer = DdnsAnswer::Short;
    ASSERT_TRUE(startServer(shortAnswer));
    for (int port : {1, int(server->port())}) {
        linktest::Reports steps;
        NxNet nx;
        nx.setViewPointer(&steps);
        nx.setNetInfo(1, "", "g1", "1234", 1, "127.0.0.1", port, "admin", 2);
        nx.CreateThread();
        int last = port == 1 ? NET_DDNS_SERVER_FAIL : NET_DDNS_INFO_FAIL;
        EXPECT_TRUE(steps.waitStatus(last, 5s));
        EXPECT_TRUE(waitFor([&] { return nx.isThreadExitDone(); }, 5s));
        std::vector<int> want = port == 1 ? std::vector<int>{NET_DDNS_CONNECT_REQ, NET_DDNS_SERVER_FAIL}
                                          : std::vector<int>{NET_DDNS_CONNECT_REQ, NET_DDNS_SERVER_OK, NET_DDNS_INFO_FAIL};
        EXPECT_EQ(steps.statusList(), want);
    }
}

TEST_F(DdnsLookup, FailuresEndTheLinkWithTheirState)
{
    struct Case {
        DdnsConfig cfg;
        uint32_t state;
        const char* log;
    };
    DdnsConfig wrongGreeting, close, portZero, silent, trickle;
    wrongGreeting.greetingId = 41;
    // One byte at a time: each byte would restart a wait, the deadline
    // stays where it is.
    trickle.answerPieces.assign(60, 1);
    trickle.pieceDelayMs = 25;
    trickle.devicePort = 9;  // a whole answer would be a success
    close.answer = DdnsAnswer::Close;
    portZero.answer = DdnsAnswer::PortZero;
    silent.answer = DdnsAnswer::None;
    for (const Case& c : {Case{wrongGreeting, NET_DDNS_SERVER_FAIL, ""},
                          Case{close, NET_DDNS_INFO_FAIL, "ddns connection closed"},
                          Case{portZero, NET_DDNS_INFO_FAIL, "ddns answer without a port"},
                          Case{silent, NET_DDNS_INFO_FAIL, "ddns login timeout"},
                          Case{trickle, NET_DDNS_INFO_FAIL, "ddns login timeout"}}) {
        ASSERT_TRUE(startServer(c.cfg));
        CNetwork* net = deviceLink(server->address(), server->port(), [](CDDNS& d) { d.timing.answerDeadlineMs = 600; });
        EXPECT_TRUE(waitFor([&] { return net->isThreadExitDone(); }, 5s));
        EXPECT_EQ(net->state(), c.state) << c.log;
        EXPECT_TRUE(log.has(c.log)) << c.log;
        server.reset();
    }
    // No server at all.
    CNetwork* net = deviceLink("127.0.0.1", 1);
    EXPECT_TRUE(waitFor([&] { return net->isThreadExitDone(); }, 5s));
    EXPECT_EQ(net->state(), uint32_t(NET_DDNS_SERVER_FAIL));
}

TEST_F(DdnsLookup, StopEndsEveryWait)
{
    testrec::BlockedListener blocked;
    ASSERT_TRUE(blocked.ok());
    DdnsConfig noGreeting, noAnswer;
    noGreeting.greet = false;
    noAnswer.answer = DdnsAnswer::None;
    // Connect wait, greeting wait, answer wait.
    for (int step = 0; step < 3; ++step) {
        std::string addr = "127.0.0.1";
        int port = blocked.port();
        if (step > 0) {
            ASSERT_TRUE(startServer(step == 1 ? noGreeting : noAnswer));
            port = server->port();
        }
        CNetwork* net = deviceLink(addr, port);
        std::this_thread::sleep_for(400ms);
        EXPECT_FALSE(net->isThreadExitDone()) << step;
        auto t0 = std::chrono::steady_clock::now();
        net->StopThread();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s) << step;
        EXPECT_TRUE(log.has("ExitThread...")) << step;
        server.reset();
    }
}

}  // namespace

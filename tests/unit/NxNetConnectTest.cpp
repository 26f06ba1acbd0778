// Connecting over loopback: refused, unanswered, stopped while waiting, and a
// peer that goes away.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <string>
#include <vector>

#include "LinkTestUtil.h"
#include "link/NxNet.h"
#include "platform/Log.h"
#include "recorder/BacklogFiller.h"

using namespace linktest;
using namespace std::chrono_literals;

namespace {

int listenOn(int backlog, int* port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, backlog);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

class Connect : public ::testing::Test {
protected:
    void SetUp() override
    {
        net.setAppController(&reports);
        net.setViewPointer(&reports);
    }
    void TearDown() override
    {
        net.StopThread();
    }
    void start(int port)
    {
        net.setNetInfo(0, "127.0.0.1", "", "pw", port, "", 2000, "admin", 2);
        net.CreateThread();
    }
    LogCapture log;
    Reports reports;
    NxNet net;
};

TEST_F(Connect, RefusedPortGivesStatus8)
{
    int port = 0;
    int fd = listenOn(1, &port);
    close(fd);  // nothing listens there now
    start(port);
    ASSERT_TRUE(reports.waitStatus(NET_CONNECT_FAIL, 5s));
    net.StopThread();
    EXPECT_FALSE(net.IsConnectDVR());
    EXPECT_EQ(reports.statusList().front(), NET_CONNECT_REQ);
}

TEST_F(Connect, UnansweredHandshakeTimesOutAfterFifteenAttempts)
{
    testrec::BlockedListener blocked;  // handshakes are never answered
    ASSERT_TRUE(blocked.ok());
    start(blocked.port());
    ASSERT_TRUE(reports.waitStatus(NET_CONNECT_FAIL, 15s));
    EXPECT_TRUE(log.has("SELECT TIMEOUT~~~~~~~~~ 0"));
    EXPECT_TRUE(log.has("Timeout"));
    EXPECT_EQ(reports.connectSteps.load(), 15);
}

TEST_F(Connect, StopDuringTheWaitEndsIt)
{
    testrec::BlockedListener blocked;
    ASSERT_TRUE(blocked.ok());
    start(blocked.port());
    ASSERT_TRUE(reports.waitStatus(NET_CONNECT_REQ, 5s));
    net.StopThread();
    EXPECT_TRUE(net.isThreadExitDone());
    EXPECT_TRUE(log.has("ExitThread..."));
    EXPECT_FALSE(log.has("Timeout\n"));
    EXPECT_TRUE(log.has("stopthread ok"));
}

TEST_F(Connect, PeerCloseIsNoticed)
{
    int port = 0;
    int lfd = listenOn(4, &port);
    start(port);
    int peer = accept(lfd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    for (int i = 0; i < 200 && !net.IsConnectDVR(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(net.IsConnectDVR());
    close(peer);
    for (int i = 0; i < 500 && net.IsConnectDVR(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(net.IsConnectDVR());
    EXPECT_TRUE(log.has("Disconnect(TcpReceivePump)"));
    close(lfd);
}

TEST_F(Connect, PortOutOfRangeFailsInsteadOfWrapping)
{
    start(104185);  // would be 38649 cut to 16 bits
    ASSERT_TRUE(reports.waitStatus(NET_CONNECT_FAIL, 5s));
    EXPECT_TRUE(log.has("port 104185 out of range"));
    for (int s : reports.statusList())
        EXPECT_NE(s, NET_CONNECT_REQ);
}

// A resolver that never answers holds up neither the stop nor the worker's
// exit; the link says it is resolving meanwhile.
TEST_F(Connect, StopDuringAHostLookupThatNeverAnswers)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};
    HostLookup::setResolver([released, &calls](const std::string& host, in_addr*) {
        ++calls;
        released.wait();
        return false;
    });
    net.setNetInfo(0, "recorder.test", "", "pw", 9000, "", 2000, "admin", 2);
    net.CreateThread();
    for (int i = 0; i < 200 && !net.isResolving(); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(net.isResolving());
    auto begin = std::chrono::steady_clock::now();
    net.StopThread();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    EXPECT_TRUE(net.isThreadExitDone());
    EXPECT_FALSE(net.isResolving());
    EXPECT_EQ(calls.load(), 1);
    HostLookup::setResolver({});
    release.set_value();
}

TEST(LinkLifecycle, StopWithoutThreadAndSiteFields)
{
    NxNet net;
    net.StopThread();  // never started: returns at once
    EXPECT_TRUE(net.isThreadExitDone());
    net.setNetInfo(0, "host", "0123456789ABCDEFGHIJ", "0123456789abcdef", 9000, "ddns", 17000,
                   "uuuuuuuuuuuuuuuu", 2);
    tagTSiteInfo s = net._siteInfo();
    EXPECT_STREQ(s.userPass, "0123456789abcde");
    EXPECT_STREQ(s.userId, "uuuuuuuuuuuuuuu");
    EXPECT_STREQ(s.ddnsId, "0123456789ABCDEF");
    EXPECT_STREQ(s.ddnsIp, "");
    EXPECT_EQ(s.dvrPort, 9000);
    EXPECT_EQ(s.ddnsPort, 2000);
    EXPECT_EQ(s.nModelNum, 2);
}

}  // namespace

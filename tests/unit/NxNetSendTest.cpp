// Command frames and the send ring, read back through a real socket pair.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "LinkTestUtil.h"
#include "link/NxNet.h"
#include "platform/Log.h"

using namespace linktest;

namespace {

class SendRing : public ::testing::Test {
protected:
    void SetUp() override
    {
        old = setLogSink([this](const std::string& s) { log += s + "\n"; });
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        net.setSocketForTest(fds[0], true);
    }
    void TearDown() override
    {
        net.setSocketForTest(-1, false);
        close(fds[0]);
        close(fds[1]);
        setLogSink(old);
    }
    // Pumps everything queued and reads what reached the peer.
    Bytes sent()
    {
        for (int i = 0; i < 8 && net.sendReadQ() != net.sendWriteQ(); ++i)
            net.TcpSendPump();
        Bytes out(200000);
        ssize_t n = recv(fds[1], out.data(), out.size(), MSG_DONTWAIT);
        out.resize(n > 0 ? size_t(n) : 0);
        return out;
    }
    NxNet net;
    int fds[2];
    LogSink old;
    std::string log;
};

TEST_F(SendRing, EmptyPayloadFramesInBothFormats)
{
    net.SendCmdToServer(13, 0, 0);
    EXPECT_EQ(sent(), (Bytes{0x00, 0x00, 0xAD, 0xC2, 13, 0xFF, 0, 0xFF, 0x00, 0x00, 0x01, 0xB4}));
    net.setCmdV2(true);
    net.SendCmdToServer(13, 0, 0);
    EXPECT_EQ(sent(), (Bytes{0x00, 0x00, 0xAD, 0xC3, 13, 0, 0, 0, 'N', 'E', 'N', 'D'}));
    EXPECT_NE(log.find("COMMAND_SEND OK 13"), std::string::npos);
}

TEST_F(SendRing, PayloadFrames)
{
    uint8_t speed[4] = {0xFE, 0xFF, 0, 1};
    net.SendCmdToServer(26, speed, 4);
    EXPECT_EQ(sent(), cmdV1(26, {0xFE, 0xFF, 0, 1}));
    net.SendCmdToServer(15, 3, 0x01020304);
    EXPECT_EQ(sent(), cmdV1(15, {3, 0, 0, 0, 4, 3, 2, 1}));
    net.setCmdV2(true);
    net.SendCmdToServer(15, 2, 7);
    EXPECT_EQ(sent(), cmdV2(15, {2, 0, 0, 0, 7, 0, 0, 0}));
    // A command id above 255 keeps its high byte in V1.
    net.setCmdV2(false);
    net.SendCmdToServer(300, 0, 0);
    EXPECT_TRUE(sent().empty());
    EXPECT_NE(log.find("Unknown send command 300"), std::string::npos);
}

TEST_F(SendRing, ShortRecordIsNotSent)
{
    uint8_t rec[10] = {};
    net.SendCmdToServer(6, rec, sizeof rec);
    EXPECT_TRUE(sent().empty());
}

TEST_F(SendRing, OddPayloadV1)
{
    uint8_t ptz[16] = {1, 2, 3};
    net.SendCmdToServer(53, ptz, 16);
    Bytes f = sent();
    ASSERT_EQ(f.size(), 44u);
    EXPECT_EQ(f[8], 1);
    EXPECT_EQ(f[9], 0xFF);
    EXPECT_EQ(Bytes(f.end() - 4, f.end()), (Bytes{0, 0, 1, 0xB4}));
}

TEST(CommandDecode, WithoutFF)
{
    const uint8_t in[] = {0x00, 0xFF, 0x05, 0xFF, 0x41, 0xFF, 0x42, 0xFF};
    int cmd = 0;
    uint8_t payload[8] = {};
    EXPECT_EQ(getCommandWithoutFF(&cmd, payload, sizeof payload, in, 8), 2);
    EXPECT_EQ(cmd, 1280);
    EXPECT_EQ(payload[0], 0x41);
    EXPECT_EQ(payload[1], 0x42);
    EXPECT_EQ(getCommandWithoutFF(&cmd, payload, sizeof payload, in, 3), 0);
    // Never more than the output holds.
    uint8_t one[2] = {0, 0x77};
    EXPECT_EQ(getCommandWithoutFF(&cmd, one, 1, in, 8), 1);
    EXPECT_EQ(one[0], 0x41);
    EXPECT_EQ(one[1], 0x77);
}

TEST_F(SendRing, FullRingRefusesAndExactFillIsAccepted)
{
    net.setSocketForTest(-1, true);  // nothing drains
    std::vector<uint8_t> big(NxNet::kSendQSize - 1, 0x5A);
    EXPECT_TRUE(net.WriteToSendQ(big.data(), int(big.size())));
    EXPECT_FALSE(net.WriteToSendQ(big.data(), 1));
    EXPECT_NE(log.find("COMMAND Q OVER !"), std::string::npos);
    EXPECT_EQ(net.sendWriteQ(), NxNet::kSendQSize - 1);

    NxNet other;
    std::vector<uint8_t> tooBig(NxNet::kSendQSize, 1);
    EXPECT_FALSE(other.WriteToSendQ(tooBig.data(), int(tooBig.size())));
    EXPECT_EQ(other.sendWriteQ(), 0);
    // A frame over 61,440 bytes is refused by the builder.
    std::vector<uint8_t> rec(30720, 0);
    other.SendCmdToServer(32, rec.data(), rec.size());
}

TEST_F(SendRing, WrappedFrameGoesOutInTwoPieces)
{
    net.setSendIndices(NxNet::kSendQSize - 5, NxNet::kSendQSize - 5);
    net.SendCmdToServer(22, 0, 0);  // 12 bytes across the end
    EXPECT_EQ(net.sendWriteQ(), 7);
    net.TcpSendPump();
    EXPECT_EQ(net.sendReadQ(), 0);
    net.TcpSendPump();
    EXPECT_EQ(net.sendReadQ(), 7);
    Bytes out(64);
    ssize_t n = recv(fds[1], out.data(), out.size(), MSG_DONTWAIT);
    out.resize(size_t(n));
    EXPECT_EQ(out, cmdV1(22, {}));
}

TEST_F(SendRing, WouldBlockLeavesRingUnchanged)
{
    int small = 4096;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    // Fill the socket until it would block.
    std::vector<uint8_t> junk(65536, 0);
    while (send(fds[0], junk.data(), junk.size(), MSG_DONTWAIT) > 0) {
    }
    net.SendCmdToServer(25, 0, 0);
    int w = net.sendWriteQ();
    int r = net.sendReadQ();
    net.TcpSendPump();
    EXPECT_EQ(net.sendWriteQ(), w);
    EXPECT_EQ(net.sendReadQ(), r);
    EXPECT_TRUE(net.IsConnectDVR());
}

TEST_F(SendRing, ResetPeerClosesTheLink)
{
    close(fds[1]);
    fds[1] = socket(AF_UNIX, SOCK_STREAM, 0);
    net.SendCmdToServer(25, 0, 0);
    net.TcpSendPump();  // EPIPE, without SIGPIPE
    EXPECT_FALSE(net.IsConnectDVR());
    EXPECT_NE(log.find("Disconnect(TcpSendPump)"), std::string::npos);
    fds[0] = -1;
}

}  // namespace

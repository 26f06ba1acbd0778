// The second device's link: our MD5 against RFC 1321, the login and key
// messages, the stream scanner, and sessions against the test device.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "LinkTestUtil.h"
#include "QueueDrainer.h"
#include "device/DeviceWire.h"
#include "device/TestDevice.h"
#include "link/CNetwork.h"
#include "link/md5.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"
#include "recorder/BacklogFiller.h"

using namespace std::chrono_literals;
using testdev::Bytes;
using linktest::waitFor;

namespace {

std::string md5Of(const std::string& text, size_t piece = 0)
{
    md5_ctx ctx;
    uint8_t d[16];
    md5_init(&ctx);
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    size_t step = piece ? piece : std::max<size_t>(text.size(), 1);
    for (size_t at = 0; at < text.size(); at += step)
        md5_update(&ctx, p + at, std::min(step, text.size() - at));
    md5_final(d, &ctx);
    char hex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
    return hex;
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(c));
    return s;
}

TEST(Md5, Rfc1321SuiteAndBlockBoundaries)
{
    EXPECT_EQ(md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string digits;
    for (int i = 0; i < 8; ++i)
        digits += "1234567890";
    EXPECT_EQ(md5Of(digits), "57edf4a22be3c955ac49da2e2107b67a");
    // Every length around the padding boundaries, whole and in odd pieces.
    std::mt19937 rng(7);
    for (size_t len = 0; len < 200; ++len) {
        std::string s(len, '\0');
        for (char& c : s)
            c = char(rng());
        std::string want = lower(testdev::md5Upper(s));
        ASSERT_EQ(md5Of(s), want) << len;
        ASSERT_EQ(md5Of(s, 7), want) << len;
    }
}

TEST(SecondDeviceWire, HexWords)
{
    EXPECT_EQ(AWORD2WORD(reinterpret_cast<const uint8_t*>("004C")), 76);
    EXPECT_EQ(AWORD2WORD(reinterpret_cast<const uint8_t*>("beEF")), 0xBEEF);
    EXPECT_EQ(AWORD2WORD(reinterpret_cast<const uint8_t*>("00G1")), 0);
    uint16_t v = 99;
    EXPECT_FALSE(parseAWORD(reinterpret_cast<const uint8_t*>("12 4"), &v));
    uint8_t out[8];
    WORD2AWORD(out, 0x0a1B);
    BYTE2ABYTE(out + 4, 0xF);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 6), "0A1B0F");
}

TEST(SecondDeviceWire, LoginCarriesBothDigests)
{
    CNetwork net;
    uint8_t login[76];
    net.setNetInfo(0, "127.0.0.1", "", "1234", 1, "", 0, "admin", 1);
    net.buildLogin(login);
    // An empty DDNS id logs in with the default web code.
    EXPECT_EQ(Bytes(login, login + 76), testdev::expectedLogin("1234", "QOLVENTRAMIDECAF"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(login + 4), 8), "004C0081");
    net.setNetInfo(0, "127.0.0.1", "webcode-longer-than-16", "pw", 1, "", 0, "", 1);
    net.buildLogin(login);
    EXPECT_EQ(Bytes(login, login + 76), testdev::expectedLogin("pw", "webcode-longer-t"));
}

// ---------------------------------------------------------------------------
// Scanner

class Scanner : public ::testing::Test {
protected:
    void SetUp() override
    {
        old = setLogSink([this](const std::string& s) { log += s + "\n"; });
        net.onFrame = [this](const uint8_t* f, uint32_t len) { frames.emplace_back(f, f + len); };
        net.setViewPointer(&reports);
    }
    void TearDown() override { setLogSink(old); }
    void feed(const Bytes& b) { net.parseReceived(b.data(), int(b.size())); }
    static Bytes cat(std::initializer_list<Bytes> parts)
    {
        Bytes out;
        for (const Bytes& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    }
    static Bytes frame(uint8_t code, size_t payload, uint8_t fill)
    {
        Bytes f = {0, 0, 1, code};
        for (size_t i = 0; i < payload; ++i)
            f.push_back(uint8_t(fill + i));
        return f;
    }
    // A pointer-information message: version, offsets and standard.
    static Bytes pointerInfo(int8_t x, int8_t y, uint8_t std)
    {
        return testdev::message(15, {0, 0, 0x12, 0x34, 0, 0, 0, 0, uint8_t(x), uint8_t(y), std});
    }

    struct MouseView : linktest::Reports {
        void setNetMouseInfo(uint32_t v, int8_t x, int8_t y, uint16_t s) override
        {
            ++calls;
            version = v;
            dx = x;
            dy = y;
            lines = s;
        }
        int calls = 0;
        uint32_t version = 0;
        int dx = 0, dy = 0, lines = 0;
    } reports;
    CNetwork net;
    std::vector<Bytes> frames;
    std::string log;
    LogSink old;
};

TEST_F(Scanner, FramesAreCutOneByteAfterTheNextStartCode)
{
    Bytes a = frame(0xF8, 40, 0x10), b = frame(0xF9, 30, 0x80);
    feed(cat({{0x55, 0x00, 0x01}, a}));  // leading bytes belong to nothing
    EXPECT_TRUE(frames.empty());
    feed({0, 0, 1, 0xF9});
    EXPECT_TRUE(frames.empty());  // the one-byte delay
    feed(Bytes(b.begin() + 4, b.end()));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], a);
    EXPECT_EQ(net.state(), uint32_t(NET_STREAMING));
    // An audio start code ends the video frame; audio is only counted.
    feed(cat({{0, 0, 1, 0xFA}, Bytes(50, 0x33), frame(0xF8, 8, 1), {0}}));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], b);
    EXPECT_EQ(net.audioBytes(), 48u + 4u);  // two bytes skipped; the next start code counted
}

TEST_F(Scanner, CommandsInsideAndAfterAPictureCostItNothing)
{
    Bytes a = frame(0xF8, 64, 0x20);
    Bytes info = pointerInfo(-3, 5, 1);
    // Inside the frame, then right after it, then split over two reads.
    feed(cat({Bytes(a.begin(), a.begin() + 30), info, Bytes(a.begin() + 30, a.end()), info}));
    Bytes next = cat({frame(0xF8, 10, 0x40), testdev::message(14, {0})});
    feed(Bytes(next.begin(), next.begin() + 20));
    EXPECT_EQ(reports.calls, 2);
    feed(Bytes(next.begin() + 20, next.end()));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], a);
    EXPECT_EQ(reports.version, 0x1234u);
    EXPECT_EQ(reports.dx, -3);
    EXPECT_EQ(reports.dy, 5);
    EXPECT_EQ(reports.lines, 568);
    EXPECT_FALSE(net.isSearchMode());
    feed(testdev::message(14, {1}));
    EXPECT_TRUE(net.isSearchMode());
}

TEST_F(Scanner, MalformedLengthsAreDroppedAndTheStreamGoesOn)
{
    Bytes badHex = {0, 0, 1, 0xFE, '0', '0', 'G', '0', '0', '0', '0', 'F'};
    Bytes tooLong = {0, 0, 1, 0xFE, '0', '4', '0', '1', '0', '0', '0', 'F'};
    Bytes tooShort = {0, 0, 1, 0xFE, '0', '0', '0', 'B', '0', '0', '0', 'F'};
    Bytes shortForItsCode = testdev::message(15, {0, 0, 0, 1});  // 16 of 23 bytes
    feed(cat({badHex, tooLong, tooShort, shortForItsCode}));
    EXPECT_EQ(reports.calls, 0);
    EXPECT_NE(log.find("malformed command length"), std::string::npos);
    EXPECT_NE(log.find("command 15 too short"), std::string::npos);
    feed(pointerInfo(1, 2, 0));
    EXPECT_EQ(reports.calls, 1);
    EXPECT_EQ(reports.lines, 460);

    // A command that claims two bytes more than it has eats into the next
    // start code; the frame before it still comes whole.
    Bytes a = frame(0xF8, 20, 0x60);
    Bytes lying = {0, 0, 1, 0xFE, '0', '0', '0', 'E', '0', '0', '1', '1'};
    feed(cat({a, lying, frame(0xF9, 6, 0x70), frame(0xF8, 1, 1)}));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], a);
}

TEST_F(Scanner, OversizeFrameIsDroppedAndTheNextOneComes)
{
    Bytes big = frame(0xF8, CNetwork::kVideoBufSize, 0);
    Bytes small = frame(0xF9, 16, 0x70);
    feed(cat({big, small, {0, 0, 1, 0xF8, 0}}));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], small);
    EXPECT_EQ(net.droppedFrames(), 1u);
    EXPECT_NE(log.find("video frame over buffer size dropped"), std::string::npos);
}

// A stop ends the scan within the read: nothing after the byte that saw it
// is cut or handed on.
TEST_F(Scanner, StopEndsTheScanMidRead)
{
    net.onFrame = [this](const uint8_t* f, uint32_t len) {
        frames.emplace_back(f, f + len);
        net.StopThread();
    };
    feed(cat({frame(0xF8, 20, 1), frame(0xF9, 20, 2), pointerInfo(1, 1, 0), frame(0xF8, 20, 3), {0}}));
    EXPECT_EQ(frames.size(), 1u);
    EXPECT_EQ(reports.calls, 0);
}

TEST_F(Scanner, LoginRepliesAreCutByTheirLengths)
{
    Bytes hello = testdev::message(1, cat({Bytes(14, '0'), {'L', 'U', 'M', 'O', 0}}));
    Bytes buf = cat({hello, testdev::message(3), frame(0xF8, 5, 1)});
    size_t len = buf.size();
    EXPECT_EQ(net.takeLoginReplies(buf.data(), &len), 2);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + long(len)), frame(0xF8, 5, 1));
    EXPECT_NE(log.find("Model: LUMO"), std::string::npos);

    Bytes partial = Bytes(hello.begin(), hello.begin() + 10);
    len = partial.size();
    EXPECT_EQ(net.takeLoginReplies(partial.data(), &len), 1);
    for (Bytes bad : {testdev::message(4, {'0', '0', '1', '5'}), testdev::message(17), Bytes{0, 0, 1, 0xF8, 1},
                      Bytes{0, 0, 1, 0xFE, 'x', '0', '0', 'C', '0', '0', '0', '3'}, testdev::message(4)}) {
        len = bad.size();
        EXPECT_EQ(net.takeLoginReplies(bad.data(), &len), 0);
    }
    EXPECT_NE(log.find("LOGIN FAIL 21"), std::string::npos);
    EXPECT_EQ(net.state(), uint32_t(NET_MAX_USER));
}

// ---------------------------------------------------------------------------
// Sessions against the test device

class DeviceSession : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (net)
            net->StopThread();
        net.reset();
        if (dev)
            dev->stop();
    }
    void startDevice(testdev::DeviceConfig cfg = {})
    {
        dev = std::make_unique<testdev::TestDevice>(cfg);
        ASSERT_TRUE(dev->start(0));
    }
    void connect(const std::string& pass = "1234", int port = -1, const std::function<void(CNetwork&)>& tune = {})
    {
        net = std::make_unique<CNetwork>();
        net->onFrame = [this](const uint8_t* f, uint32_t len) {
            std::lock_guard<std::mutex> g(frameLock);
            frames.emplace_back(f, f + len);
        };
        net->m_dwTimeout = 1500ms;
        net->setViewPointer(&reports);
        net->setAppController(&reports);
        if (tune)
            tune(*net);
        net->setNetInfo(0, "127.0.0.1", "", pass.c_str(), port >= 0 ? port : dev->port(), "", 0, "", 1);
        net->CreateThread();
    }
    size_t frameCount()
    {
        std::lock_guard<std::mutex> g(frameLock);
        return frames.size();
    }

    linktest::LogCapture log;
    linktest::Reports reports;
    std::unique_ptr<testdev::TestDevice> dev;
    std::unique_ptr<CNetwork> net;
    std::mutex frameLock;
    std::vector<Bytes> frames;
};

TEST_F(DeviceSession, LoginPicturesAndKeys)
{
    startDevice();
    connect();
    ASSERT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return s.logins == 1; }, 5s));
    // The first picture came in the acceptance's read, a command right
    // behind it; both pictures arrive whole.
    ASSERT_TRUE(waitFor([&] { return frameCount() >= 2; }, 5s));
    EXPECT_EQ(frames[0], testdev::flatPicture(81, 90, 240));
    EXPECT_EQ(frames[1], frames[0]);
    EXPECT_EQ(net->networkVersion(), 0x00010203u);
    EXPECT_TRUE(net->IsConnectDVR());
    EXPECT_EQ(net->state(), uint32_t(NET_STREAMING));
    EXPECT_TRUE(net->SendKeyCommand(2));
    EXPECT_TRUE(net->SendKeyCommand(13));
    ASSERT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return s.keys.size() == 2; }, 3s));
    EXPECT_EQ(dev->status().keys, (std::vector<int>{2, 13}));
    EXPECT_EQ(dev->status().lastKeyMessage, Bytes({0, 0, 1, 0xFE, '0', '0', '1', '0', '0', '0', '8', '5', '0', '0', '0', 'D'}));
}

TEST_F(DeviceSession, RefusedLoginsEndTheThread)
{
    struct Case {
        testdev::LoginMode mode;
        std::string pass;
        uint32_t state;
    };
    for (const Case& c : {Case{testdev::LoginMode::Accept, "wrong", NET_LOGIN_FAIL},
                          Case{testdev::LoginMode::Refuse, "1234", NET_LOGIN_FAIL},
                          Case{testdev::LoginMode::MaxUser, "1234", NET_MAX_USER},
                          Case{testdev::LoginMode::RepeatHello, "1234", NET_LOGIN_FAIL},
                          Case{testdev::LoginMode::Silent, "1234", NET_LOGIN_FAIL}}) {
        testdev::DeviceConfig cfg;
        cfg.login = c.mode;
        startDevice(cfg);
        connect(c.pass);
        // The login wait ends on its wall-clock deadline even while the
        // device keeps talking.
        EXPECT_TRUE(waitFor([&] { return net->isThreadExitDone(); }, 8s)) << int(c.mode);
        EXPECT_EQ(net->state(), c.state) << int(c.mode);
        EXPECT_FALSE(net->IsConnectDVR());
        EXPECT_FALSE(net->SendKeyCommand(2));
        net.reset();
        dev->stop();
    }
    EXPECT_TRUE(log.has("LOGIN FAIL 1"));
    EXPECT_TRUE(log.has("login timeout"));
}

TEST_F(DeviceSession, SilenceReconnectsWithinTheThread)
{
    startDevice();
    connect("1234", -1, [](CNetwork& n) { n.reconnectAfter = 800ms; });
    ASSERT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return s.logins == 1; }, 5s));
    dev->setStreaming(false);
    // Keys meet the reconnect's close harmlessly.
    std::atomic<bool> done{false};
    std::thread keys([&] {
        while (!done) {
            net->SendKeyCommand(7);
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return s.logins == 2; }, 10s));
    done = true;
    keys.join();
    EXPECT_TRUE(log.has("RECONNECT START"));
    EXPECT_EQ(dev->status().connections, 2);
    EXPECT_TRUE(waitFor([&] { return net->state() == NET_LOGIN_OK; }, 5s));
    dev->setStreaming(true);
    EXPECT_TRUE(waitFor([&] { return net->state() == NET_STREAMING; }, 5s));
    // The view heard every step, the silence as a failure before the new
    // connect, and the new stream.
    std::vector<int> got = reports.statusList();
    std::vector<int> want = {NET_CONNECT_FAIL, NET_CONNECT_REQ, NET_CONNECT_OK, NET_LOGIN_OK, NET_STREAMING};
    ASSERT_GE(got.size(), want.size() + 3);
    EXPECT_EQ(std::vector<int>(got.end() - 5, got.end()), want);
    EXPECT_EQ(std::vector<int>(got.begin(), got.begin() + 3),
              (std::vector<int>{NET_CONNECT_REQ, NET_CONNECT_OK, NET_LOGIN_OK}));
}

// A connection the device closes is a failure at once, long before the
// silence rule; the link connects again once that time has passed.
TEST_F(DeviceSession, ClosedConnectionIsAFailureAtOnce)
{
    startDevice();
    connect("1234", -1, [](CNetwork& n) { n.reconnectAfter = 2s; });
    ASSERT_TRUE(reports.waitStatus(NET_STREAMING, 5s));
    dev->disconnectClient();
    ASSERT_TRUE(reports.waitStatus(NET_CONNECT_FAIL, 1s));
    EXPECT_FALSE(net->IsConnectDVR());
    EXPECT_TRUE(log.has("connection closed by the device"));
    EXPECT_EQ(dev->status().connections, 1);
    EXPECT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return s.logins == 2; }, 5s));
    EXPECT_TRUE(waitFor([&] { return net->state() == NET_STREAMING; }, 5s));
}

// A device that floods command messages: a bounded log and the newest
// pointer values.
TEST_F(DeviceSession, CommandFloodIsSummarised)
{
    struct MouseCount : linktest::Reports {
        void setNetMouseInfo(uint32_t v, int8_t, int8_t, uint16_t) override
        {
            last = v;
            ++calls;
        }
        std::atomic<uint32_t> last{0};
        std::atomic<int> calls{0};
    } mouse;
    startDevice();
    connect("1234", -1, [&](CNetwork& n) { n.setViewPointer(&mouse); });
    ASSERT_TRUE(dev->waitUntil([](const testdev::DeviceStatus& s) { return s.logins == 1; }, 5s));
    Bytes flood;
    for (int i = 0; i < 20000; ++i) {
        Bytes info(11, 0);
        info[2] = uint8_t(i >> 8);
        info[3] = uint8_t(i);
        Bytes m = testdev::message(i % 2 ? testdev::kMaxUser : testdev::kPointerInfo, info);
        flood.insert(flood.end(), m.begin(), m.end());
    }
    int before = log.lines();
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(dev->sendRaw(flood));
    EXPECT_TRUE(waitFor([&] { return mouse.last == 19998u; }, 5s));
    // The log prints at most about a hundred lines a second, however many
    // messages come: a slow run may span a few of its seconds.
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(log.lines() - before, 110 * (int(seconds) + 2));
    vlogFlush();
    EXPECT_TRUE(log.has("more times: MAX USER"));
    EXPECT_EQ(net->state(), uint32_t(NET_STREAMING));
}

TEST_F(DeviceSession, FailedConnectsAndStopLatency)
{
    // Nothing listens: state 8 and the thread ends.
    startDevice();
    uint16_t closedPort = dev->port();
    dev->stop();
    connect("1234", closedPort);
    EXPECT_TRUE(waitFor([&] { return net->isThreadExitDone(); }, 5s));
    EXPECT_EQ(net->state(), uint32_t(NET_CONNECT_FAIL));

    // Stops inside the connect wait and inside the login wait.
    testrec::BlockedListener blocked;
    ASSERT_TRUE(blocked.ok());
    testdev::DeviceConfig silent;
    silent.login = testdev::LoginMode::Silent;
    startDevice(silent);
    for (int port : {int(blocked.port()), int(dev->port())}) {
        connect("1234", port, [](CNetwork& n) { n.m_dwTimeout = 60s; });
        std::this_thread::sleep_for(300ms);
        EXPECT_FALSE(net->isThreadExitDone());
        auto t0 = std::chrono::steady_clock::now();
        net->StopThread();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
        net.reset();
    }
}

// ---------------------------------------------------------------------------
// Pictures judged as the view gets them

// A device that sends a command message every 100 ms, pictures or not, to a
// link whose pictures are taken from its queue as the view takes them.
class DevicePictures : public DeviceSession {
protected:
    void TearDown() override
    {
        if (net)
            net->StopThread();
        drainer.stop();
        DeviceSession::TearDown();
    }
    void streaming()
    {
        testdev::DeviceConfig cfg;
        cfg.commandIntervalMs = 100;
        startDevice(cfg);
        drainer.start(queue);
        connect("1234", -1, [this](CNetwork& n) {
            n.setQpointerV(&queue);
            n.SetDecoder(SITE_MODEL_MJPEG);
            n.stallMin = 300ms;
            n.stallMax = 600ms;
            n.playbackKeyPause = keyPause;
        });
        ASSERT_TRUE(reports.waitStatus(NET_STREAMING, 5s));
    }
    // The states reported since the first picture.
    std::vector<int> sinceStreaming()
    {
        std::vector<int> all = reports.statusList();
        return std::vector<int>(std::find(all.begin(), all.end(), int(NET_STREAMING)), all.end());
    }
    bool reportedSince(const std::vector<int>& want, std::chrono::milliseconds within = 5s)
    {
        return waitFor([&] { return sinceStreaming() == want; }, within);
    }

    std::chrono::milliseconds keyPause{1500};
    RingBuffer queue;
    linktest::QueueDrainer drainer;
};

// Pictures that stop right after a playback key may stop on purpose, but
// only for the key's pause: after it they are judged from the last one.
TEST_F(DevicePictures, PicturesStoppedAfterAPlaybackKeyAreAStallOnceItsPauseIsOver)
{
    ASSERT_NO_FATAL_FAILURE(streaming());
    for (uint8_t key : {uint8_t(19), uint8_t(16)}) {  // Play, Rewind
        SCOPED_TRACE(int(key));
        const std::vector<int> before = sinceStreaming();
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(net->SendKeyCommand(key));
        dev->setStreaming(false);
        // Past the stall limit, still inside the pause.
        std::this_thread::sleep_until(sent + keyPause * 2 / 3);
        EXPECT_EQ(sinceStreaming(), before);
        std::vector<int> waiting = before;
        waiting.push_back(NET_WAIT_DATA);
        ASSERT_TRUE(reportedSince(waiting));
        EXPECT_GE(std::chrono::steady_clock::now() - sent, keyPause);
        dev->setStreaming(true);
        waiting.push_back(NET_STREAMING);
        ASSERT_TRUE(reportedSince(waiting));
    }
    EXPECT_EQ(dev->status().connections, 1);
}

// A device that goes on sending pictures after a key is never waiting,
// also when the key's pause runs out between two of them; stopped later,
// the pictures are judged again.
TEST_F(DevicePictures, PicturesGoingOnAfterPlaybackKeysAreNeverAStall)
{
    keyPause = 400ms;
    ASSERT_NO_FATAL_FAILURE(streaming());
    const auto end = std::chrono::steady_clock::now() + 2500ms;
    for (uint8_t key = 14; std::chrono::steady_clock::now() < end; key = key == 14 ? 17 : 14) {
        ASSERT_TRUE(net->SendKeyCommand(key));
        // The pause runs out between two keys, or a key renews it.
        std::this_thread::sleep_for(key == 14 ? keyPause * 3 / 2 : keyPause * 3 / 4);
    }
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(sinceStreaming(), std::vector<int>{NET_STREAMING});
    dev->setStreaming(false);
    EXPECT_TRUE(reportedSince({NET_STREAMING, NET_WAIT_DATA}));
}

// Frames that arrive but do not decode are no pictures: the stream shows as
// waiting until pictures that decode come again.
TEST_F(DevicePictures, FramesThatDoNotDecodeAreAStall)
{
    ASSERT_NO_FATAL_FAILURE(streaming());
    const uint64_t shown = queue.committedCount();
    dev->setGarbled(true);
    ASSERT_TRUE(reportedSince({NET_STREAMING, NET_WAIT_DATA}));
    const size_t cut = frameCount();
    ASSERT_TRUE(waitFor([&] { return frameCount() > cut + 2; }, 3s));  // frames still come
    EXPECT_EQ(sinceStreaming(), (std::vector<int>{NET_STREAMING, NET_WAIT_DATA}));
    dev->setGarbled(false);
    EXPECT_TRUE(reportedSince({NET_STREAMING, NET_WAIT_DATA, NET_STREAMING}));
    EXPECT_GT(queue.committedCount(), shown);
    EXPECT_TRUE(net->IsConnectDVR());
}

}  // namespace

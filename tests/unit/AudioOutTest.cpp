#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <SDL.h>

#include "output/AudioOut2.h"
#include "platform/Log.h"

namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Runs each test on SDL's disk driver, writing into a fresh temporary folder.
class AudioOutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vesk-audio-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        file_ = dir_ + "/out.raw";
        for (const char* name : kEnv) {
            const char* v = std::getenv(name);
            saved_.emplace_back(v ? v : "", v != nullptr);
        }
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", file_.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "2", 1);  // ms per device buffer: faster than real time
    }
    void TearDown() override
    {
        for (size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i].second)
                setenv(kEnv[i], saved_[i].first.c_str(), 1);
            else
                unsetenv(kEnv[i]);
        }
        std::remove(file_.c_str());
        rmdir(dir_.c_str());
    }

    // Queues one block whose samples run on from next_ (never 0).
    bool push(AudioOut2& out, uint32_t samples)
    {
        tag_FrameA_Orgin* slot = out.GetPtrRingBufferQ()->tryGetWriteBuffer();
        if (!slot)
            return false;
        auto* pcm = reinterpret_cast<int16_t*>(slot->bufAudio);
        for (uint32_t i = 0; i < samples; ++i) {
            pcm[i] = static_cast<int16_t>(next_);
            fed_.push_back(pcm[i]);
            next_ = next_ % 30000 + 1;
        }
        slot->dwLength = samples * 2;
        out.GetPtrRingBufferQ()->putWriteBuffer();
        return true;
    }

    void startAt(AudioOut2& out, int rate)
    {
        out.CreateThread(true);
        ASSERT_TRUE(waitFor([&] { return out.getSampleRate() == rate; }));
    }

    static bool playedOut(AudioOut2& out, uint32_t len)
    {
        return out.GetPtrRingBufferQ()->count() == 0 && out.getSampleLen() == len &&
               out.getPlayPtr() == len;
    }

    // What the device wrote (the file is complete once the output is gone).
    std::vector<int16_t> written() const
    {
        std::ifstream f(file_, std::ios::binary);
        std::vector<char> raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        std::vector<int16_t> pcm(raw.size() / 2);
        std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
        return pcm;
    }
    std::vector<int16_t> writtenSound() const
    {
        std::vector<int16_t> s;
        for (int16_t v : written())
            if (v != 0)
                s.push_back(v);
        return s;
    }

    static constexpr const char* kEnv[] = {"SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE",
                                           "SDL_DISKAUDIODELAY"};
    std::vector<std::pair<std::string, bool>> saved_;
    std::string dir_, file_;
    std::vector<int16_t> fed_;
    int next_ = 1;
};

TEST_F(AudioOutTest, BlocksPlayInOrderAtTheGroupRate)
{
    {
        AudioOut2 out;
        out.SetModelNumNGroup(0, 9);
        startAt(out, 8000);
        out.SetAudioRestart();
        for (int i = 0; i < 6; ++i)
            ASSERT_TRUE(push(out, 2048));
        ASSERT_TRUE(waitFor([&] { return playedOut(out, 6 * 2048); }));
    }
    EXPECT_EQ(writtenSound(), fed_);
}

TEST_F(AudioOutTest, SilentUntilRestartAndWhilePaused)
{
    {
        AudioOut2 out;
        startAt(out, 8000);
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(push(out, 8000));
        ASSERT_TRUE(waitFor([&] { return out.getSampleLen() == 32000; }));
        std::this_thread::sleep_for(30ms);  // several device buffers
        EXPECT_EQ(out.getPlayPtr(), 0u);

        out.SetAudioRestart();
        ASSERT_TRUE(waitFor([&] { return out.getPlayPtr() > 0; }));
        out.SetAudioPause();
        std::this_thread::sleep_for(10ms);  // a buffer in flight finishes
        const uint32_t at = out.getPlayPtr();
        EXPECT_LT(at, 32000u);
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(out.getPlayPtr(), at);
        out.SetAudioRestart();
        ASSERT_TRUE(waitFor([&] { return playedOut(out, 32000); }));
    }
    // Pause and restart resume from the play position: nothing skipped or repeated.
    EXPECT_EQ(writtenSound(), fed_);
}

TEST_F(AudioOutTest, StoreTakesBlocksWhileBelow57345Samples)
{
    AudioOut2 out;
    startAt(out, 8000);  // stopped: nothing is played
    for (int i = 0; i < 7; ++i)
        ASSERT_TRUE(push(out, 8192));
    ASSERT_TRUE(waitFor([&] { return out.getSampleLen() == 57344; }));
    ASSERT_TRUE(push(out, 8192));  // 57,344 stored: still appended
    ASSERT_TRUE(waitFor([&] { return out.getSampleLen() == 65536; }));
    ASSERT_TRUE(push(out, 100));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(out.GetPtrRingBufferQ()->count(), 1);
    EXPECT_EQ(out.getSampleLen(), 65536u);

    // Pause drops what waits in the queue; the store stays.
    out.SetAudioPause();
    EXPECT_EQ(out.GetPtrRingBufferQ()->count(), 0);
    EXPECT_EQ(out.getSampleLen(), 65536u);
}

TEST_F(AudioOutTest, StoreWaitsFrom57345Samples)
{
    AudioOut2 out;
    startAt(out, 8000);
    for (int i = 0; i < 7; ++i)
        ASSERT_TRUE(push(out, 8192));
    ASSERT_TRUE(push(out, 1));
    ASSERT_TRUE(waitFor([&] { return out.getSampleLen() == 57345; }));
    ASSERT_TRUE(push(out, 8192));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(out.GetPtrRingBufferQ()->count(), 1);
    EXPECT_EQ(out.getSampleLen(), 57345u);
}

TEST_F(AudioOutTest, FullStorePlaysOutThenRestartsWithoutStaleSamples)
{
    {
        AudioOut2 out;
        startAt(out, 8000);
        out.SetAudioRestart();
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(push(out, 8192));
        ASSERT_TRUE(push(out, 100));  // waits, then starts the store afresh
        ASSERT_TRUE(waitFor([&] { return playedOut(out, 100); }));
        // The short block was followed by silence, not by what the store
        // still held beyond it.
    }
    EXPECT_EQ(writtenSound(), fed_);
}

TEST_F(AudioOutTest, ModelGroupSetsRateAndRestartsTheStore)
{
    EXPECT_EQ(AudioOut2::SampleRateForGroup(7), 16384);
    EXPECT_EQ(AudioOut2::SampleRateForGroup(10), 16384);
    for (uint32_t g : {0u, 1u, 2u, 8u, 9u, 11u, 12u, 200u})
        EXPECT_EQ(AudioOut2::SampleRateForGroup(g), 8000) << g;

    std::vector<std::string> log;
    LogSink old = setLogSink([&](const std::string& s) { log.push_back(s); });
    {
        AudioOut2 out;
        startAt(out, 8000);
        out.SetAudioRestart();
        ASSERT_TRUE(push(out, 3000));
        ASSERT_TRUE(waitFor([&] { return playedOut(out, 3000); }));

        // Same rate: the store starts afresh without a new device.
        out.SetModelNumNGroup(0, 11);
        ASSERT_TRUE(waitFor([&] { return out.getSampleLen() == 0 && out.getPlayPtr() == 0; }));
        EXPECT_EQ(out.getSampleRate(), 8000);

        out.SetModelNumNGroup(0, 7);
        ASSERT_TRUE(waitFor([&] { return out.getSampleRate() == 16384; }));
        EXPECT_EQ(out.getModelGroup(), 7);
        fed_.clear();  // the device file starts again with the new device
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(push(out, 4096));
        ASSERT_TRUE(waitFor([&] { return playedOut(out, 3 * 4096); }));
    }
    setLogSink(old);
    EXPECT_EQ(writtenSound(), fed_);
    EXPECT_EQ(std::count(log.begin(), log.end(), "AUDIO_SET H"), 1);
}

TEST_F(AudioOutTest, StopAndStartTheFeederAgain)
{
    AudioOut2 out;
    startAt(out, 8000);
    out.StopThread();
    ASSERT_TRUE(waitFor([&] { return out.getSampleRate() == 0; }));
    out.SetModelNumNGroup(0, 10);  // applied when the feeder runs again
    startAt(out, 16384);
    out.SetAudioRestart();
    ASSERT_TRUE(push(out, 500));
    EXPECT_TRUE(waitFor([&] { return playedOut(out, 500); }));
}

// SDL is process-wide and its dummy driver has one device: a second output
// (a second window) goes without, and its end must not end SDL under the
// first one, which plays on.
TEST_F(AudioOutTest, SecondOutputGoesSilentAndItsEndLeavesTheFirstPlaying)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::atomic<int> refused{0};
    const LogSink old = setLogSink([&](const std::string& s) {
        refused += s.find("No audio output device") != std::string::npos;
    });
    AudioOut2 first;
    startAt(first, 8000);
    {
        AudioOut2 second;
        second.CreateThread(true);
        EXPECT_TRUE(waitFor([&] { return refused.load() == 1; }));
    }
    setLogSink(old);
    EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    first.SetAudioRestart();
    ASSERT_TRUE(push(first, 800));
    EXPECT_TRUE(waitFor([&] { return playedOut(first, 800); }));
}

TEST_F(AudioOutTest, WithoutAnyDeviceEverythingStillWorksSilently)
{
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    std::vector<std::string> log;
    LogSink old = setLogSink([&](const std::string& s) { log.push_back(s); });
    {
        AudioOut2 out;
        out.CreateThread(true);
        out.SetAudioRestart();
        int queued = 0;
        for (int i = 0; i < 100; ++i)  // never blocks: a full queue refuses
            queued += push(out, 8192) ? 1 : 0;
        EXPECT_GE(queued, 39);
        out.SetModelNumNGroup(0, 7);
        out.SetModelNumNGroup(0, 9);
        ASSERT_TRUE(waitFor([&] { return out.getSampleLen() > 0; }));
        EXPECT_EQ(out.getSampleRate(), 0);
        out.SetAudioPause();
        out.StopThread();
    }
    setLogSink(old);
    int said = 0;
    for (const std::string& s : log)
        said += s.find("No audio output device") != std::string::npos;
    EXPECT_EQ(said, 1);
}

}  // namespace

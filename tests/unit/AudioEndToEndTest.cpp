// Sound from the test recorder to the output device: the requested
// channel's tone reaches SDL's disk driver; another channel's audio does not.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "LinkTestUtil.h"
#include "link/NxNet.h"
#include "output/AudioOut2.h"
#include "output/RingBuffer.h"
#include "platform/Log.h"
#include "recorder/AudioSource.h"
#include "recorder/TestRecorder.h"

using namespace std::chrono_literals;

namespace {

class AudioEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        old = setLogSink([](const std::string&) {});
        char tmpl[] = "/tmp/vesk-audio-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        file = dir + "/out.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "2", 1);
        testrec::RecorderConfig cfg;
        cfg.modelId = 1;  // IMA ADPCM behind a 16-byte header
        cfg.streamVideo = false;
        cfg.streamAudio = false;  // audio is sent by hand below
        rec = std::make_unique<testrec::TestRecorder>(cfg);
        ASSERT_TRUE(rec->start(0));
    }
    void TearDown() override
    {
        rec->stop();
        std::remove(file.c_str());
        rmdir(dir.c_str());
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");
        setLogSink(old);
    }
    // Connects, asks for channel 2's audio, then the recorder sends eight
    // tone frames on channel index sendCh; answers the samples written.
    std::vector<int16_t> play(int sendCh)
    {
        {
            AudioOut2 out;
            RingBuffer videoQ;
            NxNet net;
            net.setAudioOutPointer(&out);
            net.setQpointerV(&videoQ);
            net.setQpointerA(out.GetPtrRingBufferQ());
            net.SetDecoder(2);
            net.setNetInfo(0, "127.0.0.1", "", "1234", rec->port(), "", 2000, "admin", 2);
            out.CreateThread(true);
            net.CreateThread();
            EXPECT_EQ(rec->waitForLogin(5s), testrec::LoginResult::Accepted);
            rec->waitForCommand(6, 2s, 2);
            out.SetAudioRestart();
            net.RequestAudioCh(2);
            EXPECT_TRUE(rec->waitUntil([](const testrec::RecorderStatus& s) { return s.audioChannel == 1; }, 2s));
            testrec::AudioSource source(8);
            for (int i = 0; i < 8; ++i) {
                testrec::MediaHeader h = rec->headerFor(sendCh, testrec::FrameType::Audio);
                rec->sendMediaFrame(h, source.nextPacket());
            }
            std::this_thread::sleep_for(600ms);
            net.StopThread();
        }
        std::ifstream f(file, std::ios::binary);
        std::vector<char> raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        std::vector<int16_t> pcm(raw.size() / 2);
        std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
        return pcm;
    }

    LogSink old;
    std::string dir, file;
    std::unique_ptr<testrec::TestRecorder> rec;
};

TEST_F(AudioEndToEnd, RequestedChannelsToneIsPlayed)
{
    std::vector<int16_t> pcm = play(1);
    int peak = 0;
    int crossings = 0;
    size_t sound = 0;
    for (size_t i = 1; i < pcm.size(); ++i) {
        peak = std::max(peak, std::abs(int(pcm[i])));
        if (pcm[i] != 0)
            ++sound;
        if ((pcm[i - 1] < 0) != (pcm[i] < 0) && pcm[i] != 0 && pcm[i - 1] != 0)
            ++crossings;
    }
    EXPECT_GT(peak, 6000);
    // Eight blocks of 512 samples of a 500 Hz tone at 8,000 samples/s:
    // two zero crossings every 16 samples.
    EXPECT_GE(sound, 8u * 512 * 9 / 10);
    EXPECT_NEAR(double(crossings) / double(sound), 2.0 / 16.0, 0.02);
}

TEST_F(AudioEndToEnd, OtherChannelsAudioIsNotPlayed)
{
    std::vector<int16_t> pcm = play(2);
    for (int16_t s : pcm)
        ASSERT_EQ(s, 0);
}

}  // namespace

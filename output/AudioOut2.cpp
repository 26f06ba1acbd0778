#include "output/AudioOut2.h"

#include <chrono>
#include <cstring>

#include "platform/Log.h"

namespace {
constexpr int kRateLow = 8000;
constexpr int kRateHigh = 16384;
constexpr uint32_t kBytesPerSample = 2;
constexpr auto kIdleSleep = std::chrono::milliseconds(1);
}  // namespace

AudioOut2::AudioOut2() : pcmBuffer(new int16_t[kStoreSamples]())
{
    audioQ.reset();
}

AudioOut2::~AudioOut2()
{
    ucThreadExit = 1;
    if (m_thread.joinable())
        m_thread.join();
    vlog("CAudioOut dealloc");
}

int AudioOut2::SampleRateForGroup(uint32_t group)
{
    return (group == 7 || group == 10) ? kRateHigh : kRateLow;
}

void AudioOut2::CreateThread(bool)
{
    if (m_thread.joinable()) {
        if (!ucThreadExit)
            return;
        m_thread.join();
    }
    ucThreadExit = 0;
    m_thread = std::thread(&AudioOut2::ThreadHandler, this);
}

void AudioOut2::StopThread()
{
    ucThreadExit = 1;
}

void AudioOut2::SetModelNumNGroup(int num, uint32_t group)
{
    modelNum = num;
    modelGroup = static_cast<int>(group);
    if (group == 7 || group == 10)
        vlog("AUDIO_SET H");
    m_wantRate = SampleRateForGroup(group);
    ++m_formatRequests;
}

void AudioOut2::SetStatus(int8_t status)
{
    _currentAudioStatus = status;
    audioQ.reset();
}

void AudioOut2::SetAudioRestart()
{
    SetStatus(1);
}

void AudioOut2::SetAudioPause()
{
    SetStatus(2);
}

void AudioOut2::SetAudioStop()
{
    SetStatus(0);
}

void AudioOut2::MyRenderer(void* ref, uint8_t* out, int bytes)
{
    static_cast<AudioOut2*>(ref)->Render(out, bytes);
}

// Device thread, device lock held: what is left of the store, then silence.
void AudioOut2::Render(uint8_t* out, int bytes)
{
    if (bytes <= 0)
        return;
    const uint32_t frames = static_cast<uint32_t>(bytes) / kBytesPerSample;
    uint32_t n = 0;
    if (_currentAudioStatus.load() == 1) {
        const uint32_t pos = playPtr.load();
        const uint32_t len = sampleLen.load();
        if (pos < len)
            n = len - pos < frames ? len - pos : frames;
        std::memcpy(out, pcmBuffer.get() + pos, n * kBytesPerSample);
        playPtr = pos + n;
    }
    std::memset(out + n * kBytesPerSample, 0, static_cast<size_t>(bytes) - n * kBytesPerSample);
}

void AudioOut2::ThreadHandler()
{
    m_formatApplied = m_formatRequests.load();
    OpenOutput(m_wantRate.load());
    while (!ucThreadExit.load()) {
        if (FeedOnce())
            continue;
        ApplyFormatRequest();
        std::this_thread::sleep_for(kIdleSleep);
    }
    m_device.pause(true);
    m_device.close();
    AudioDevice::releaseThread();
}

// Reopens the device at rate with an empty store; without a device the
// feeder goes on silently (said once).
bool AudioOut2::OpenOutput(int rate)
{
    m_device.close();
    playPtr = 0;
    sampleLen = 0;
    if (!m_device.open(rate, &AudioOut2::MyRenderer, this)) {
        if (!m_saidNoDevice)
            vlog("No audio output device (%s), audio is silent", m_device.lastError().c_str());
        m_saidNoDevice = true;
        return false;
    }
    m_device.pause(false);
    return true;
}

void AudioOut2::ApplyFormatRequest()
{
    const uint32_t req = m_formatRequests.load();
    if (req == m_formatApplied)
        return;
    m_formatApplied = req;
    const int rate = m_wantRate.load();
    if (!m_device.isOpen() || m_device.sampleRate() != rate) {
        OpenOutput(rate);
        return;
    }
    m_device.lock();
    playPtr = 0;
    sampleLen = 0;
    m_device.unlock();
}

// Moves the next queued record into the store; false when there was none
// or it has to wait for the store to play out. A format change made before
// the record was queued is applied first, so the record lands in the new store.
bool AudioOut2::FeedOnce()
{
    m_pAudioData = audioQ.tryGetReadBuffer();
    if (!m_pAudioData)
        return false;
    ApplyFormatRequest();
    m_device.lock();
    const bool taken = StoreRecord(*m_pAudioData);
    m_device.unlock();
    if (taken)
        audioQ.putReadBuffer();
    m_pAudioData = nullptr;
    return taken;
}

// Device lock held. Appends below the threshold; past it, restarts the
// store from its beginning once everything stored has been played.
bool AudioOut2::StoreRecord(const tag_FrameA_Orgin& rec)
{
    uint32_t bytes = rec.dwLength < sizeof rec.bufAudio ? rec.dwLength : sizeof rec.bufAudio;
    const uint32_t samples = bytes / kBytesPerSample;
    uint32_t len = sampleLen.load();
    if (len >= kAppendBelow) {
        if (playPtr.load() < len)
            return false;
        len = 0;
        playPtr = 0;
    }
    std::memcpy(pcmBuffer.get() + len, rec.bufAudio, samples * kBytesPerSample);
    sampleLen = len + samples;
    return true;
}

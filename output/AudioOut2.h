#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "link/IAudioSink.h"
#include "output/RingBuffer.h"
#include "platform/AudioDevice.h"

// Plays the decoded audio of the requested channel. The link fills the
// owned queue; a feeder thread moves queued blocks into a linear playback
// store, and the device callback plays the store from its play position.
// The feeder alone owns the device; the store and both positions change only
// under the device lock (the callback runs with it held).
class AudioOut2 : public IAudioSink {
public:
    static constexpr uint32_t kStoreSamples = 81920;
    static constexpr uint32_t kAppendBelow = 57345;  // append while fewer samples are stored

    AudioOut2();
    ~AudioOut2() override;
    AudioOut2(const AudioOut2&) = delete;
    AudioOut2& operator=(const AudioOut2&) = delete;

    // The audio queue, lent to the link.
    RingBufferA* GetPtrRingBufferQ() { return &audioQ; }

    // Starts the feeder thread (once; again after StopThread).
    void CreateThread(bool unused = true);
    // Asks the feeder to stop; does not wait (the destructor joins).
    void StopThread();

    // Sample rate by model group; applied by the feeder, which restarts the store.
    void SetModelNumNGroup(int modelNum, uint32_t group) override;

    void SetAudioRestart();  // play
    void SetAudioPause();    // silence, store kept
    void SetAudioStop();     // silence, store kept

    static int SampleRateForGroup(uint32_t group);

    int8_t getAudioStatus() const { return _currentAudioStatus.load(); }
    uint32_t getPlayPtr() const { return playPtr.load(); }
    uint32_t getSampleLen() const { return sampleLen.load(); }
    // Rate the device runs at; 0 without a device.
    int getSampleRate() const { return m_device.sampleRate(); }
    int getModelGroup() const { return modelGroup.load(); }

private:
    static void MyRenderer(void* ref, uint8_t* out, int bytes);
    void Render(uint8_t* out, int bytes);
    void SetStatus(int8_t status);
    void ThreadHandler();
    bool OpenOutput(int rate);
    void ApplyFormatRequest();
    bool FeedOnce();
    bool StoreRecord(const tag_FrameA_Orgin& rec);

    std::atomic<int8_t> _currentAudioStatus{0};  // 0 stopped, 1 playing, 2 paused
    RingBufferA audioQ;
    tag_FrameA_Orgin* m_pAudioData = nullptr;  // feeder only
    std::atomic<uint8_t> ucThreadExit{0};
    std::atomic<int> modelNum{0};
    std::atomic<int> modelGroup{0};
    std::atomic<int> m_wantRate{8000};
    std::atomic<uint32_t> m_formatRequests{0};
    uint32_t m_formatApplied = 0;  // feeder only
    std::atomic<uint32_t> playPtr{0};
    std::atomic<uint32_t> sampleLen{0};
    std::unique_ptr<int16_t[]> pcmBuffer;
    AudioDevice m_device;          // feeder only
    bool m_saidNoDevice = false;   // feeder only
    std::thread m_thread;
};

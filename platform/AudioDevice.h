#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// The default audio output device: 16-bit signed mono PCM pulled by a
// callback on the device's own thread. Not thread-safe itself: one owner
// opens, closes, pauses and locks it.
class AudioDevice {
public:
    // Fills bytes of stream; runs with the device lock held.
    using Callback = void (*)(void* user, uint8_t* stream, int bytes);

    AudioDevice() = default;
    ~AudioDevice();
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    // Opens the device paused; false (see lastError) when there is none.
    bool open(int sampleRate, Callback cb, void* user);
    void close();
    bool isOpen() const { return m_id != 0; }
    // The rate the device runs at; 0 while closed.
    int sampleRate() const { return m_rate.load(); }
    void pause(bool on);
    // Keeps the callback out while held; no-op while closed.
    void lock();
    void unlock();
    const std::string& lastError() const { return m_error; }
    // Frees what SDL keeps for the calling thread (its error text); for a
    // thread that used a device, before it ends.
    static void releaseThread();

private:
    static void quitIfUnused();
    uint32_t m_id = 0;
    std::atomic<int> m_rate{0};
    std::string m_error;
};

#include "platform/AudioDevice.h"

#include <SDL.h>

#include <mutex>

namespace {
// Frames per callback: about 60 ms at 8,000 Hz.
constexpr Uint16 kFramesPerCallback = 512;

// SDL's start and end are process-wide; devices may open and close on
// several threads.
std::mutex& sdlMutex()
{
    static std::mutex m;
    return m;
}
}  // namespace

AudioDevice::~AudioDevice()
{
    close();
}

bool AudioDevice::open(int sampleRate, Callback cb, void* user)
{
    close();
    std::lock_guard<std::mutex> lock(sdlMutex());
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        m_error = SDL_GetError();
        quitIfUnused();
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = sampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = kFramesPerCallback;
    want.callback = cb;
    want.userdata = user;
    SDL_AudioSpec have{};
    m_id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (m_id == 0) {
        m_error = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        quitIfUnused();
        return false;
    }
    m_rate = have.freq;
    return true;
}

void AudioDevice::close()
{
    if (m_id == 0)
        return;
    std::lock_guard<std::mutex> lock(sdlMutex());
    SDL_CloseAudioDevice(m_id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    m_id = 0;
    m_rate = 0;
    quitIfUnused();
}

// With no subsystem left, SDL itself is ended: its hints, logging set-up and
// this thread's error text are freed (closing subsystems keeps them).
void AudioDevice::quitIfUnused()
{
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0)
        SDL_Quit();
}

void AudioDevice::releaseThread()
{
    SDL_TLSCleanup();
}

void AudioDevice::pause(bool on)
{
    if (m_id != 0)
        SDL_PauseAudioDevice(m_id, on ? 1 : 0);
}

void AudioDevice::lock()
{
    if (m_id != 0)
        SDL_LockAudioDevice(m_id);
}

void AudioDevice::unlock()
{
    if (m_id != 0)
        SDL_UnlockAudioDevice(m_id);
}

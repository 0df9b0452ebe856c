// Wave output over SDL audio. SDL asks for audio through a callback rather than
// taking one looping buffer, so the callback plays the buffer itself: it copies
// from a cursor that wraps at the buffer's end and publishes the bytes played.
#include <SDL.h>
#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/wave_output.h"

namespace platform {
namespace {

// libasound reports each failed probe of a missing sound card on stderr, a
// screenful per open. SDL's driver loads this same library, so one handler
// that drops the reports silences them; the failure itself still reaches SDL.
void DropAlsaReport(const char*, int, const char*, int, const char*, ...) {}

// The silent run says once why there is no sound, and nothing more.
void SayNoSound() {
    static bool said = false;
    if (!said)
        std::fprintf(stderr, "Tinselbay: no sound device, running without sound\n");
    said = true;
}

class SdlWaveOutput : public WaveOutput {
public:
    bool Open(int32_t rate) override {
        Close();
        snd_lib_error_set_handler(DropAlsaReport);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            SayNoSound();
            return false;
        }
        SDL_AudioSpec want{};
        want.freq = rate;
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = 1024;
        want.callback = &SdlWaveOutput::Callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No changes allowed: SDL converts to whatever the hardware wants.
        m_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (m_device == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            SayNoSound();
            return false;
        }
        return true;
    }

    void Prepare(void* buffer, uint32_t bytes) override {
        if (m_device == 0)
            return;
        SDL_LockAudioDevice(m_device);
        m_buffer = static_cast<uint8_t*>(buffer);
        m_bytes = bytes;
        m_cursor = 0;
        m_playing = false;
        SDL_UnlockAudioDevice(m_device);
    }

    void Play() override {
        if (m_device == 0)
            return;
        SDL_LockAudioDevice(m_device);
        m_cursor = 0;
        m_played.store(0, std::memory_order_release);
        m_playing = m_buffer != nullptr && m_bytes != 0;
        SDL_UnlockAudioDevice(m_device);
        SDL_PauseAudioDevice(m_device, 0);
        m_started.store(true, std::memory_order_release);
    }

    // A looping buffer cannot be taken back while it plays; Reset ends it.
    void Unprepare() override {}

    uint64_t BytesPlayed() override { return m_played.load(std::memory_order_acquire); }

    // SDL disables a device that was unplugged or failed (and posts
    // SDL_AUDIODEVICEREMOVED); a started device that is no longer enabled is gone.
    bool Lost() override {
        return m_started.load(std::memory_order_acquire) &&
               SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED;
    }

    void Reset() override {
        if (m_device == 0)
            return;
        m_started.store(false, std::memory_order_release);
        SDL_PauseAudioDevice(m_device, 1);
        // Taking the lock waits out a callback in progress: afterwards the
        // buffer is never touched again.
        SDL_LockAudioDevice(m_device);
        m_playing = false;
        m_buffer = nullptr;
        m_bytes = 0;
        SDL_UnlockAudioDevice(m_device);
    }

    void Close() override {
        if (m_device == 0)
            return;
        Reset();
        SDL_CloseAudioDevice(m_device);
        m_device = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

private:
    static void SDLCALL Callback(void* user, Uint8* stream, int len) {
        static_cast<SdlWaveOutput*>(user)->Fill(stream, static_cast<uint32_t>(len));
    }

    void Fill(uint8_t* stream, uint32_t len) {
        if (!m_playing) {
            std::memset(stream, 0, len);
            return;
        }
        uint32_t done = 0;
        while (done < len) {
            uint32_t n = m_bytes - m_cursor;
            if (n > len - done)
                n = len - done;
            std::memcpy(stream + done, m_buffer + m_cursor, n);
            done += n;
            m_cursor += n;
            if (m_cursor == m_bytes)
                m_cursor = 0;
        }
        m_played.store(m_played.load(std::memory_order_relaxed) + len, std::memory_order_release);
    }

    SDL_AudioDeviceID m_device = 0;
    // Guarded by the device lock; read by the callback.
    uint8_t* m_buffer = nullptr;
    uint32_t m_bytes = 0;
    uint32_t m_cursor = 0;
    bool m_playing = false;
    std::atomic<uint64_t> m_played{0};
    std::atomic<bool> m_started{false};
};

} // namespace

WaveOutput& SystemWaveOutput() {
    static SdlWaveOutput output;
    return output;
}

} // namespace platform

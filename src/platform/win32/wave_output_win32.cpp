// Wave output over the multimedia wave API: one header flagged to loop
// endlessly, so the device plays the buffer over and over by itself.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "platform/wave_output.h"
#include "platform/wave_position.h"

namespace platform {
namespace {

class Win32WaveOutput : public WaveOutput {
public:
    bool Open(int32_t rate) override {
        Close();
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 2;
        format.nSamplesPerSec = static_cast<DWORD>(rate);
        format.nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
        format.nBlockAlign = 4;
        format.wBitsPerSample = 16;
        format.cbSize = 0;
        if (waveOutOpen(&m_device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
            m_device = nullptr;
            return false;
        }
        return true;
    }

    void Prepare(void* buffer, uint32_t bytes) override {
        m_header = WAVEHDR{};
        m_header.lpData = static_cast<LPSTR>(buffer);
        m_header.dwBufferLength = bytes;
        m_header.dwBytesRecorded = 0;
        m_header.dwUser = 0;
        m_header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        m_header.dwLoops = 0xFFFFFFFF;
        if (m_device)
            waveOutPrepareHeader(m_device, &m_header, sizeof m_header);
    }

    void Play() override {
        m_position.Restart();
        m_lost.store(false);
        if (m_device && waveOutWrite(m_device, &m_header, sizeof m_header) != MMSYSERR_NOERROR)
            m_lost.store(true);
    }

    void Unprepare() override {
        // Refused while the loop still plays; the buffer then stays in use until Reset.
        if (m_device)
            waveOutUnprepareHeader(m_device, &m_header, sizeof m_header);
        m_header.dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
    }

    // The device counts in 32 bits; the count is carried on across its wraps.
    // A failed query (the device was unplugged, say) leaves the position where
    // it was and marks the device lost.
    uint64_t BytesPlayed() override {
        if (!m_device || m_lost.load())
            return m_position.Last();
        MMTIME time{};
        time.wType = TIME_BYTES;
        if (waveOutGetPosition(m_device, &time, sizeof time) != MMSYSERR_NOERROR ||
            time.wType != TIME_BYTES) {
            m_lost.store(true);
            return m_position.Last();
        }
        return m_position.Update(time.u.cb);
    }

    bool Lost() override { return m_lost.load(); }

    void Reset() override {
        if (m_device)
            waveOutReset(m_device);
    }

    void Close() override {
        if (!m_device)
            return;
        waveOutReset(m_device);
        waveOutUnprepareHeader(m_device, &m_header, sizeof m_header);
        waveOutClose(m_device);
        m_device = nullptr;
    }

private:
    HWAVEOUT m_device = nullptr;
    WAVEHDR m_header{};
    WrappedPosition m_position;
    std::atomic<bool> m_lost{false};
};

} // namespace

WaveOutput& SystemWaveOutput() {
    static Win32WaveOutput output;
    return output;
}

} // namespace platform

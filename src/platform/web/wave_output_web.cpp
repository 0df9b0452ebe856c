// Wave output in a browser page: the Web Audio API has no looping device
// buffer, and a page has no mixing thread, so a script processor's callback
// plays the ring itself (a cursor that wraps at its end) and, after each
// chunk, lets the player re-render the blocks it has just played.
#include <emscripten.h>

#include <cstring>
#include <vector>

#include "platform/wave_output.h"

namespace platform {
namespace {

// Frames per callback: about 93 ms at 44100 Hz, well inside the 2 s ring.
constexpr int kChunkFrames = 4096;
// Bytes played between refills: 256 frames, under 6 ms at 44100 Hz.
constexpr uint32_t kStepBytes = 256 * 4;

// The page's audio context (made at the viewer's click so it may sound) when
// it runs at the rate, else a new one; false when the browser has none.
EM_JS(int, tinsel_audio_open, (int rate, int chunkFrames), {
    var Context = window.AudioContext || window.webkitAudioContext;
    if (!Context)
        return 0;
    var context = Module['audioContext'];
    try {
        if (!context || context.sampleRate != rate) {
            context = new Context({sampleRate : rate});
            Module['audioContext'] = context;
        }
        var node = context.createScriptProcessor(chunkFrames, 0, 2);
        node.onaudioprocess = function(event) {
            var output = event.outputBuffer;
            var left = output.getChannelData(0);
            var right = output.getChannelData(1);
            var frames = output.length;
            var at = _tinsel_wave_fill(frames) >> 1;
            var peak = 0;
            for (var i = 0; i < frames; ++i) {
                var l = HEAP16[at + 2 * i];
                var r = HEAP16[at + 2 * i + 1];
                left[i] = l / 32768;
                right[i] = r / 32768;
                peak = Math.max(peak, Math.abs(l), Math.abs(r));
            }
            var hook = window['tinselAudio'];
            if (hook) {
                hook['frames'] += frames;
                hook['level'] = peak / 32768;
                hook['blocks'] = _tinsel_wave_blocks();
            }
        };
        node.connect(context.destination);
        Module['audioNode'] = node;
        context.resume();
        return 1;
    } catch (e) {
        return 0;
    }
});

EM_JS(void, tinsel_audio_close, (), {
    var node = Module['audioNode'];
    if (node) {
        node.onaudioprocess = null;
        node.disconnect();
        Module['audioNode'] = null;
    }
});

class WebWaveOutput : public WaveOutput {
public:
    bool Open(int32_t rate) override {
        Close();
        m_open = tinsel_audio_open(rate, kChunkFrames) != 0;
        return m_open;
    }

    void Prepare(void* buffer, uint32_t bytes) override {
        m_buffer = static_cast<uint8_t*>(buffer);
        m_bytes = bytes;
        m_cursor = 0;
        m_playing = false;
    }

    void Play() override {
        m_cursor = 0;
        m_played = 0;
        m_playing = m_buffer != nullptr && m_bytes != 0;
    }

    // A looping buffer cannot be taken back while it plays; Reset ends it.
    void Unprepare() override {}

    uint64_t BytesPlayed() override { return m_played; }

    void Reset() override {
        m_playing = false;
        m_buffer = nullptr;
        m_bytes = 0;
    }

    void Close() override {
        if (!m_open)
            return;
        Reset();
        tinsel_audio_close();
        m_refill = nullptr;
        m_open = false;
    }

    bool SetRefill(Refill refill) override {
        m_refill = refill;
        return true;
    }

    // One chunk for the page: the ring from the cursor on, then a refill of
    // what it has played.
    const int16_t* Fill(int frames) {
        const uint32_t bytes = uint32_t(frames) * 4;
        m_chunk.assign(size_t(frames) * 2, 0);
        if (!m_playing)
            return m_chunk.data();
        uint8_t* out = reinterpret_cast<uint8_t*>(m_chunk.data());
        for (uint32_t done = 0; done < bytes;) {
            uint32_t n = m_bytes - m_cursor;
            if (n > bytes - done)
                n = bytes - done;
            if (n > kStepBytes)
                n = kStepBytes;
            std::memcpy(out + done, m_buffer + m_cursor, n);
            done += n;
            m_cursor += n;
            if (m_cursor == m_bytes)
                m_cursor = 0;
            m_played += n;
            // Refilled step by step, as often as the mixing thread would
            // look: the player must see the play position pass every block,
            // above all the first two, or it would wait for a whole ring.
            if (m_refill)
                m_blocks += m_refill();
        }
        return m_chunk.data();
    }

    uint32_t Blocks() const { return m_blocks; }

private:
    bool m_open = false;
    uint8_t* m_buffer = nullptr;
    uint32_t m_bytes = 0;
    uint32_t m_cursor = 0;
    bool m_playing = false;
    uint64_t m_played = 0;
    Refill m_refill = nullptr;
    uint32_t m_blocks = 0; // blocks the refills have rendered, for the page's test hook
    std::vector<int16_t> m_chunk;
};

WebWaveOutput& Device() {
    static WebWaveOutput output;
    return output;
}

} // namespace

WaveOutput& SystemWaveOutput() {
    return Device();
}

} // namespace platform

extern "C" {
EMSCRIPTEN_KEEPALIVE const int16_t* tinsel_wave_fill(int frames) {
    return platform::Device().Fill(frames);
}
EMSCRIPTEN_KEEPALIVE uint32_t tinsel_wave_blocks() {
    return platform::Device().Blocks();
}
}

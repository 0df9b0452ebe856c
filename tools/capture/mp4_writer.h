// H.264 (yuv420p) video and AAC audio in an MP4 whose index sits at the front,
// written through FFmpeg's libraries.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

class Mp4Writer {
public:
    struct Settings {
        int width = 640;
        int height = 480;
        int fps = 60;
        int sampleRate = 44100; // 16-bit stereo in
    };

    Mp4Writer();
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // Creates path and sets up both encoders; false with Error() on failure.
    bool Open(const std::string& path, const Settings& settings);
    // One video frame: RGBA bytes, row 0 at the top, width x height of the settings.
    bool WriteVideo(const uint8_t* rgba);
    // Interleaved 16-bit stereo frames, continuing the audio so far.
    bool WriteAudio(const int16_t* pcm, int frames);
    // Drains both encoders and writes the index; the file is complete only after this.
    bool Finish();
    const std::string& Error() const { return m_error; }

private:
    struct State;
    bool Fail(const std::string& what, int code);
    bool Drain(int stream, bool flush);
    bool EncodeAudioFrames(bool flush);

    std::unique_ptr<State> m_state;
    std::string m_error;
};

// An offscreen OpenGL context for tests and tools, with no display at all.
#pragma once
#include <cstdint>
#include <vector>

namespace platform {

class OffscreenGL {
public:
    OffscreenGL(int width = 640, int height = 480);
    ~OffscreenGL();
    OffscreenGL(const OffscreenGL&) = delete;
    OffscreenGL& operator=(const OffscreenGL&) = delete;

    bool Valid() const { return m_context != nullptr; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Waits for drawing to finish and returns the colour buffer, RGBA bytes,
    // row 0 at the top (the GL buffer itself is bottom-up).
    std::vector<uint8_t> ReadPixels() const;
    // One pixel, x from the left and y from the top.
    uint32_t PixelRGB(const std::vector<uint8_t>& pixels, int x, int y) const;

private:
    void* m_context = nullptr;
    std::vector<uint8_t> m_buffer;
    int m_width;
    int m_height;
};

} // namespace platform

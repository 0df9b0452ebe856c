#include "platform/osmesa/offscreen_gl.h"

#include <GL/osmesa.h>

#include <cstring>

namespace platform {

OffscreenGL::OffscreenGL(int width, int height)
    : m_buffer(size_t(width) * size_t(height) * 4), m_width(width), m_height(height) {
    OSMesaContext context = OSMesaCreateContextExt(OSMESA_RGBA, 32, 0, 0, nullptr);
    if (!context)
        return;
    if (!OSMesaMakeCurrent(context, m_buffer.data(), GL_UNSIGNED_BYTE, width, height)) {
        OSMesaDestroyContext(context);
        return;
    }
    m_context = context;
}

OffscreenGL::~OffscreenGL() {
    if (m_context)
        OSMesaDestroyContext(static_cast<OSMesaContext>(m_context));
}

std::vector<uint8_t> OffscreenGL::ReadPixels() const {
    glFinish();
    std::vector<uint8_t> top(m_buffer.size());
    const size_t row = size_t(m_width) * 4;
    for (int y = 0; y < m_height; ++y)
        std::memcpy(&top[size_t(y) * row], &m_buffer[size_t(m_height - 1 - y) * row], row);
    return top;
}

uint32_t OffscreenGL::PixelRGB(const std::vector<uint8_t>& pixels, int x, int y) const {
    const uint8_t* p = &pixels[(size_t(y) * size_t(m_width) + size_t(x)) * 4];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

} // namespace platform

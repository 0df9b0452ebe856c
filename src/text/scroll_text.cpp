#include "text/scroll_text.h"

#include <cstring>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "base/frame_steps.h"
#include "data/data_file.h"
#include "platform/counter.h"
#include "text/gl_font.h"

std::unique_ptr<char[]> LoadScrollText(const char* path, LineFeedRule rule, int32_t* length) {
    CDataFile file;
    if (!file.Open(path))
        throw CException("Unable to load \"%s\"!", path);
    std::vector<char> kept;
    kept.reserve(size_t(file.Size() > 0 ? file.Size() : 0));
    while (!file.IsEOF()) {
        char c = 0;
        if (file.Read(&c, 1, 1) != 1)
            break; // a failed read would otherwise spin forever
        if (c == 13)
            continue;
        if (c == 10 && rule == LineFeedRule::ToSpace)
            c = 32;
        kept.push_back(c);
    }
    file.Close();
    auto text = std::make_unique<char[]>(kept.size() + 1);
    if (!kept.empty())
        std::memcpy(text.get(), kept.data(), kept.size());
    text[kept.size()] = 0;
    if (length)
        *length = int32_t(std::strlen(text.get()));
    return text;
}

std::unique_ptr<char[]> CopyScrollText(const char* text) {
    const size_t n = text ? std::strlen(text) : 0;
    auto copy = std::make_unique<char[]>(n + 1);
    if (n)
        std::memcpy(copy.get(), text, n);
    copy[n] = 0;
    return copy;
}

CFrameTimer::CFrameTimer() : frequency(platform::QueryCounterFrequency()), last(platform::QueryCounter()) {}

float CFrameTimer::Measure() {
    now = platform::QueryCounter();
    const int64_t elapsed = now - last;
    last = now;
    return float(double(elapsed) / double(frequency));
}

CScrollCursor::CScrollCursor(std::unique_ptr<char[]> text_)
    : text(std::move(text_)), current(text.get()), length(int32_t(std::strlen(text.get()))) {}

void CScrollCursor::Advance(const CGLFont& font, float speed, bool skipLineFeeds) {
    if (length == 0)
        return;
    frameTime = timer.Measure();
    // A long frame goes in steps of a normal one, each passing one character at
    // most, so the text keeps up with its time instead of falling off screen.
    StepFrameTime(frameTime, [&](float seconds) {
        scrollOffset = speed * seconds + scrollOffset;
        const float w = float(font.GetGlyph(*current).width);
        if (scrollOffset > w) {
            ++current;
            ++index;
            scrollOffset -= w;
            while (skipLineFeeds && *current == 10) {
                ++current;
                ++index;
            }
            if (index == length) {
                index = 0;
                current = text.get();
            }
        }
    });
}

// Scroll text loading, the frame timer and the text cursor shared by both scrollers.
#pragma once
#include <cstdint>
#include <memory>

class CGLFont;

enum class LineFeedRule { ToSpace, Keep };

// Reads a scroll text file through the data reader, dropping CR and treating
// LF by the rule. Throws CException "Unable to load \"<path>\"!" when the file
// cannot be opened. The result is NUL-terminated; *length receives its size.
std::unique_ptr<char[]> LoadScrollText(const char* path, LineFeedRule rule, int32_t* length = nullptr);

// A heap copy of a NUL-terminated string.
std::unique_ptr<char[]> CopyScrollText(const char* text);

// Seconds between successive readings of the platform counter.
class CFrameTimer {
public:
    CFrameTimer();
    // Reads the counter and returns the seconds since the previous reading.
    float Measure();

private:
    int64_t frequency;
    int64_t now = 0;
    int64_t last;
};

// Where a scroller stands in its text: the first character on screen and how
// far it has moved out to the left.
class CScrollCursor {
public:
    explicit CScrollCursor(std::unique_ptr<char[]> text);

    // Moves on by speed x the seconds since the last call, passing at most one
    // character (strictly wider than its glyph) per step and wrapping at the
    // end; a long frame is taken in several steps (base/frame_steps.h). With
    // skipLineFeeds the line feeds after a passed character go with it.
    void Advance(const CGLFont& font, float speed, bool skipLineFeeds);

    bool Empty() const { return length == 0; }
    int32_t Index() const { return index; }
    float ScrollOffset() const { return scrollOffset; }
    const char* Current() const { return current; }

private:
    std::unique_ptr<char[]> text;
    const char* current;
    int32_t index = 0;
    int32_t length = 0;
    float frameTime = 0.0f;
    float scrollOffset = 0.0f;
    CFrameTimer timer;
};

// Scroll text loading and the frame timer shared by both scrollers.
#pragma once
#include <cstdint>
#include <memory>

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

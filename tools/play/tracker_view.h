// tinsel-play's tracker view: the pattern rows around the one heard, level
// meters, the channels and the instrument names, drawn as lines of text and
// written to the terminal line by line where they changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/player.h"

struct Module;

// The smallest terminal the view is drawn on; a smaller one gets the status line.
constexpr int kViewColumns = 80;
constexpr int kViewRows = 24;

enum class View { Pattern, Channels, Instruments };
constexpr int kViewCount = 3;

// What one frame of the view shows, gathered from the playing instance.
struct ViewFrame {
    std::string name; // the song's file name
    const Module* song = nullptr;
    PlayPosition heard{};
    int64_t endFrame = 0;
    int32_t rate = 44100;
    bool paused = false;
    int32_t subsong = 0, subsongs = 1;
    int32_t separation = 100;
    double tempo = 1, pitch = 1;
    std::vector<ChannelState> channels; // as heard, one for each of the song's channels
};

// Where the view stands: which one, and the first channel or instrument shown.
struct ViewPlace {
    View view = View::Pattern;
    int first = 0;
};

// Channels the pattern view has room for in width columns.
int PatternChannels(int width);
// The frame as height lines of at most width visible characters each; the
// current row is marked with '>' and shown in reverse video.
std::vector<std::string> DrawView(const ViewFrame& frame, ViewPlace& place, int width, int height);

// The lines last written to the terminal, so that the next frame writes only
// those that differ.
class Screen {
public:
    // What to write to turn the last frame into lines: the cursor to each
    // changed line, the line, the rest of it cleared.
    std::string Update(const std::vector<std::string>& lines);
    // The next Update writes every line (after a resize or a return to the terminal).
    void Invalidate() { m_shown.clear(); }

private:
    std::vector<std::string> m_shown;
};

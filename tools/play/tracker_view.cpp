#include "tools/play/tracker_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "player/format/cell_text.h"
#include "player/format/module.h"
#include "tools/render/song_file.h"

namespace {

constexpr char kReverse[] = "\033[7m";
constexpr char kPlain[] = "\033[0m";
// The pattern view: a row number after the mark, then each channel's cell after a space.
constexpr int kRowPrefix = 4;
constexpr int kCellColumn = 1 + int(kCellTextLength);
// Lines above the view's own: the song, where it is, the views' names.
constexpr int kHeadLines = 3;
constexpr int kMeterHalf = 6;
constexpr int kNameColumn = 26;

std::string Printf(const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// text cut or padded to width characters.
std::string Fit(std::string text, int width) {
    text.resize(size_t(std::max(width, 0)), ' ');
    return text;
}

std::string Reversed(const std::string& text) {
    return kReverse + text + kPlain;
}

// A level 0..1 as a bar of width characters; the square root lifts quiet
// channels into sight, as the ear hears them.
int Filled(float level, int width) {
    return std::clamp(int(std::lround(std::sqrt(std::max(level, 0.0f)) * float(width))), 0, width);
}

// Both sides of a channel: the left bar grows leftward from the middle, the right rightward.
std::string Meter(const ChannelState& c) {
    const int left = Filled(c.levelLeft, kMeterHalf), right = Filled(c.levelRight, kMeterHalf);
    return std::string(size_t(kMeterHalf - left), ' ') + std::string(size_t(left), '=') + "|" +
           std::string(size_t(right), '=') + std::string(size_t(kMeterHalf - right), ' ');
}

std::string NoteText(int note) {
    const uint8_t cell[kCellSize] = {uint8_t(note), 0, 0, 0, 0};
    char text[kCellTextLength + 1];
    FormatCell(cell, text, sizeof text);
    return std::string(text, 3);
}

const char* InstrumentName(const Module& song, int instrument) {
    return instrument >= 1 && instrument <= song.instrumentCount ? song.instruments[instrument - 1].name : "";
}

ChannelState StateOf(const ViewFrame& frame, int channel) {
    return channel < int(frame.channels.size()) ? frame.channels[size_t(channel)] : ChannelState{};
}

std::string Factor(double value) {
    return Printf("%g", value);
}

void Head(const ViewFrame& f, View view, int width, std::vector<std::string>& lines) {
    const Module& song = *f.song;
    std::string settings = "subsong " + std::to_string(f.subsong) + "/" + std::to_string(f.subsongs) +
                           "  stereo " + std::to_string(f.separation) + "%";
    if (f.tempo != 1)
        settings += "  tempo " + Factor(f.tempo);
    if (f.pitch != 1)
        settings += "  pitch " + Factor(f.pitch);
    std::string title = f.name + (song.title[0] == '\0' ? "" : ": ") + song.title;
    const int room = width - 1 - int(settings.size()) - 2;
    lines.push_back(Fit(title, room) + "  " + settings);
    const Pattern* pattern = f.heard.pattern >= 0 && f.heard.pattern < song.patternSlots
                                 ? &song.patterns[f.heard.pattern]
                                 : nullptr;
    lines.push_back(
        Fit(Printf("order %3d/%d  pattern %3d  row %3d/%d  %s / %s  speed %2d  %3d BPM", f.heard.order,
                   song.songLength, f.heard.pattern, f.heard.row, pattern != nullptr ? pattern->rows : 0,
                   FormatTime(f.heard.frame, f.rate).c_str(), FormatTime(f.endFrame, f.rate).c_str(),
                   f.heard.speed, f.heard.bpm, f.paused ? "  [paused]" : ""),
            width - 1));
    static const char* const names[kViewCount] = {"1 pattern", "2 channels", "3 instruments"};
    std::string tabs;
    for (int v = 0; v < kViewCount; ++v) {
        const std::string name = std::string(" ") + names[v] + " ";
        tabs += (int(view) == v ? Reversed(name) : name) + " ";
    }
    lines.push_back(tabs + (f.paused ? "   [paused]" : ""));
}

void PatternView(const ViewFrame& f, ViewPlace& place, int width, int height,
                 std::vector<std::string>& lines) {
    const Module& song = *f.song;
    const int shown = std::min(PatternChannels(width), ChannelCount(song));
    place.first = std::clamp(place.first, 0, ChannelCount(song) - shown);
    std::string names(kRowPrefix, ' '), meters(kRowPrefix, ' ');
    for (int c = place.first; c < place.first + shown; ++c) {
        const ChannelState state = StateOf(f, c);
        names += " " + Fit(Printf("%-2d %s", c, InstrumentName(song, state.instrument)), kCellColumn - 1);
        meters += " " + Fit(Meter(state), kCellColumn - 1);
    }
    lines.push_back(names);
    lines.push_back(meters);
    const Pattern* pattern = f.heard.pattern >= 0 && f.heard.pattern < song.patternSlots
                                 ? &song.patterns[f.heard.pattern]
                                 : nullptr;
    const int rows = height - int(lines.size()) - 1;
    const int top = f.heard.row - rows / 2;
    for (int i = 0; i < rows; ++i) {
        const int row = top + i;
        if (pattern == nullptr || pattern->cells == nullptr || row < 0 || row >= pattern->rows) {
            lines.emplace_back();
            continue;
        }
        std::string line = Printf("%c%3d", row == f.heard.row ? '>' : ' ', row);
        for (int c = place.first; c < place.first + shown; ++c) {
            char cell[kCellTextLength + 1];
            FormatCell(pattern->cells + (size_t(row) * size_t(song.channelCount) + size_t(c)) * kCellSize,
                       cell, sizeof cell);
            line += std::string(" ") + cell;
        }
        lines.push_back(row == f.heard.row ? Reversed(Fit(line, width - 1)) : line);
    }
}

void ChannelsView(const ViewFrame& f, ViewPlace& place, int width, int height,
                  std::vector<std::string>& lines) {
    const Module& song = *f.song;
    const int rows = height - int(lines.size()) - 2;
    place.first = std::clamp(place.first, 0, std::max(ChannelCount(song) - rows, 0));
    lines.push_back(Fit(" ch note ins name                   vol pan   freq Hz    left  | right", width - 1));
    for (int c = place.first; c < std::min(place.first + rows, ChannelCount(song)); ++c) {
        const ChannelState s = StateOf(f, c);
        if (!s.active) {
            lines.push_back(Printf("%3d  ...  ..", c));
            continue;
        }
        lines.push_back(Fit(Printf("%3d  %s  %02d %-22.22s %2d %3d %9.1f  %s", c, NoteText(s.note).c_str(),
                                   s.instrument, InstrumentName(song, s.instrument), s.volume, s.panning,
                                   s.frequency, Meter(s).c_str()),
                            width - 1));
    }
}

void InstrumentsView(const ViewFrame& f, ViewPlace& place, int width, int height,
                     std::vector<std::string>& lines) {
    const Module& song = *f.song;
    const int columns = std::max((width - 1) / kNameColumn, 1);
    const int rows = height - int(lines.size()) - 1;
    // A page at a time; the instruments sounding now are shown reversed.
    const int count = song.instrumentCount, page = rows * columns;
    place.first = std::clamp(place.first, 0, std::max((count - 1) / page, 0));
    const int start = place.first * page;
    std::vector<bool> sounding(size_t(count) + 1, false);
    for (const ChannelState& c : f.channels) {
        if (c.active && c.instrument >= 1 && c.instrument <= count && (c.levelLeft > 0 || c.levelRight > 0))
            sounding[size_t(c.instrument)] = true;
    }
    for (int r = 0; r < rows; ++r) {
        std::string line;
        for (int k = 0; k < columns; ++k) {
            const int index = start + k * rows + r;
            if (index >= count)
                break;
            const std::string name =
                Fit(Printf("%02d %s", index + 1, song.instruments[index].name), kNameColumn - 1);
            line += (sounding[size_t(index) + 1] ? Reversed(name) : name) + " ";
        }
        lines.push_back(line);
    }
}

} // namespace

int PatternChannels(int width) {
    return std::max((width - 1 - kRowPrefix) / kCellColumn, 1);
}

std::vector<std::string> DrawView(const ViewFrame& frame, ViewPlace& place, int width, int height) {
    std::vector<std::string> lines;
    // A terminal shrunk since the view was chosen gets nothing until the resize is seen.
    if (frame.song == nullptr || width < kViewColumns || height < kViewRows)
        return lines;
    Head(frame, place.view, width, lines);
    if (place.view == View::Pattern)
        PatternView(frame, place, width, height, lines);
    else if (place.view == View::Channels)
        ChannelsView(frame, place, width, height, lines);
    else
        InstrumentsView(frame, place, width, height, lines);
    lines.resize(size_t(height - 1));
    lines.push_back(
        Fit("Tab view  +- subsong  [] stereo  <> scroll  arrows order  space pause  q quit", width - 1));
    return lines;
}

std::string Screen::Update(const std::vector<std::string>& lines) {
    std::string out;
    m_shown.resize(lines.size(), std::string(1, '\0')); // a line never drawn differs from any
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == m_shown[i])
            continue;
        out += "\033[" + std::to_string(i + 1) + ";1H" + lines[i] + "\033[K";
        m_shown[i] = lines[i];
    }
    return out;
}

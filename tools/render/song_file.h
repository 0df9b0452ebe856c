// What the player's tools share: reading a song file with a clear reason for
// each failure, the song's facts for --info and the status line, times as
// m:ss.mmm and channel lists such as 0,2-4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "player/engine/rules.h"
#include "player/format/load_report.h"

struct Module;

// A loaded song, with how a tool plays it.
struct SongFile {
    Module* module = nullptr;           // null: error says why
    std::optional<RuleSet> rules;       // forced by the tool (--rules); else the song's own
    std::vector<std::string> loadNotes; // what the loader found beyond the plain layout
    LoadRefusal refused = LoadRefusal::None;
    std::string error;
};

// Loads the song in the file, an XM or a MOD; a missing file, a file that is
// neither and a damaged song each get a one-line reason.
SongFile LoadSongFile(const std::string& path);
// The same for an image in memory, named name in messages.
SongFile LoadSongImage(const uint8_t* image, size_t size, const std::string& name);

// What --info describes beyond the song: the subsong and the tempo factor its length is played at.
struct InfoSettings {
    int32_t subsong = 0;
    double tempo = 1;
};

// Title, format, tracker, counts, frequency table, rules, the subsongs, the
// length of the one chosen, the loader's notes and the instrument and sample
// names, one per line; empty when the song lacks the subsong.
std::string SongInfo(const SongFile& song, int32_t rate, const InfoSettings& settings = {});
// Why the song, named name, has no such subsong: its count and the range.
std::string SubsongRefusal(const Module& module, int32_t rate, RuleSet rules, const std::string& name);

// frames at rate as m:ss.mmm.
std::string FormatTime(int64_t frames, int32_t rate);
// Channels 0..31 as a bit mask from a list such as "0,2-4"; false for anything else.
bool ParseChannelList(const std::string& text, uint32_t* mask);

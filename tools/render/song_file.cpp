#include "tools/render/song_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "player/format/load_report.h"
#include "player/format/module.h"
#include "player/player.h"
#include "player/engine/rules.h"

namespace {

// Files beyond this are no songs; reading them whole would only exhaust memory.
constexpr long kMaxFileBytes = 256L << 20;

std::string Line(const char* label, const std::string& value) {
    std::string line = label;
    line.resize(14, ' ');
    return line + value + "\n";
}

// Instrument and sample numbers as trackers show them: two digits at least.
std::string Number(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

// A factor without trailing zeros: 2, 0.5, 1.25.
std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

SongFile LoadSongImage(const uint8_t* image, size_t size, const std::string& name) {
    SongFile song;
    LoadReport report{};
    song.module = LoadModuleFromMemory(image, size, &report);
    if (song.module == nullptr) {
        song.refused = report.refused;
        song.error =
            name + (report.refused == LoadRefusal::NotAModule ? " is " : " does not load: ") + report.refusal;
        return song;
    }
    song.loadNotes = DescribeLoad(report);
    return song;
}

SongFile LoadSongFile(const std::string& path) {
    SongFile song;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        song.refused = LoadRefusal::Unreadable;
        song.error = "cannot read " + path + ": " + std::strerror(errno);
        return song;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0 && long(bytes.size()) <= kMaxFileBytes)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        song.refused = LoadRefusal::Unreadable;
        song.error = "cannot read " + path + ": " + std::strerror(errno);
        return song;
    }
    if (long(bytes.size()) > kMaxFileBytes) {
        song.refused = LoadRefusal::NotAModule;
        song.error = path + " is neither an XM nor a MOD module: it is larger than any song";
        return song;
    }
    return LoadSongImage(bytes.data(), bytes.size(), path);
}

std::string FormatTime(int64_t frames, int32_t rate) {
    const int64_t ms = rate > 0 ? frames * 1000 / rate : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

bool ParseChannelList(const std::string& text, uint32_t* mask) {
    uint32_t bits = 0;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        int first = -1, last = -1;
        char extra = 0;
        const int fields = std::sscanf(item.c_str(), "%d-%d%c", &first, &last, &extra);
        if (fields == 1 && item.find('-') == std::string::npos)
            last = first;
        else if (fields != 2)
            return false;
        if (item.find_first_not_of("0123456789-") != std::string::npos || first < 0 || last < first ||
            last > 31)
            return false;
        for (int c = first; c <= last; ++c)
            bits |= 1u << c;
        at = comma + 1;
    }
    *mask = bits;
    return true;
}

std::string SubsongRefusal(const Module& module, int32_t rate, RuleSet rules, const std::string& name) {
    const size_t count = FindSubsongs(module, rate, rules).size();
    return name + " has " + std::to_string(count) + (count == 1 ? " subsong" : " subsongs") +
           ": --subsong takes 0" + (count == 1 ? "" : " to " + std::to_string(count - 1));
}

std::string SongInfo(const SongFile& song, int32_t rate, const InfoSettings& settings) {
    const Module& m = *song.module;
    int samples = 0;
    for (int i = 0; i < m.instrumentCount; ++i)
        samples += m.instruments[i].sampleCount;
    const RuleSet rules = SongRules(m, song.rules);
    // The length as the chosen subsong plays at the tempo factor.
    auto player = std::make_unique<Player>();
    if (!InitPlayer(*player, rate) || !StartSong(*player, &m, rules) ||
        !SetTempoFactor(*player, settings.tempo) ||
        (settings.subsong != 0 && !SelectSubsong(*player, settings.subsong)))
        return std::string();
    const SongLength length = MeasureSong(*player);
    std::string info;
    info += Line("Title:", m.title);
    info += Line("Format:", m.format);
    info += Line("Tracker:", m.trackerName);
    info += Line("Channels:", std::to_string(m.channelCount));
    info += Line("Orders:",
                 std::to_string(m.songLength) + " (restart at " + std::to_string(m.restartPosition) + ")");
    info += Line("Patterns:", std::to_string(m.storedPatterns));
    info += Line("Instruments:", std::to_string(m.instrumentCount));
    info += Line("Samples:", std::to_string(samples));
    info += Line("Frequencies:", (m.flags & linearFrequencies) ? "linear" : "Amiga");
    info += Line("Tempo:",
                 std::to_string(m.defaultTempo) + " ticks a row at " + std::to_string(m.defaultBpm) + " BPM");
    info += Line("Rules:", RuleSetName(rules));
    // Each tune from its start order, at a tempo factor of 1.
    const std::vector<Subsong> subsongs = FindSubsongs(m, rate, rules);
    info += Line("Subsongs:", std::to_string(subsongs.size()));
    for (size_t i = 0; i < subsongs.size(); ++i)
        info += Line("", std::to_string(i) + ": order " + std::to_string(subsongs[i].startOrder) + ", " +
                             FormatTime(subsongs[i].lengthFrames, rate) +
                             (subsongs[i].loopFrames == 0 ? ", then it stops" : ", then it loops"));
    std::string played = FormatTime(length.frames, rate);
    if (!length.bounded)
        played += " or more (the song does not come back to where it has been)";
    else if (length.loopFrames == 0)
        played += ", then it stops";
    else
        played += ", then " + FormatTime(length.loopFrames, rate) + " a loop from order " +
                  std::to_string(length.loopOrder) + " row " + std::to_string(length.loopRow);
    if (settings.subsong != 0 || settings.tempo != 1)
        played += " (subsong " + std::to_string(settings.subsong) +
                  (settings.tempo != 1 ? ", tempo " + Decimal(settings.tempo) : std::string()) + ")";
    info += Line("Length:", played);
    for (size_t i = 0; i < song.loadNotes.size(); ++i)
        info += Line(i == 0 ? "Loader:" : "", song.loadNotes[i]);
    // Instruments with a name or a named sample: composers write their messages there.
    bool first = true;
    for (int i = 0; i < m.instrumentCount; ++i) {
        const Instrument& ins = m.instruments[i];
        std::string lines;
        for (int k = 0; k < ins.sampleCount && ins.samples != nullptr; ++k) {
            if (ins.samples[k] != nullptr && ins.samples[k]->name[0] != '\0')
                lines += Line("", "   " + Number(k) + " " + ins.samples[k]->name);
        }
        if (ins.name[0] == '\0' && lines.empty())
            continue;
        info += Line(first ? "Names:" : "", Number(i + 1) + " " + ins.name) + lines;
        first = false;
    }
    return info;
}

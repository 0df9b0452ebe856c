#include "tools/render/job.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "player/format/module.h"
#include "player/format/song.h"
#include "player/player.h"
#include "tools/render/flac_writer.h"
#include "tools/render/loudness.h"
#include "tools/render/output_file.h"
#include "tools/render/song_file.h"

namespace {

std::string Shown(const std::string& path) {
    return path == "-" ? "standard output" : path;
}

std::string Fixed(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// What one pass makes: a file, the channels it silences, and its name on the progress bar.
struct Output {
    std::string path;
    uint32_t mutedChannels;
    std::string label;
};

struct Level {
    double gain = 1;
    bool held = false; // the ceiling kept the gain below the target's
};

std::string Summary(const RenderJob& job, const std::string& path, int64_t frames, const Loudness* loudness,
                    const Level& level) {
    std::string line = Shown(path) + ": " + FormatTime(frames, job.settings.rate) + " at " +
                       std::to_string(job.settings.rate) + " Hz, ";
    line += job.format == FileFormat::Flac                 ? "16-bit FLAC"
            : job.settings.format == SampleFormat::Float32 ? "32-bit float"
                                                           : "16-bit";
    if (loudness != nullptr) {
        if (std::isfinite(loudness->lufs))
            line += ", " + Fixed(loudness->lufs, "%.1f") + " LUFS, true peak " +
                    Fixed(loudness->truePeak, "%.1f") + " dBTP";
        else
            line += ", silent";
    }
    if (!std::isnan(job.normalize)) {
        line += ", gain " + Fixed(20 * std::log10(level.gain), "%+.1f") + " dB";
        if (level.held)
            line += " (held by the " + Fixed(kNormalizeCeiling, "%.0f") + " dBTP ceiling)";
    }
    return line;
}

// Writes one output; empty, or why it failed.
std::string WriteOutput(Module* song, const RenderJob& job, const RenderSettings& settings,
                        const std::string& path, LoudnessMeter* meter,
                        const std::function<void(int64_t, int64_t)>& progress) {
    OutputFile file;
    std::string error;
    if (!file.Open(path, &error))
        return error;
    std::FILE* stream = file.Stream();
    std::unique_ptr<AudioWriter> writer;
    if (job.format == FileFormat::Flac) {
        // The encoder writes a frame at a time: a stream buffer gathers them.
        std::setvbuf(stream, nullptr, _IOFBF, 256 << 10);
        writer = MakeFlacWriter(stream);
    } else {
        // The WAV writer writes chunks of about 256 KB itself: a stream buffer would only copy them.
        std::setvbuf(stream, nullptr, _IONBF, 0);
        writer = std::make_unique<WavWriter>(stream, settings.format);
    }
    errno = 0;
    const bool ok =
        writer != nullptr &&
        RenderSong(song, settings, writer.get(),
                   meter != nullptr ? std::function<void(const float*, int32_t)>(
                                          [meter](const float* mix, int32_t n) { meter->Add(mix, n); })
                                    : nullptr,
                   progress);
    const int failure = errno;
    // The writer may still write on its way out: it goes before the file closes.
    writer.reset();
    if (!ok) {
        file.Abandon();
        return "cannot write " + Shown(path) +
               (failure != 0 ? ": " + std::string(std::strerror(failure)) : "");
    }
    return file.Commit(&error) ? std::string() : error;
}

} // namespace

std::string SongBase(const std::string& input) {
    if (input.empty())
        return "tinselbay";
    std::string name = input.substr(input.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

const char* FormatExtension(FileFormat format) {
    return format == FileFormat::Flac ? ".flac" : ".wav";
}

std::string StemPath(const std::string& dir, const std::string& base, int channel, int channels,
                     FileFormat format) {
    const int width = int(std::to_string(channels).size());
    char number[16];
    std::snprintf(number, sizeof number, "%0*d", width, channel);
    return dir + (dir.empty() || dir.back() == '/' ? "" : "/") + base + "-ch" + number +
           FormatExtension(format);
}

JobOutcome RunJob(const RenderJob& job, const std::function<void(const JobProgress&)>& progress) {
    JobOutcome outcome;
    const SongFile file = job.input.empty()
                              ? LoadSongImage(EmbeddedSong, EmbeddedSongSize, "the embedded song")
                              : LoadSongFile(job.input);
    if (file.module == nullptr) {
        outcome.error = file.error;
        return outcome;
    }
    Module* song = file.module;
    RenderSettings settings = job.settings;
    if (job.forceRules)
        settings.rules = job.rules;
    settings.frames = RenderLength(*song, settings); // the walk through the song is not repeated
    if (settings.frames < 0) {
        outcome.error = SubsongRefusal(*song, settings.rate, SongRules(*song, settings.rules),
                                       job.input.empty() ? "the embedded song" : job.input);
        FreeModule(song);
        return outcome;
    }
    if (job.format == FileFormat::Wav && WavHeader(settings.rate, settings.format, settings.frames).empty()) {
        FreeModule(song);
        outcome.error = "too long for a WAV file (4 GB): render fewer seconds or at a lower rate";
        return outcome;
    }

    std::vector<Output> outputs;
    if (!job.out.empty())
        outputs.push_back({job.out, settings.mutedChannels, "mix"});
    if (!job.stemsDir.empty()) {
        const int channels = std::min<int>(song->channelCount, kMaxChannels);
        for (int c = 0; c < channels; ++c) {
            // A channel the options silence has no stem.
            if (((settings.mutedChannels >> c) & 1) == 0)
                outputs.push_back(
                    {StemPath(job.stemsDir, SongBase(job.input) + job.suffix, c, channels, job.format),
                     ~(uint32_t{1} << c), "channel " + std::to_string(c)});
        }
    }
    const bool normalize = !std::isnan(job.normalize);
    const int passes = int(outputs.size()) + (normalize ? 1 : 0);
    int pass = 0;
    std::string label;
    const auto onBlock = [&](int64_t done, int64_t total) {
        if (progress)
            progress({pass, passes, done, total, settings.rate, passes > 1 ? label : std::string()});
    };

    Level level;
    if (normalize) {
        // The render is deterministic: measured once, it plays the same again with the gain.
        label = "measuring";
        LoudnessMeter meter(settings.rate);
        RenderSong(
            song, settings, nullptr, [&](const float* mix, int32_t n) { meter.Add(mix, n); }, onBlock);
        const Loudness measured = meter.Result();
        level.gain = NormalizeGain(measured, job.normalize);
        level.held = std::isfinite(measured.lufs) &&
                     level.gain < std::pow(10.0, (job.normalize - measured.lufs) / 20) * (1 - 1e-9);
        settings.gain = float(level.gain);
        ++pass;
    }
    for (const Output& output : outputs) {
        label = output.label;
        RenderSettings these = settings;
        these.mutedChannels = output.mutedChannels;
        std::unique_ptr<LoudnessMeter> meter;
        if (job.measure && LoudnessAvailable())
            meter = std::make_unique<LoudnessMeter>(settings.rate);
        outcome.error = WriteOutput(song, job, these, output.path, meter.get(), onBlock);
        if (!outcome.error.empty())
            break;
        const Loudness loudness = meter != nullptr ? meter->Result() : Loudness{};
        outcome.summary.push_back(
            Summary(job, output.path, settings.frames, meter != nullptr ? &loudness : nullptr, level));
        ++pass;
    }
    FreeModule(song);
    return outcome;
}

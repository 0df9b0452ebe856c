// tinsel-render: plays songs offline through the player's block path and
// streams each to a WAV or FLAC file, or to standard output.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "player/format/module.h"
#include "player/format/song.h"
#include "player/player.h"
#include "tools/cli.h"
#include "tools/render/batch.h"
#include "tools/render/flac_writer.h"
#include "tools/render/job.h"
#include "tools/render/loudness.h"
#include "tools/render/output_file.h"
#include "tools/render/render.h"
#include "tools/render/song_file.h"
#include "tools/render/sound_options.h"

namespace {

int Fail(const std::string& message) {
    return cli::Fail("tinsel-render", message);
}

bool EndsWith(std::string text, const std::string& end) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Where a song's output goes when -o does not say: the song's name with the
// format's extension, in folder (the current one when empty).
std::string OutputBeside(const std::string& folder, const std::string& input, FileFormat format) {
    const std::string name = SongBase(input) + FormatExtension(format);
    return folder.empty() ? name : folder + (folder.back() == '/' ? "" : "/") + name;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The same file however it is named: a/../b.wav and ./b.wav.
std::string Identity(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return (error ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

// Everything the options ask for.
struct Request {
    std::vector<std::string> inputs;
    std::string out, outDir, stemsDir, formatName;
    bool embedded = false, info = false, quiet = false;
    int loops = 1, jobs = std::clamp(int(std::thread::hardware_concurrency()), 1, 64);
    double seconds = 0, fade = 0, normalize = NAN;
    RenderSettings settings;
    std::optional<uint32_t> mute, solo;
    bool forceRules = false;
    RuleSet rules = RuleSet::Ft2;
    bool allSubsongs = false;
};

// A subsong's number, or all.
bool ParseSubsong(const char* text, Request& r) {
    double number = 0;
    r.allSubsongs = std::string(text) == "all";
    if (r.allSubsongs)
        return true;
    if (!cli::ParseNumber(text, 0, 255, number) || number != std::floor(number))
        return false;
    r.settings.subsong = int32_t(number);
    return true;
}

// name.wav as name-sNN.wav: the output of one subsong of several.
std::string SubsongPath(const std::string& path, int subsong) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-s%02d", subsong);
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const size_t at =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) ? dot : path.size();
    return path.substr(0, at) + suffix + path.substr(at);
}

cli::Command Options(Request& r) {
    const auto channels = [](std::optional<uint32_t>& mask) {
        return [&mask](const char* value) { return ParseChannelList(value, &mask.emplace()); };
    };
    return {
        .tool = "tinsel-render",
        .synopsis = "usage: tinsel-render [options] (SONG.xm|SONG.mod... | --embedded)\n"
                    "Renders songs through the player into stereo WAV or FLAC files, from their start to "
                    "their end.\n",
        .options =
            {
                {.names = "-o, --out",
                 .value = "FILE",
                 .sets = &r.out,
                 .needs = "a file name, or - for standard output",
                 .help = "output file of one song, - for standard output (default: the song's name\n"
                         "with .wav or .flac, in the current folder for one song, beside each song\n"
                         "for several)"},
                {.names = "--out-dir",
                 .value = "DIR",
                 .sets = &r.outDir,
                 .needs = "a folder",
                 .help = "write the outputs into DIR instead, made if missing"},
                {.names = "--format",
                 .value = "F",
                 .sets =
                     [&r](const char* value) {
                         r.formatName = value;
                         return r.formatName == "wav" || r.formatName == "flac";
                     },
                 .needs = "wav or flac",
                 .wants = "wav or flac",
                 .help = "wav or flac (default: flac for an output named .flac, else wav);\n"
                         "FLAC holds the 16-bit samples, losslessly"},
                {.names = "--stems",
                 .value = "DIR",
                 .sets = &r.stemsDir,
                 .needs = "a folder",
                 .help = "write each channel alone into DIR, made if missing, as SONG-chNN.wav\n"
                         "(channels counted from 0); the mix too only with -o or --out-dir"},
                {.names = "--normalize",
                 .value = "LUFS",
                 .low = -70,
                 .high = 0,
                 .sets = &r.normalize,
                 .needs = "a loudness",
                 .wants = "a loudness in LUFS from -70 to 0",
                 .help = "bring the render to this integrated loudness, -70 to 0, the true peak\n"
                         "held at -1 dBTP or below (stems get the mix's gain)"},
                {.names = "-j, --jobs",
                 .value = "N",
                 .low = 1,
                 .high = 64,
                 .sets = &r.jobs,
                 .needs = "a count",
                 .help = "songs rendered at once, 1 to 64 (default: the machine's cores)"},
                {.names = "--embedded",
                 .sets = &r.embedded,
                 .help = "the song built into the demo instead of a file"},
                {.names = "--loops",
                 .value = "N",
                 .low = 0,
                 .high = 1000,
                 .sets = &r.loops,
                 .needs = "a count",
                 .help = "passes through the song, the later ones from its restart position\n"
                         "(default 1); 0 renders until --seconds"},
                {.names = "--seconds",
                 .value = "S",
                 .low = 0.001,
                 .high = 86400,
                 .sets = &r.seconds,
                 .needs = "a number",
                 .help = "render at most S seconds"},
                {.names = "--fade",
                 .value = "S",
                 .low = 0,
                 .high = 86400,
                 .sets = &r.fade,
                 .needs = "a number",
                 .wants = "a number of seconds from 0 to 86400",
                 .help = "fade the last S seconds out"},
                sound_options::Rate(&r.settings.rate, true),
                {.names = "--float",
                 .sets = [&r] { r.settings.format = SampleFormat::Float32; },
                 .help = "32-bit float samples instead of 16-bit (WAV only)"},
                {.names = "--mute",
                 .value = "LIST",
                 .sets = channels(r.mute),
                 .needs = "a list of channels",
                 .wants = "channels from 0 to 31, such as 0,2-4",
                 .help = "silence these channels, counted from 0, e.g. 0,2-4"},
                {.names = "--solo",
                 .value = "LIST",
                 .sets = channels(r.solo),
                 .needs = "a list of channels",
                 .wants = "channels from 0 to 31, such as 0,2-4",
                 .help = "silence every channel but these"},
                {.names = "--subsong",
                 .value = "N",
                 .sets = [&r](const char* value) { return ParseSubsong(value, r); },
                 .needs = "a subsong's number, or all",
                 .wants = "a subsong's number from 0, or all",
                 .help = "render the song's tune N, from 0 (default 0: the one from its first order);\n"
                         "all renders each into an output of its own, NAME-sNN.wav"},
                sound_options::Stereo(&r.settings.separation, true),
                sound_options::Tempo(&r.settings.tempo, true),
                sound_options::Pitch(&r.settings.pitch, true),
                {.names = "--info",
                 .sets = &r.info,
                 .help = "print what the song holds (its subsongs, instrument and sample names)\n"
                         "and how long it plays, and render nothing"},
                sound_options::Rules(&r.forceRules, &r.rules, true),
                {.names = "--amp",
                 .value = "N",
                 .low = 1,
                 .high = 32,
                 .sets = &r.settings.amplification,
                 .needs = "a number",
                 .help = "amplification of a song played by ft2 rules, 1 to 32, as the original\n"
                         "tracker's (default 4, its own)"},
                sound_options::Interpolation(&r.settings.interpolation, true),
                sound_options::Ramp(&r.settings.ramp, true),
                {.names = "-q, --quiet",
                 .sets = &r.quiet,
                 .help = "no progress bar and no summary (the summary gives each output's loudness)"},
            },
        .operands = &r.inputs,
    };
}

} // namespace

int main(int argc, char** argv) {
    Request r;
    const cli::Command command = Options(r);
    if (const std::optional<int> exit = cli::Parse(command, argc, argv))
        return *exit;
    if (r.embedded == !r.inputs.empty()) {
        cli::PrintHelp(command, stderr);
        return Fail("name song files, or --embedded");
    }
    if (r.embedded)
        r.inputs.push_back(""); // the embedded song has no file
    if (r.loops == 0 && r.seconds == 0)
        return Fail("--loops 0 renders forever: give --seconds too");
    r.settings.loops = r.loops;
    r.settings.seconds = r.seconds;
    r.settings.fade = r.fade;
    r.settings.mutedChannels = r.mute.value_or(0) | ~r.solo.value_or(~0u);

    if (r.info) {
        int failed = 0;
        for (const std::string& input : r.inputs) {
            SongFile file = input.empty() ? LoadSongImage(EmbeddedSong, EmbeddedSongSize, "the embedded song")
                                          : LoadSongFile(input);
            if (file.module == nullptr) {
                failed += Fail(file.error);
                continue;
            }
            if (r.forceRules)
                file.rules = r.rules;
            // Several songs: each under its name, a blank line between.
            if (r.inputs.size() > 1)
                std::printf("%s%s\n", &input == &r.inputs.front() ? "" : "\n", input.c_str());
            const std::string info =
                SongInfo(file, r.settings.rate, {r.allSubsongs ? 0 : r.settings.subsong, r.settings.tempo});
            if (info.empty())
                failed +=
                    Fail(SubsongRefusal(*file.module, r.settings.rate, SongRules(*file.module, file.rules),
                                        input.empty() ? "the embedded song" : input));
            std::fputs(info.c_str(), stdout);
            FreeModule(file.module);
        }
        return failed != 0 ? 1 : 0;
    }

    const FileFormat format = !r.formatName.empty()
                                  ? (r.formatName == "flac" ? FileFormat::Flac : FileFormat::Wav)
                                  : (EndsWith(r.out, ".flac") ? FileFormat::Flac : FileFormat::Wav);
    if (format == FileFormat::Flac && !FlacAvailable())
        return Fail("this build writes no FLAC: write WAV");
    if (format == FileFormat::Flac && r.settings.format == SampleFormat::Float32)
        return Fail("FLAC holds integer samples: leave out --float, or write WAV");
    if (!std::isnan(r.normalize) && !LoudnessAvailable())
        return Fail("this build measures no loudness: --normalize cannot work");
    if (!r.out.empty() && r.inputs.size() > 1)
        return Fail("-o names the output of one song: for several, use --out-dir");
    if (!r.out.empty() && !r.outDir.empty())
        return Fail("-o and --out-dir both say where the output goes: give one");
    if (r.out == "-" && isatty(fileno(stdout)))
        return Fail("standard output is a terminal: redirect it, or name a file with -o");
    if (r.out == "-" && r.allSubsongs)
        return Fail("--subsong all writes a file for each subsong: name a file with -o, not -");

    // The mix is written unless only stems are asked for.
    const bool mix = r.stemsDir.empty() || !r.out.empty() || !r.outDir.empty();
    std::vector<RenderJob> batch;
    std::map<std::string, std::string> writers; // each output, and the song that writes it
    for (const std::string& input : r.inputs) {
        // One job for the subsong asked for; with all, one for each the song has.
        int subsongs = 1;
        if (r.allSubsongs) {
            SongFile file = input.empty() ? LoadSongImage(EmbeddedSong, EmbeddedSongSize, "the embedded song")
                                          : LoadSongFile(input);
            if (file.module == nullptr)
                return Fail(file.error);
            subsongs =
                int(FindSubsongs(*file.module, r.settings.rate,
                                 SongRules(*file.module, r.forceRules ? std::optional(r.rules) : file.rules))
                        .size());
            FreeModule(file.module);
        }
        for (int subsong = 0; subsong < subsongs; ++subsong) {
            RenderJob job;
            job.input = input;
            job.format = format;
            job.settings = r.settings;
            job.normalize = r.normalize;
            job.forceRules = r.forceRules;
            job.rules = r.rules;
            job.measure = !r.quiet && LoudnessAvailable();
            job.stemsDir = r.stemsDir;
            if (mix)
                job.out = !r.out.empty()         ? r.out
                          : !r.outDir.empty()    ? OutputBeside(r.outDir, input, format)
                          : r.inputs.size() == 1 ? OutputBeside("", input, format)
                                                 : OutputBeside(FolderOf(input), input, format);
            if (r.allSubsongs) {
                job.settings.subsong = subsong;
                job.suffix = SubsongPath("", subsong);
                if (!job.out.empty())
                    job.out = SubsongPath(job.out, subsong);
            }
            // Two songs of one name would write over each other's outputs.
            std::vector<std::pair<std::string, std::string>> outputs; // who it is, and how it is shown
            if (!job.out.empty() && job.out != "-")
                outputs.emplace_back(Identity(job.out), job.out);
            if (!r.stemsDir.empty()) {
                const std::string stems = StemPath(r.stemsDir, SongBase(input) + job.suffix, 0, 1, format);
                outputs.emplace_back(Identity(stems) + "*",
                                     stems.substr(0, stems.rfind("-ch") + 3) + "*" + FormatExtension(format));
            }
            for (const auto& [identity, shown] : outputs) {
                const auto [at, added] = writers.emplace(identity, input);
                if (!added)
                    return Fail(at->second + " and " + input + " would both write " + shown);
            }
            batch.push_back(job);
        }
    }
    std::string error;
    for (const std::string& folder : {r.outDir, r.stemsDir}) {
        if (!folder.empty() && !cli::MakeFolder(folder, &error))
            return Fail(error);
    }
    RemoveTemporaryFilesOnSignals();
#ifdef __EMSCRIPTEN__
    r.jobs = 1; // built without threads: one song after another
#endif
    return RunJobs(batch, r.jobs, r.quiet) == 0 ? 0 : 1;
}

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
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "player/format/module.h"
#include "player/format/song.h"
#include "tools/cli.h"
#include "tools/render/batch.h"
#include "tools/render/flac_writer.h"
#include "tools/render/job.h"
#include "tools/render/loudness.h"
#include "tools/render/output_file.h"
#include "tools/render/render.h"
#include "tools/render/song_file.h"

namespace {

const char kUsage[] =
    "usage: tinsel-render [options] (SONG.xm|SONG.mod... | --embedded)\n"
    "Renders songs through the player into stereo WAV or FLAC files, from their start to their end.\n"
    "  -o, --out FILE     output file of one song, - for standard output (default: the song's name\n"
    "                     with .wav or .flac, in the current folder for one song, beside each song\n"
    "                     for several)\n"
    "  --out-dir DIR      write the outputs into DIR instead, made if missing\n"
    "  --format F         wav or flac (default: flac for an output named .flac, else wav);\n"
    "                     FLAC holds the 16-bit samples, losslessly\n"
    "  --stems DIR        write each channel alone into DIR, made if missing, as SONG-chNN.wav\n"
    "                     (channels counted from 0); the mix too only with -o or --out-dir\n"
    "  --normalize LUFS   bring the render to this integrated loudness, -70 to 0, the true peak\n"
    "                     held at -1 dBTP or below (stems get the mix's gain)\n"
    "  -j, --jobs N       songs rendered at once, 1 to 64 (default: the machine's cores)\n"
    "  --embedded         the song built into the demo instead of a file\n"
    "  --loops N          passes through the song, the later ones from its restart position\n"
    "                     (default 1); 0 renders until --seconds\n"
    "  --seconds S        render at most S seconds\n"
    "  --fade S           fade the last S seconds out\n"
    "  --rate HZ          frames per second, 8000 to 192000 (default 44100)\n"
    "  --float            32-bit float samples instead of 16-bit (WAV only)\n"
    "  --mute LIST        silence these channels, counted from 0, e.g. 0,2-4\n"
    "  --solo LIST        silence every channel but these\n"
    "  --info             print what the song holds and how long it plays, and render nothing\n"
    "  --rules R          play by tinsel or ft2 rules (default: tinsel for songs by songc, else ft2)\n"
    "  --amp N            amplification of a song played by ft2 rules, 1 to 32, as the original\n"
    "                     tracker's (default 4, its own)\n"
    "  --interp I         how voices read between sample entries: nearest, linear (the rule set's\n"
    "                     own mixing, the default), cubic (Catmull-Rom) or sinc (windowed sinc of\n"
    "                     16 taps, wider for notes above the sample's rate, so that they do not alias)\n"
    "  --ramp R           rules (the rule set's gain ramps, the default) or off (gain changes at\n"
    "                     once, attacks exactly as stored)\n"
    "  -q, --quiet        no progress bar and no summary (the summary gives each output's loudness)\n"
    "  -h, --help         this text\n";

int Fail(const std::string& message) {
    return cli::Fail("tinsel-render", message);
}

using cli::ParseNumber;

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

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> inputs;
    std::string out, outDir, stemsDir, formatName;
    bool embedded = false, info = false, quiet = false, haveMute = false, haveSolo = false;
    double loops = 1, seconds = 0, fade = 0, rate = 44100, normalize = NAN;
    double jobs = std::clamp(double(std::thread::hardware_concurrency()), 1.0, 64.0);
    RenderSettings settings;
    uint32_t mute = 0, solo = 0;
    bool forceRules = false;
    RuleSet rules = RuleSet::Ft2;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const auto needs = [&](const char* what) {
            if (value == nullptr)
                return Fail(arg + " needs " + what);
            ++i;
            return 0;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--embedded") {
            embedded = true;
        } else if (arg == "--info") {
            info = true;
        } else if (arg == "--quiet" || arg == "-q") {
            quiet = true;
        } else if (arg == "--float") {
            settings.format = SampleFormat::Float32;
        } else if (arg == "-o" || arg == "--out") {
            if (needs("a file name, or - for standard output"))
                return 1;
            out = value;
        } else if (arg == "--out-dir" || arg == "--stems") {
            if (needs("a folder"))
                return 1;
            (arg == "--stems" ? stemsDir : outDir) = value;
        } else if (arg == "--format") {
            if (needs("wav or flac"))
                return 1;
            if (std::string(value) != "wav" && std::string(value) != "flac")
                return Fail("--format wants wav or flac");
            formatName = value;
        } else if (arg == "--normalize") {
            if (needs("a loudness"))
                return 1;
            if (!ParseNumber(value, -70, 0, normalize))
                return Fail("--normalize wants a loudness in LUFS from -70 to 0");
        } else if (arg == "-j" || arg == "--jobs") {
            if (needs("a count"))
                return 1;
            if (!ParseNumber(value, 1, 64, jobs) || jobs != int(jobs))
                return Fail(arg + " wants a whole number from 1 to 64");
        } else if (arg == "--loops") {
            if (needs("a count"))
                return 1;
            if (!ParseNumber(value, 0, 1000, loops) || loops != int(loops))
                return Fail("--loops wants a whole number from 0 to 1000");
        } else if (arg == "--seconds") {
            if (needs("a number"))
                return 1;
            if (!ParseNumber(value, 0.001, 86400, seconds))
                return Fail("--seconds wants a number from 0.001 to 86400");
        } else if (arg == "--fade") {
            if (needs("a number"))
                return 1;
            if (!ParseNumber(value, 0, 86400, fade))
                return Fail("--fade wants a number of seconds from 0 to 86400");
        } else if (arg == "--rate") {
            if (needs("a number"))
                return 1;
            if (!ParseNumber(value, 8000, 192000, rate) || rate != int(rate))
                return Fail("--rate wants a whole number from 8000 to 192000");
        } else if (arg == "--amp") {
            double amp = 0;
            if (needs("a number") || !ParseNumber(value, 1, 32, amp) || amp != int(amp))
                return Fail("--amp wants a whole number from 1 to 32");
            settings.amplification = int32_t(amp);
        } else if (arg == "--rules") {
            if (needs("tinsel or ft2"))
                return 1;
            if (!ParseRuleSet(value, &rules))
                return Fail("--rules wants tinsel or ft2");
            forceRules = true;
        } else if (arg == "--interp") {
            if (needs("nearest, linear, cubic or sinc"))
                return 1;
            if (!ParseInterpolation(value, &settings.interpolation))
                return Fail("--interp wants nearest, linear, cubic or sinc");
        } else if (arg == "--ramp") {
            if (needs("rules or off"))
                return 1;
            if (!ParseRamp(value, &settings.ramp))
                return Fail("--ramp wants rules or off");
        } else if (arg == "--mute" || arg == "--solo") {
            uint32_t& mask = arg == "--mute" ? mute : solo;
            if (needs("a list of channels"))
                return 1;
            if (!ParseChannelList(value, &mask))
                return Fail(arg + " wants channels from 0 to 31, such as 0,2-4");
            (arg == "--mute" ? haveMute : haveSolo) = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fputs(kUsage, stderr);
            return Fail("unknown option " + arg);
        } else {
            inputs.push_back(arg);
        }
    }
    if (embedded == !inputs.empty()) {
        std::fputs(kUsage, stderr);
        return Fail("name song files, or --embedded");
    }
    if (embedded)
        inputs.push_back(""); // the embedded song has no file
    if (loops == 0 && seconds == 0)
        return Fail("--loops 0 renders forever: give --seconds too");
    settings.rate = int32_t(rate);
    settings.loops = int32_t(loops);
    settings.seconds = seconds;
    settings.fade = fade;
    settings.mutedChannels = (haveMute ? mute : 0) | (haveSolo ? ~solo : 0);

    if (info) {
        int failed = 0;
        for (const std::string& input : inputs) {
            SongFile file = input.empty() ? LoadSongImage(EmbeddedSong, EmbeddedSongSize, "the embedded song")
                                          : LoadSongFile(input);
            if (file.module == nullptr) {
                failed += Fail(file.error);
                continue;
            }
            if (forceRules)
                file.rules = rules;
            // Several songs: each under its name, a blank line between.
            if (inputs.size() > 1)
                std::printf("%s%s\n", &input == &inputs.front() ? "" : "\n", input.c_str());
            std::fputs(SongInfo(file, settings.rate).c_str(), stdout);
            FreeModule(file.module);
        }
        return failed != 0 ? 1 : 0;
    }

    const FileFormat format = !formatName.empty()
                                  ? (formatName == "flac" ? FileFormat::Flac : FileFormat::Wav)
                                  : (EndsWith(out, ".flac") ? FileFormat::Flac : FileFormat::Wav);
    if (format == FileFormat::Flac && !FlacAvailable())
        return Fail("this build writes no FLAC: write WAV");
    if (format == FileFormat::Flac && settings.format == SampleFormat::Float32)
        return Fail("FLAC holds integer samples: leave out --float, or write WAV");
    if (!std::isnan(normalize) && !LoudnessAvailable())
        return Fail("this build measures no loudness: --normalize cannot work");
    if (!out.empty() && inputs.size() > 1)
        return Fail("-o names the output of one song: for several, use --out-dir");
    if (!out.empty() && !outDir.empty())
        return Fail("-o and --out-dir both say where the output goes: give one");
    if (out == "-" && isatty(fileno(stdout)))
        return Fail("standard output is a terminal: redirect it, or name a file with -o");

    // The mix is written unless only stems are asked for.
    const bool mix = stemsDir.empty() || !out.empty() || !outDir.empty();
    std::vector<RenderJob> batch;
    std::map<std::string, std::string> writers; // each output, and the song that writes it
    for (const std::string& input : inputs) {
        RenderJob job;
        job.input = input;
        job.format = format;
        job.settings = settings;
        job.normalize = normalize;
        job.forceRules = forceRules;
        job.rules = rules;
        job.measure = !quiet && LoudnessAvailable();
        job.stemsDir = stemsDir;
        if (mix)
            job.out = !out.empty()         ? out
                      : !outDir.empty()    ? OutputBeside(outDir, input, format)
                      : inputs.size() == 1 ? OutputBeside("", input, format)
                                           : OutputBeside(FolderOf(input), input, format);
        // Two songs of one name would write over each other's outputs.
        std::vector<std::pair<std::string, std::string>> outputs; // who it is, and how it is shown
        if (!job.out.empty() && job.out != "-")
            outputs.emplace_back(Identity(job.out), job.out);
        if (!stemsDir.empty()) {
            const std::string stems = StemPath(stemsDir, SongBase(input), 0, 1, format);
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
    std::string error;
    for (const std::string& folder : {outDir, stemsDir}) {
        if (!folder.empty() && !cli::MakeFolder(folder, &error))
            return Fail(error);
    }
    RemoveTemporaryFilesOnSignals();
#ifdef __EMSCRIPTEN__
    jobs = 1; // built without threads: one song after another
#endif
    return RunJobs(batch, int(jobs), quiet) == 0 ? 0 : 1;
}

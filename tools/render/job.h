// One song's render to its outputs: the mix and the stems (the song as each
// channel alone), in WAV or FLAC, measured and, if asked, brought to a loudness.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "player/engine/rules.h"
#include "tools/render/render.h"

enum class FileFormat { Wav, Flac };

struct RenderJob {
    std::string input;    // the song file; empty for the embedded song
    std::string out;      // the mix's file, "-" for standard output; empty: stems only
    std::string stemsDir; // the stems' folder, made already; empty: no stems
    FileFormat format = FileFormat::Wav;
    RenderSettings settings;
    double normalize = NAN; // the loudness to bring the render to, in LUFS; NaN: as it plays
    bool forceRules = false;
    RuleSet rules = RuleSet::Ft2;
    bool measure = false; // measure the loudness of every output for its summary
    std::string suffix;   // after the song's name in the stems' names: "-s02" for a subsong of several
};

// Where a job is: renders are its passes (a measuring pass, the mix, each stem).
struct JobProgress {
    int pass;
    int passes;
    int64_t done; // frames of this pass
    int64_t total;
    int32_t rate;
    std::string label; // what the pass makes, when there are several
};

struct JobOutcome {
    std::string error;                // empty: every output was written
    std::vector<std::string> summary; // a line for each output written
};

// Renders the job's outputs; a failure ends it with one line, and leaves no
// file of the output it was writing.
JobOutcome RunJob(const RenderJob& job, const std::function<void(const JobProgress&)>& progress = {});

// The song's file name without its folder and extension; "tinselbay" for the embedded song.
std::string SongBase(const std::string& input);
// ".wav" or ".flac".
const char* FormatExtension(FileFormat format);
// The stem of channel (from 0) of a song of channels channels: dir/base-chNN.ext,
// the number zero-padded to the width of the channel count, so that names sort in channel order.
std::string StemPath(const std::string& dir, const std::string& base, int channel, int channels,
                     FileFormat format);

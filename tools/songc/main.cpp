// songc: compiles a text score into an XM module with its own synthesised samples.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compile.h"
#include "synth.h"
#include "tools/cli.h"

namespace {

const char* kUsage = "Usage: songc SCORE.txt -o SONG.xm\n"
                     "       songc --help\n"
                     "Compiles a text score (instruments, tracks, patterns, order list) into an XM\n"
                     "module whose 8-bit samples are synthesised from the named voices.\n"
                     "The score format is described at the top of assets/song/tinselbay.txt.\n";

int Fail(const std::string& message) {
    return cli::Fail("songc", message);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        std::fputs("Voices:", stdout);
        for (const std::string& name : songc::VoiceNames())
            std::printf(" %s", name.c_str());
        std::fputs("\n", stdout);
        return 0;
    }
    if (args.size() != 3 || args[1] != "-o")
        return std::fputs(kUsage, stderr), 2;

    std::ifstream in(args[0], std::ios::binary);
    if (!in)
        return Fail("cannot read " + args[0]);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    songc::Song song;
    std::vector<uint8_t> xm;
    std::string error;
    if (!songc::CompileScore(text, song, xm, error))
        return Fail(args[0] + ": " + error);

    std::ofstream out(args[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(xm.data()), static_cast<std::streamsize>(xm.size()));
    out.close();
    if (!out)
        return Fail("cannot write " + args[2]);
    std::printf("songc: %s: %zu bytes, %zu patterns, %zu instruments, %zu order positions\n", args[2].c_str(),
                xm.size(), song.patterns.size(), song.instruments.size(), song.order.size());
    return 0;
}

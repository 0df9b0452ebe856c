#include "compile.h"

#include "score.h"
#include "synth.h"
#include "xm_writer.h"

namespace songc {

bool CompileScore(const std::string& text, Song& song, std::vector<uint8_t>& xm, std::string& error) {
    if (!ParseScore(text, song, error))
        return false;
    for (InstrumentDef& ins : song.instruments) {
        if (ins.voice.empty())
            continue;
        if (!Synthesise(ins.voice, ins.sample)) {
            std::string names;
            for (const std::string& name : VoiceNames())
                names += " " + name;
            error = "instrument '" + ins.name + "': unknown synth voice '" + ins.voice +
                    "' (voices:" + names + ")";
            return false;
        }
    }
    xm = WriteXm(song);
    return true;
}

} // namespace songc

#include "player/format/load_report.h"

#include <cstdio>

bool RefuseV(LoadReport& report, LoadRefusal kind, const char* format, va_list args) {
    if (report.refused == LoadRefusal::None) {
        report.refused = kind;
        std::vsnprintf(report.refusal, sizeof report.refusal, format, args);
    }
    return false;
}

bool Refuse(LoadReport& report, LoadRefusal kind, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RefuseV(report, kind, format, args);
    va_end(args);
    return false;
}

namespace {

// "3 things" or "1 thing".
std::string Count(long long n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

} // namespace

std::vector<std::string> DescribeLoad(const LoadReport& r) {
    std::vector<std::string> lines;
    if (r.refusal[0] != '\0') {
        lines.push_back(std::string("refused: ") + r.refusal);
        return lines;
    }
    if (r.olderLayout) {
        const char minor[3] = {char('0' + (r.version >> 4 & 0xF)), char('0' + (r.version & 0xF)), '\0'};
        lines.push_back("format " + std::to_string(r.version >> 8) + "." + minor + " layout");
    }
    if (r.adpcmSamples > 0) {
        lines.push_back(Count(r.adpcmSamples, "ADPCM sample"));
    }
    if (r.shortPatterns > 0) {
        lines.push_back(Count(r.shortPatterns, "pattern") +
                        " whose data ends before the last row (the rest empty)");
    }
    if (r.stereoSamples > 0) {
        lines.push_back(Count(r.stereoSamples, "stereo sample"));
    }
    if (r.shortInstrumentHeaders > 0) {
        lines.push_back(Count(r.shortInstrumentHeaders, "short instrument header") +
                        " (fields not stored are zero)");
    }
    if (r.instrumentsOver16 > 0) {
        lines.push_back(Count(r.instrumentsOver16, "instrument") + " with more than 16 samples (up to " +
                        std::to_string(r.mostSamples) + ")");
    }
    if (r.cutInstruments == 1) {
        lines.push_back("instrument " + std::to_string(r.firstCutInstrument) +
                        " cut short by the end of the file");
    } else if (r.cutInstruments > 1) {
        lines.push_back("instruments " + std::to_string(r.firstCutInstrument) + "-" +
                        std::to_string(r.firstCutInstrument + r.cutInstruments - 1) +
                        " cut short by the end of the file");
    }
    if (r.sampleBytesShort > 0) {
        lines.push_back("sample data " + Count(r.sampleBytesShort, "byte") + " short");
    }
    if (r.trailingBytes > 0) {
        lines.push_back(Count(r.trailingBytes, "byte") + " after the song ignored");
    }
    return lines;
}

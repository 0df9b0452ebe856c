#include "player/load_report.h"

#include <cstdio>

namespace {

std::string Format(const char* format, long long a, long long b = 0) {
    char line[96];
    std::snprintf(line, sizeof line, format, a, b);
    return line;
}

const char* Plural(long long n) {
    return n == 1 ? "" : "s";
}

} // namespace

std::vector<std::string> DescribeLoad(const LoadReport& r) {
    std::vector<std::string> lines;
    if (r.refusal[0] != '\0') {
        lines.push_back(std::string("refused: ") + r.refusal);
        return lines;
    }
    if (r.olderLayout) {
        lines.push_back(Format("format %lld.%02llx layout", r.version >> 8, r.version & 0xFF));
    }
    if (r.adpcmSamples > 0) {
        lines.push_back(Format("%lld ADPCM sample", r.adpcmSamples) + Plural(r.adpcmSamples));
    }
    if (r.shortInstrumentHeaders > 0) {
        lines.push_back(Format("%lld short instrument header", r.shortInstrumentHeaders) +
                        Plural(r.shortInstrumentHeaders) + " (fields not stored are zero)");
    }
    if (r.instrumentsOver16 > 0) {
        lines.push_back(Format("%lld instrument", r.instrumentsOver16) + Plural(r.instrumentsOver16) +
                        Format(" with more than 16 samples (up to %lld)", r.mostSamples));
    }
    if (r.cutInstruments == 1) {
        lines.push_back(Format("instrument %lld cut short by the end of the file", r.firstCutInstrument));
    } else if (r.cutInstruments > 1) {
        lines.push_back(Format("instruments %lld-%lld cut short by the end of the file", r.firstCutInstrument,
                               r.firstCutInstrument + r.cutInstruments - 1));
    }
    if (r.sampleBytesShort > 0) {
        lines.push_back(Format("sample data %lld byte", r.sampleBytesShort) + Plural(r.sampleBytesShort) +
                        " short");
    }
    if (r.trailingBytes > 0) {
        lines.push_back(Format("%lld byte", r.trailingBytes) + Plural(r.trailingBytes) +
                        " after the song ignored");
    }
    return lines;
}

#include "score.h"

#include <cctype>
#include <map>
#include <sstream>
#include <stdexcept>

namespace songc {
namespace {

struct ScoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Track {
    int length = 0;
    std::vector<Cell> cells;
};

// Splits a line into words; a word beginning with '#' starts a comment, and double quotes
// keep spaces inside one word.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        if (line[i] == '#')
            break;
        std::string word;
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string::npos)
                throw ScoreError("unterminated quote");
            word = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

long Number(const std::string& word, long low, long high, const char* what) {
    size_t used = 0;
    long value = 0;
    try {
        value = std::stol(word, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != word.size())
        throw ScoreError(std::string(what) + " must be a number, not '" + word + "'");
    if (value < low || value > high)
        throw ScoreError(std::string(what) + " " + word + " is outside " + std::to_string(low) + ".." +
                         std::to_string(high));
    return value;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// C-4, C#4 (octaves 0..7), --- for none, off or === for key-off.
uint8_t ParseNote(const std::string& word) {
    if (word == "---")
        return 0;
    if (word == "off" || word == "===")
        return kNoteKeyOff;
    static const char* kNames = "C-C#D-D#E-F-F#G-G#A-A#B-";
    if (word.size() == 3 && word[2] >= '0' && word[2] <= '7') {
        const std::string name = word.substr(0, 2);
        for (int k = 0; k < 12; ++k) {
            if (name == std::string(kNames + 2 * k, 2))
                return static_cast<uint8_t>((word[2] - '0') * 12 + k + 1);
        }
    }
    throw ScoreError("bad note '" + word + "' (C-4, C#4, ---, off)");
}

uint8_t ParseInstrument(const std::string& word) {
    if (word == "..")
        return 0;
    return static_cast<uint8_t>(Number(word, 1, 128, "instrument"));
}

// Two characters: hex 00..40 sets the volume; a letter and a hex digit is a command.
uint8_t ParseVolume(const std::string& word) {
    if (word == "..")
        return 0;
    if (word.size() == 2) {
        const int high = HexDigit(word[0]), low = HexDigit(word[1]);
        if (high >= 0 && high <= 4 && low >= 0 && (high < 4 || low == 0))
            return static_cast<uint8_t>(0x10 + high * 16 + low);
        static const std::string kCommands = "-+dusvplrm";
        const size_t command = kCommands.find(word[0]);
        if (command != std::string::npos && low >= 0)
            return static_cast<uint8_t>(0x60 + command * 16 + low);
    }
    throw ScoreError("bad volume column '" + word + "' (00..40, -y +y dy uy sy vy py ly ry my, ..)");
}

// Effect letter 0-9 or A-Z and a two-digit hex parameter.
void ParseEffect(const std::string& word, Cell& cell) {
    if (word == "...")
        return;
    if (word.size() == 3) {
        const char type = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        const int high = HexDigit(word[1]), low = HexDigit(word[2]);
        int number = -1;
        if (type >= '0' && type <= '9')
            number = type - '0';
        else if (type >= 'A' && type <= 'Z')
            number = type - 'A' + 10;
        if (number >= 0 && high >= 0 && low >= 0) {
            cell.effect = static_cast<uint8_t>(number);
            cell.parameter = static_cast<uint8_t>(high * 16 + low);
            return;
        }
    }
    throw ScoreError("bad effect '" + word + "' (e.g. A0F, 037, ...)");
}

EnvelopeDef ParseEnvelope(const std::vector<std::string>& words) {
    EnvelopeDef envelope;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "sustain" && i + 1 < words.size()) {
            envelope.sustain = static_cast<int>(Number(words[++i], 0, 11, "sustain point"));
        } else if (word == "loop" && i + 2 < words.size()) {
            envelope.loopStart = static_cast<int>(Number(words[++i], 0, 11, "loop start"));
            envelope.loopEnd = static_cast<int>(Number(words[++i], 0, 11, "loop end"));
        } else {
            const size_t comma = word.find(',');
            if (comma == std::string::npos)
                throw ScoreError("envelope point '" + word + "' is not tick,value");
            const long x = Number(word.substr(0, comma), 0, 65535, "envelope tick");
            const long y = Number(word.substr(comma + 1), 0, 64, "envelope value");
            if (!envelope.points.empty() && x <= envelope.points.back().first)
                throw ScoreError("envelope ticks must rise");
            envelope.points.emplace_back(static_cast<uint16_t>(x), static_cast<uint16_t>(y));
        }
    }
    const int count = static_cast<int>(envelope.points.size());
    if (count < 2 || count > 12)
        throw ScoreError("an envelope has 2 to 12 points");
    if (envelope.points[0].first != 0)
        throw ScoreError("an envelope starts at tick 0");
    if (envelope.sustain >= count || envelope.loopEnd >= count || envelope.loopStart > envelope.loopEnd)
        throw ScoreError("envelope sustain or loop names a point it does not have");
    return envelope;
}

class Parser {
public:
    explicit Parser(Song& song) : m_song(song) {}

    void Line(const std::vector<std::string>& w) {
        if (w.empty())
            return;
        if (m_block == Block::Instrument)
            return InstrumentLine(w);
        if (m_block == Block::Track)
            return TrackLine(w);
        if (m_block == Block::Pattern)
            return PatternLine(w);
        const std::string& key = w[0];
        if (key == "song" && w.size() == 2) {
            m_song.name = w[1];
        } else if (key == "channels" && w.size() == 2) {
            m_song.channels = static_cast<int>(Number(w[1], 1, 32, "channels"));
        } else if (key == "speed" && w.size() == 2) {
            m_song.speed = static_cast<int>(Number(w[1], 1, 31, "speed"));
        } else if (key == "bpm" && w.size() == 2) {
            m_song.bpm = static_cast<int>(Number(w[1], 32, 255, "bpm"));
        } else if (key == "restart" && w.size() == 2) {
            m_song.restart = static_cast<int>(Number(w[1], 0, 255, "restart"));
        } else if (key == "order" && w.size() >= 2) {
            m_orderNames.insert(m_orderNames.end(), w.begin() + 1, w.end());
        } else if (key == "instrument" && w.size() == 3) {
            const long number = Number(w[1], 1, 128, "instrument number");
            if (number != static_cast<long>(m_song.instruments.size()) + 1)
                throw ScoreError("instruments are numbered 1, 2, 3... in order");
            m_song.instruments.emplace_back();
            m_song.instruments.back().name = w[2];
            m_block = Block::Instrument;
        } else if (key == "track" && w.size() == 3) {
            if (m_tracks.count(w[1]))
                throw ScoreError("track '" + w[1] + "' is defined twice");
            m_current = w[1];
            Track& track = m_tracks[m_current];
            track.length = static_cast<int>(Number(w[2], 1, 256, "track length"));
            track.cells.assign(static_cast<size_t>(track.length), Cell{});
            m_block = Block::Track;
        } else if (key == "pattern" && w.size() == 3) {
            if (m_patternNumbers.count(w[1]))
                throw ScoreError("pattern '" + w[1] + "' is defined twice");
            if (m_song.channels == 0)
                throw ScoreError("'channels' must come before the first pattern");
            if (m_song.patterns.size() >= 256)
                throw ScoreError("a song has at most 256 patterns");
            m_patternNumbers[w[1]] = static_cast<int>(m_song.patterns.size());
            PatternData pattern;
            pattern.name = w[1];
            pattern.rows = static_cast<int>(Number(w[2], 1, 256, "pattern rows"));
            pattern.cells.assign(static_cast<size_t>(pattern.rows * m_song.channels), Cell{});
            m_song.patterns.push_back(std::move(pattern));
            m_block = Block::Pattern;
        } else {
            throw ScoreError("unknown or malformed statement '" + key + "'");
        }
    }

    void Finish() {
        if (m_block != Block::None)
            throw ScoreError("missing 'end'");
        if (m_song.channels == 0)
            throw ScoreError("no 'channels' given");
        if (m_orderNames.empty() || m_orderNames.size() > 256)
            throw ScoreError("the order list needs 1 to 256 entries");
        for (const std::string& name : m_orderNames) {
            const auto found = m_patternNumbers.find(name);
            if (found == m_patternNumbers.end())
                throw ScoreError("order names unknown pattern '" + name + "'");
            m_song.order.push_back(static_cast<uint8_t>(found->second));
        }
        if (m_song.restart >= static_cast<int>(m_song.order.size()))
            throw ScoreError("restart position is beyond the order list");
    }

private:
    enum class Block { None, Instrument, Track, Pattern };

    void InstrumentLine(const std::vector<std::string>& w) {
        InstrumentDef& ins = m_song.instruments.back();
        const std::string& key = w[0];
        if (key == "end" && w.size() == 1) {
            m_block = Block::None;
        } else if (key == "synth" && w.size() == 2) {
            ins.voice = w[1];
        } else if (key == "volume" && w.size() == 2) {
            ins.volume = static_cast<uint8_t>(Number(w[1], 0, 64, "volume"));
        } else if (key == "panning" && w.size() == 2) {
            ins.panning = static_cast<uint8_t>(Number(w[1], 0, 255, "panning"));
        } else if (key == "transpose" && w.size() == 2) {
            ins.transpose = static_cast<int>(Number(w[1], -48, 48, "transpose"));
        } else if (key == "fadeout" && w.size() == 2) {
            ins.fadeout = static_cast<uint16_t>(Number(w[1], 0, 4095, "fadeout"));
        } else if (key == "volenv") {
            ins.volumeEnvelope = ParseEnvelope(w);
        } else if (key == "panenv") {
            ins.panningEnvelope = ParseEnvelope(w);
        } else if (key == "autovibrato" && w.size() == 5) {
            static const std::vector<std::string> kTypes = {"sine", "square", "rampdown", "rampup"};
            int type = -1;
            for (size_t k = 0; k < kTypes.size(); ++k)
                if (w[1] == kTypes[k])
                    type = static_cast<int>(k);
            if (type < 0)
                throw ScoreError("auto-vibrato type is sine, square, rampdown or rampup");
            ins.vibratoType = static_cast<uint8_t>(type);
            ins.vibratoSweep = static_cast<uint8_t>(Number(w[2], 0, 255, "vibrato sweep"));
            ins.vibratoDepth = static_cast<uint8_t>(Number(w[3], 0, 15, "vibrato depth"));
            ins.vibratoRate = static_cast<uint8_t>(Number(w[4], 0, 63, "vibrato rate"));
        } else {
            throw ScoreError("unknown or malformed instrument setting '" + key + "'");
        }
    }

    void TrackLine(const std::vector<std::string>& w) {
        Track& track = m_tracks[m_current];
        if (w[0] == "end" && w.size() == 1) {
            m_block = Block::None;
            return;
        }
        if (w.size() < 2 || w.size() > 5)
            throw ScoreError("a track row is: row note [instrument [volume [effect]]]");
        const long row = Number(w[0], 0, track.length - 1, "row");
        Cell& cell = track.cells[static_cast<size_t>(row)];
        if (!cell.Empty())
            throw ScoreError("row " + w[0] + " is given twice");
        cell.note = ParseNote(w[1]);
        if (w.size() > 2)
            cell.instrument = ParseInstrument(w[2]);
        if (w.size() > 3)
            cell.volume = ParseVolume(w[3]);
        if (w.size() > 4)
            ParseEffect(w[4], cell);
    }

    // "channel track [transpose] [@row[*times]] [ins=N]" places a track (repeating it to fill the
    // pattern when no row is given; ins= swaps the instrument it names); "channel row note [instrument
    // [volume [effect]]]" writes one cell.
    void PatternLine(const std::vector<std::string>& w) {
        PatternData& pattern = m_song.patterns.back();
        if (w[0] == "end" && w.size() == 1) {
            m_block = Block::None;
            return;
        }
        if (w.size() < 2)
            throw ScoreError("a pattern line is: channel track [transpose] [@row[*times]] [ins=N], or "
                             "channel row note ...");
        const int channel = static_cast<int>(Number(w[0], 0, m_song.channels - 1, "channel"));
        if (std::isdigit(static_cast<unsigned char>(w[1][0]))) {
            if (w.size() > 6)
                throw ScoreError("a cell is: channel row note [instrument [volume [effect]]]");
            const int row = static_cast<int>(Number(w[1], 0, pattern.rows - 1, "row"));
            Cell cell;
            cell.note = ParseNote(w.size() > 2 ? w[2] : "---");
            if (w.size() > 3)
                cell.instrument = ParseInstrument(w[3]);
            if (w.size() > 4)
                cell.volume = ParseVolume(w[4]);
            if (w.size() > 5)
                ParseEffect(w[5], cell);
            return Place(cell, row, channel, "cell");
        }
        const auto found = m_tracks.find(w[1]);
        if (found == m_tracks.end())
            throw ScoreError("unknown track '" + w[1] + "' (tracks come before the patterns using them)");
        long transpose = 0;
        int at = -1, times = 1, instrument = 0;
        for (size_t i = 2; i < w.size(); ++i) {
            const std::string& word = w[i];
            if (word[0] == '@') {
                const size_t star = word.find('*');
                at = static_cast<int>(Number(word.substr(1, star - 1), 0, pattern.rows - 1, "track row"));
                if (star != std::string::npos)
                    times = static_cast<int>(Number(word.substr(star + 1), 1, 256, "repeat count"));
            } else if (word.rfind("ins=", 0) == 0) {
                instrument = static_cast<int>(Number(word.substr(4), 1, 128, "instrument"));
            } else {
                transpose = Number(word, -95, 95, "transpose");
            }
        }
        const Track& track = found->second;
        const int first = at < 0 ? 0 : at;
        const int last = at < 0 ? pattern.rows : at + track.length * times;
        if (last > pattern.rows || track.length > pattern.rows)
            throw ScoreError("track '" + w[1] + "' runs past the end of the pattern");
        for (int row = first; row < last; ++row) {
            Cell cell = track.cells[static_cast<size_t>((row - first) % track.length)];
            if (cell.Empty())
                continue;
            if (cell.note >= 1 && cell.note <= 96) {
                const long note = cell.note + transpose;
                if (note < 1 || note > 96)
                    throw ScoreError("transposing track '" + w[1] + "' leaves the notes C-0..B-7");
                cell.note = static_cast<uint8_t>(note);
            }
            if (instrument != 0 && cell.instrument != 0)
                cell.instrument = static_cast<uint8_t>(instrument);
            Place(cell, row, channel, "track '" + w[1] + "'");
        }
    }

    void Place(const Cell& cell, int row, int channel, const std::string& what) {
        PatternData& pattern = m_song.patterns.back();
        Cell& target = pattern.cells[static_cast<size_t>(row * m_song.channels + channel)];
        if (!target.Empty())
            throw ScoreError(what + " overlaps another on channel " + std::to_string(channel) + " at row " +
                             std::to_string(row));
        target = cell;
    }

    Song& m_song;
    Block m_block = Block::None;
    std::string m_current;
    std::map<std::string, Track> m_tracks;
    std::map<std::string, int> m_patternNumbers;
    std::vector<std::string> m_orderNames;
};

} // namespace

bool ParseScore(const std::string& text, Song& song, std::string& error) {
    song = Song{};
    Parser parser(song);
    std::istringstream in(text);
    std::string line;
    int number = 0;
    try {
        while (std::getline(in, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            parser.Line(Words(line));
        }
    } catch (const ScoreError& e) {
        error = "line " + std::to_string(number) + ": " + e.what();
        return false;
    }
    try {
        parser.Finish();
    } catch (const ScoreError& e) {
        error = std::string("end of score: ") + e.what();
        return false;
    }
    return true;
}

} // namespace songc

// Reads the generated XM back with a reader of its own and checks the contract the picture
// relies on: header, order list, pattern lengths, the sync marks, no tempo changes, exact size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "assets/assets.h"
#include "tests/data/song_marks.h"

namespace {

struct Cell {
    int note, instrument, volume, effect, param;
};
struct Pattern {
    int rows = 0;
    std::vector<Cell> cells;  // rows × channels
};
struct Sample {
    std::uint32_t bytes = 0, loop_start = 0, loop_length = 0;  // in bytes, as stored
    int type = 0;                                              // bits 0-1 loop kind, bit 4 16-bit
    std::size_t data = 0;  // file offset of the delta-coded data
};
struct Module {
    std::string error;  // empty when the whole file parsed
    int version = 0, song_length = 0, restart = 0, channels = 0, flags = 0, tempo = 0, bpm = 0;
    std::vector<int> orders;
    std::vector<Pattern> patterns;
    std::vector<Sample> samples;  // one per instrument
    std::size_t end = 0;          // offset just past the last byte the reader consumed
};

// Little-endian reads that fail softly: out-of-range reads set `bad`.
struct Reader {
    const std::vector<std::uint8_t>& b;
    bool bad = false;
    unsigned u8(std::size_t at) {
        if (at >= b.size()) {
            bad = true;
            return 0;
        }
        return b[at];
    }
    unsigned u16(std::size_t at) { return u8(at) | u8(at + 1) << 8; }
    std::uint32_t u32(std::size_t at) {
        return u16(at) | static_cast<std::uint32_t>(u16(at + 2)) << 16;
    }
};

Module parse(const std::vector<std::uint8_t>& bytes) {
    Module m;
    Reader r{bytes};
    if (bytes.size() < 336 ||
        std::string(bytes.begin(), bytes.begin() + 17) != "Extended Module: " ||
        bytes[37] != 0x1A) {
        m.error = "no XM identification";
        return m;
    }
    m.version = static_cast<int>(r.u16(58));
    const std::uint32_t header = r.u32(60);
    m.song_length = static_cast<int>(r.u16(64));
    m.restart = static_cast<int>(r.u16(66));
    m.channels = static_cast<int>(r.u16(68));
    const unsigned patterns = r.u16(70), instruments = r.u16(72);
    m.flags = static_cast<int>(r.u16(74));
    m.tempo = static_cast<int>(r.u16(76));
    m.bpm = static_cast<int>(r.u16(78));
    for (int i = 0; i < m.song_length; ++i) m.orders.push_back(static_cast<int>(r.u8(80 + i)));

    std::size_t at = 60 + header;
    for (unsigned p = 0; p < patterns && !r.bad; ++p) {
        Pattern pat;
        const std::uint32_t plen = r.u32(at);
        pat.rows = static_cast<int>(r.u16(at + 5));
        const unsigned packed = r.u16(at + 7);
        std::size_t q = at + plen;
        const std::size_t stop = q + packed;
        while (q < stop && !r.bad) {
            Cell c{};
            const unsigned first = r.u8(q);
            if (first & 0x80) {
                ++q;
                c.note = (first & 1) ? static_cast<int>(r.u8(q++)) : 0;
                c.instrument = (first & 2) ? static_cast<int>(r.u8(q++)) : 0;
                c.volume = (first & 4) ? static_cast<int>(r.u8(q++)) : 0;
                c.effect = (first & 8) ? static_cast<int>(r.u8(q++)) : -1;
                c.param = (first & 16) ? static_cast<int>(r.u8(q++)) : 0;
                if (c.effect < 0) c.effect = (first & 16) ? 0 : -1;  // -1: no effect at all
            } else {
                c = {static_cast<int>(r.u8(q)), static_cast<int>(r.u8(q + 1)),
                     static_cast<int>(r.u8(q + 2)), static_cast<int>(r.u8(q + 3)),
                     static_cast<int>(r.u8(q + 4))};
                q += 5;
            }
            pat.cells.push_back(c);
        }
        if (q != stop || pat.cells.size() != static_cast<std::size_t>(pat.rows * m.channels)) {
            m.error = "pattern " + std::to_string(p) + " does not hold rows x channels cells";
            return m;
        }
        m.patterns.push_back(pat);
        at = stop;
    }
    for (unsigned i = 0; i < instruments && !r.bad; ++i) {
        const std::uint32_t ilen = r.u32(at);
        const unsigned nsamples = r.u16(at + 27);
        if (nsamples != 1) {
            m.error = "instrument " + std::to_string(i) + " does not have exactly one sample";
            return m;
        }
        const std::uint32_t shdr = r.u32(at + 29);
        Sample s;
        const std::size_t h = at + ilen;
        s.bytes = r.u32(h);
        s.loop_start = r.u32(h + 4);
        s.loop_length = r.u32(h + 8);
        s.type = static_cast<int>(r.u8(h + 14));
        s.data = h + shdr;
        m.samples.push_back(s);
        at = h + shdr + s.bytes;
    }
    if (r.bad || at > bytes.size()) m.error = "the file ends inside its own structures";
    m.end = at;
    return m;
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::string module_path() {
    const char* dir = std::getenv("VORTA_GEN_DIR");
    return std::string(dir ? dir : ".") + "/module.xm";
}

// The marks each order must carry, as (row, value) pairs.
std::multiset<std::pair<int, int>> wanted_marks(const SongMarks& song, int order) {
    std::multiset<std::pair<int, int>> m;
    for (const auto& [where, values] : song.marks) {
        if (where.first != order) continue;
        for (int value : values) m.insert({where.second, value});
    }
    return m;
}

class ModuleFile : public ::testing::Test {
   protected:
    static void SetUpTestSuite() {
        bytes_ = read_file(module_path());
        module_ = parse(bytes_);
        song_ = song_marks_read();
    }
    static std::vector<std::uint8_t> bytes_;
    static Module module_;
    static SongMarks song_;
};
std::vector<std::uint8_t> ModuleFile::bytes_;
Module ModuleFile::module_;
SongMarks ModuleFile::song_;

TEST_F(ModuleFile, HeaderAndOrderListAreTheContract) {
    ASSERT_EQ(bytes_.size(), module_length) << module_path();
    ASSERT_EQ(module_.error, "");
    EXPECT_EQ(module_.version, 0x0104);
    ASSERT_EQ(song_.error, "");
    EXPECT_EQ(module_.song_length, static_cast<int>(song_.orders.size()));
    EXPECT_EQ(module_.restart, 0);
    EXPECT_EQ(module_.channels, 20);
    EXPECT_EQ(module_.patterns.size(), 13u);
    EXPECT_EQ(module_.samples.size(), 10u);
    EXPECT_EQ(module_.flags & 1, 1) << "linear frequency table";
    EXPECT_EQ(module_.tempo, 3);
    EXPECT_EQ(module_.bpm, 126);
    std::vector<int> wanted;
    for (const SongOrder& o : song_.orders) wanted.push_back(o.pattern);
    EXPECT_EQ(module_.orders, wanted);
}

TEST_F(ModuleFile, EveryByteBelongsToTheModule) {
    ASSERT_EQ(module_.error, "");
    EXPECT_EQ(module_.end, bytes_.size()) << "sample data must end exactly at the end of the file";
    for (std::size_t i = 0; i < module_.samples.size(); ++i) {
        const Sample& s = module_.samples[i];
        if (s.type & 0x10) {
            EXPECT_EQ(s.bytes % 2, 0u) << "16-bit sample " << i;
        }
        if (s.type & 3) {
            EXPECT_LE(s.loop_start + s.loop_length, s.bytes) << "loop of sample " << i;
        }
    }
}

TEST_F(ModuleFile, EveryOrderHasItsLength) {
    ASSERT_EQ(module_.error, "");
    ASSERT_EQ(song_.error, "");
    ASSERT_EQ(module_.orders.size(), song_.orders.size());
    for (std::size_t o = 0; o < song_.orders.size(); ++o) {
        ASSERT_LT(static_cast<std::size_t>(module_.orders[o]), module_.patterns.size());
        EXPECT_EQ(module_.patterns[module_.orders[o]].rows, song_.orders[o].rows) << "order " << o;
    }
}

TEST_F(ModuleFile, EveryOrderCarriesExactlyItsSyncMarks) {
    ASSERT_EQ(module_.error, "");
    ASSERT_EQ(song_.error, "");
    for (int order = 0; order < module_.song_length; ++order) {
        const Pattern& p = module_.patterns[module_.orders[order]];
        std::multiset<std::pair<int, int>> found;
        for (int row = 0; row < p.rows; ++row)
            for (int ch = 0; ch < module_.channels; ++ch) {
                const Cell& c = p.cells[row * module_.channels + ch];
                if (c.effect == 32) found.insert({row, c.param});
            }
        EXPECT_EQ(found, wanted_marks(song_, order)) << "order " << order;
    }
}

// Nothing may change the speed, the tempo or the play order: the picture counts rows.
TEST_F(ModuleFile, NoTempoSpeedOrFlowCommands) {
    ASSERT_EQ(module_.error, "");
    for (std::size_t p = 0; p < module_.patterns.size(); ++p)
        for (std::size_t i = 0; i < module_.patterns[p].cells.size(); ++i) {
            const Cell& c = module_.patterns[p].cells[i];
            const int sub = c.param >> 4;
            const bool flow = c.effect == 0x0B || c.effect == 0x0D ||
                              c.effect == 0x0F ||  // jump, break, speed
                              (c.effect == 0x0E && (sub == 0x6 || sub == 0xE));  // loop, delay
            EXPECT_FALSE(flow) << "pattern " << p << " row " << i / module_.channels << " effect "
                               << c.effect;
            EXPECT_LE(c.effect, 35) << "pattern " << p;
        }
}

// The song must end in silence: played through in order, every looping instrument is released
// in time for its fade to finish, instead of being cut off by the end of the song.
TEST_F(ModuleFile, LastNotesAreReleasedBeforeTheEnd) {
    ASSERT_EQ(module_.error, "");
    std::vector<int> held(module_.channels, 0), held_order(module_.channels, -1);
    for (int order = 0; order < module_.song_length; ++order) {
        const Pattern& p = module_.patterns[module_.orders[order]];
        for (int row = 0; row < p.rows; ++row)
            for (int ch = 0; ch < module_.channels; ++ch) {
                const Cell& c = p.cells[row * module_.channels + ch];
                if (c.note == 97) {
                    held[ch] = 0;
                    if (order == module_.song_length - 1) {
                        EXPECT_LT(row, p.rows - 24)
                            << "channel " << ch << " released too late to fade out";
                    }
                } else if (c.note && c.instrument) {
                    held[ch] = (module_.samples.at(c.instrument - 1).type & 3) ? c.instrument : 0;
                    held_order[ch] = order;
                }
            }
    }
    for (int ch = 0; ch < module_.channels; ++ch)
        EXPECT_EQ(held[ch], 0) << "channel " << ch << " still holds instrument " << held[ch]
                               << " from order " << held_order[ch];
}

// Undoes the delta coding of a 16-bit sample.
std::vector<int> decode16(const std::vector<std::uint8_t>& b, const Sample& s) {
    std::vector<int> out;
    std::int16_t v = 0;
    for (std::size_t i = 0; i + 1 < s.bytes; i += 2) {
        v = static_cast<std::int16_t>(
            v + static_cast<std::int16_t>(b[s.data + i] | b[s.data + i + 1] << 8));
        out.push_back(v);
    }
    return out;
}

// Every sample must be audible, and a one-shot must end at silence: stopping on a non-zero value
// is a click every time the sound finishes.
TEST_F(ModuleFile, SamplesAreAudibleAndOneShotsEndSilently) {
    ASSERT_EQ(module_.error, "");
    for (std::size_t i = 0; i < module_.samples.size(); ++i) {
        const Sample& s = module_.samples[i];
        if (!(s.type & 0x10)) continue;
        const std::vector<int> x = decode16(bytes_, s);
        ASSERT_FALSE(x.empty()) << "sample " << i;
        int peak = 0;
        for (int v : x) peak = std::max(peak, std::abs(v));
        EXPECT_GT(peak, 16000) << "sample " << i << " is nearly silent";
        if ((s.type & 3) == 0) {
            EXPECT_LT(std::abs(x.back()), peak / 100) << "sample " << i << " ends on a click";
        }
    }
}

// The generator: same bytes every run, clear failures on bad use.
int run(const std::string& args) {
    const std::string cmd = std::string(VORTA_GEN_MODULE_EXE) + " " + args;
    const int status = std::system(cmd.c_str());
#ifdef WEXITSTATUS
    return WEXITSTATUS(status);
#else
    return status;
#endif
}

TEST(GenModule, SameBytesEveryRun) {
    const auto out = std::filesystem::temp_directory_path() / "vorta_test_module_again.xm";
    ASSERT_EQ(run(out.string()), 0);
    EXPECT_TRUE(read_file(out.string()) == read_file(module_path()))
        << "a second run differs from the build's";
    std::filesystem::remove(out);
}

TEST(GenModule, BadUseFailsWithStatus) {
    EXPECT_EQ(run("2>/dev/null"), 2) << "no output path";
    EXPECT_EQ(run("a.xm b.xm 2>/dev/null"), 2) << "two output paths";
    EXPECT_EQ(run("/nonexistent-dir/m.xm 2>/dev/null"), 1) << "unwritable path";
}

}  // namespace

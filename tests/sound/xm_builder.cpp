// Writes small XM modules for the sound tests, field by field as the XM format lays them out.
#include "tests/sound/xm_builder.h"

#include <cstring>

namespace {

void put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void put_text(std::vector<std::uint8_t>& out, const char* text, std::size_t width) {
    std::size_t n = std::strlen(text);
    for (std::size_t i = 0; i < width; ++i) out.push_back(i < n ? text[i] : 0);
}

}  // namespace

std::vector<std::uint8_t> xm_build(const XmSong& song) {
    std::vector<std::uint8_t> out;
    put_text(out, "Extended Module: ", 17);
    put_text(out, "sound test", 20);
    out.push_back(0x1A);
    put_text(out, "xm_builder", 20);
    put16(out, 0x0104);
    put32(out, 276);  // header size counted from this field: 20 bytes of fields + 256 orders
    put16(out, static_cast<unsigned>(song.orders.size()));
    put16(out, 0);  // restart position
    put16(out, static_cast<unsigned>(song.channels));
    put16(out, static_cast<unsigned>(song.pattern_rows.size()));
    put16(out, 0);  // instruments
    put16(out, 1);  // linear frequency table
    put16(out, static_cast<unsigned>(song.speed));
    put16(out, static_cast<unsigned>(song.bpm));
    for (int i = 0; i < 256; ++i) {
        out.push_back(i < static_cast<int>(song.orders.size()) ? song.orders[i] : 0);
    }
    for (int p = 0; p < static_cast<int>(song.pattern_rows.size()); ++p) {
        // Packed cells: 0x80 alone is an empty cell; 0x80 | 0x18 carries effect and parameter.
        std::vector<std::uint8_t> data;
        for (int r = 0; r < song.pattern_rows[p]; ++r) {
            for (int c = 0; c < song.channels; ++c) {
                const XmCell* hit = nullptr;
                for (const XmCell& cell : song.cells) {
                    if (cell.pattern == p && cell.row == r && cell.channel == c) hit = &cell;
                }
                if (hit) {
                    data.push_back(0x80 | 0x08 | 0x10);
                    data.push_back(hit->effect);
                    data.push_back(hit->param);
                } else {
                    data.push_back(0x80);
                }
            }
        }
        put32(out, 9);     // pattern header length
        out.push_back(0);  // packing type
        put16(out, static_cast<unsigned>(song.pattern_rows[p]));
        put16(out, static_cast<unsigned>(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

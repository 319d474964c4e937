// XM serialisation: little-endian fields, packed pattern cells, delta-coded sample data.
#include "tools/module/xm_writer.h"

#include <cassert>

namespace {

void put8(std::vector<std::uint8_t>& out, int v) {
    out.push_back(static_cast<std::uint8_t>(v));
}
void put16(std::vector<std::uint8_t>& out, unsigned v) {
    put8(out, v & 0xFF);
    put8(out, (v >> 8) & 0xFF);
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
// Fixed-width text field, zero padded (longer text is cut).
void put_text(std::vector<std::uint8_t>& out, const std::string& s, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) put8(out, i < s.size() ? s[i] : 0);
}

// One cell in XM's packed form: a flag byte (0x80 | which fields follow) and the fields present.
// An empty cell is the single byte 0x80.
void put_cell(std::vector<std::uint8_t>& out, const XmCell& c) {
    const bool fx = c.has_effect || c.effect != 0 || c.param != 0;
    const int flags = 0x80 | (c.note ? 1 : 0) | (c.instrument ? 2 : 0) | (c.volume ? 4 : 0) |
                      (fx && c.effect ? 8 : 0) | (fx && c.param ? 16 : 0);
    // W00 stores the effect byte alone: a missing parameter reads as 0.
    const int with_fx = (fx && !c.effect && !c.param) ? (flags | 8) : flags;
    put8(out, with_fx);
    if (c.note) put8(out, c.note);
    if (c.instrument) put8(out, c.instrument);
    if (c.volume) put8(out, c.volume);
    if (with_fx & 8) put8(out, c.effect);
    if (c.param) put8(out, c.param);
}

std::vector<std::uint8_t> packed_pattern(const XmPattern& p, int channels) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < p.rows * channels; ++i) put_cell(out, p.cells[i]);
    return out;
}

void put_envelope_points(std::vector<std::uint8_t>& out, const XmEnvelope& e) {
    for (int i = 0; i < 12; ++i) {
        put16(out, e.x[i]);
        put16(out, e.y[i]);
    }
}

int envelope_flags(const XmEnvelope& e) {
    return (e.on ? 1 : 0) | (e.use_sustain ? 2 : 0) | (e.use_loop ? 4 : 0);
}

void put_instrument_header(std::vector<std::uint8_t>& out, const XmInstrument& in) {
    const XmSample& s = in.sample;
    put32(out, 263);  // the instrument header as FT2 writes it when samples follow
    put_text(out, in.name, 22);
    put8(out, 0);                               // type, always 0
    put16(out, 1);                              // one sample
    put32(out, 40);                             // sample header size
    for (int i = 0; i < 96; ++i) put8(out, 0);  // every note plays sample 0
    put_envelope_points(out, in.volume_env);
    put_envelope_points(out, in.panning_env);
    put8(out, in.volume_env.points);
    put8(out, in.panning_env.points);
    put8(out, in.volume_env.sustain);
    put8(out, in.volume_env.loop_start);
    put8(out, in.volume_env.loop_end);
    put8(out, in.panning_env.sustain);
    put8(out, in.panning_env.loop_start);
    put8(out, in.panning_env.loop_end);
    put8(out, envelope_flags(in.volume_env));
    put8(out, envelope_flags(in.panning_env));
    put8(out, in.vibrato_type);
    put8(out, in.vibrato_sweep);
    put8(out, in.vibrato_depth);
    put8(out, in.vibrato_rate);
    put16(out, static_cast<unsigned>(in.fadeout));
    for (int i = 0; i < 22; ++i) put8(out, 0);  // reserved

    // Sample header: lengths in bytes, so 16-bit samples count double.
    const std::uint32_t unit = s.sixteen_bit ? 2 : 1;
    put32(out, static_cast<std::uint32_t>(xm_sample_data_size(s)));
    put32(out, s.loop ? s.loop_start * unit : 0);
    put32(out, s.loop ? s.loop_length * unit : 0);
    put8(out, s.volume);
    put8(out, s.finetune & 0xFF);
    put8(out, (s.loop & 3) | (s.sixteen_bit ? 0x10 : 0));
    put8(out, s.panning);
    put8(out, s.relative_note & 0xFF);
    put8(out, 0);  // reserved (not ADPCM)
    put_text(out, s.name, 22);
}

// Sample data as differences from the previous value, wrapping like the format's reader.
void put_sample_data(std::vector<std::uint8_t>& out, const XmSample& s) {
    if (s.sixteen_bit) {
        std::int16_t prev = 0;
        for (std::int16_t v : s.pcm16) {
            put16(out, static_cast<std::uint16_t>(v - prev));
            prev = v;
        }
    } else {
        std::int8_t prev = 0;
        for (std::int8_t v : s.pcm8) {
            put8(out, static_cast<std::uint8_t>(v - prev));
            prev = v;
        }
    }
}

void put_song_header(std::vector<std::uint8_t>& out, const XmSong& song) {
    put_text(out, "Extended Module: ", 17);
    put_text(out, song.name, 20);
    put8(out, 0x1A);
    put_text(out, song.tracker, 20);
    put16(out, 0x0104);
    put32(out, 276);  // header size from here: 20 bytes of fields and the 256-entry order table
    put16(out, static_cast<unsigned>(song.orders.size()));
    put16(out, static_cast<unsigned>(song.restart));
    put16(out, static_cast<unsigned>(song.channels));
    put16(out, static_cast<unsigned>(song.patterns.size()));
    put16(out, static_cast<unsigned>(song.instruments.size()));
    put16(out, song.linear_frequencies ? 1 : 0);
    put16(out, static_cast<unsigned>(song.tempo));
    put16(out, static_cast<unsigned>(song.bpm));
    for (int i = 0; i < 256; ++i)
        put8(out, i < static_cast<int>(song.orders.size()) ? song.orders[i] : 0);
}

void put_patterns(std::vector<std::uint8_t>& out, const XmSong& song) {
    for (const XmPattern& p : song.patterns) {
        assert(p.rows >= 1 && p.rows <= 256);
        assert(p.cells.size() == static_cast<std::size_t>(p.rows * song.channels));
        const std::vector<std::uint8_t> data = packed_pattern(p, song.channels);
        assert(data.size() <= 0xFFFF);
        put32(out, 9);  // pattern header length
        put8(out, 0);   // packing type
        put16(out, static_cast<unsigned>(p.rows));
        put16(out, static_cast<unsigned>(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }
}

}  // namespace

std::size_t xm_sample_data_size(const XmSample& s) {
    return s.sixteen_bit ? 2 * s.pcm16.size() : s.pcm8.size();
}

std::size_t xm_size_without_sample_data(const XmSong& song) {
    std::size_t n = 336;  // 60 bytes of identification and the 276-byte header
    for (const XmPattern& p : song.patterns) n += 9 + packed_pattern(p, song.channels).size();
    return n + song.instruments.size() * (263 + 40);
}

std::vector<std::uint8_t> xm_write(const XmSong& song) {
    assert(song.orders.size() >= 1 && song.orders.size() <= 256);
    std::vector<std::uint8_t> out;
    put_song_header(out, song);
    put_patterns(out, song);
    for (const XmInstrument& in : song.instruments) {
        put_instrument_header(out, in);
        put_sample_data(out, in.sample);
    }
    return out;
}

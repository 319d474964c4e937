#!/usr/bin/env python3
"""Measures the rendered soundtrack: peak, loudness and how close each flash and beat mark lies
to an audible onset.

Usage: measure_mix.py MODULE.xm [RENDER.wav]
Renders MODULE.xm with ffmpeg (libopenmpt's defaults: 44100 Hz, full stereo separation, its
default interpolation) unless RENDER.wav is given, reads the sync marks straight from the XM
bytes, and prints one line per flash/beat mark plus a summary. Exit status 0 when every mark is
within 10 ms of an onset and the peak is at most -1 dBFS, 1 otherwise, 2 on bad input.
"""
import bisect
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import wave

RATE = 44100
ROW_FRAMES = 2625          # 3 ticks of 2.5/126 s at 44100 Hz
WINDOW = 220               # 5 ms analysis windows
RISE_DB = 6.0              # a window this much louder than the one before starts an onset
TOLERANCE_MS = 10.0


def read_marks(path):
    """Returns [(frame, order, row, value)] for every W mark the song plays, in play order."""
    data = open(path, "rb").read()
    if data[:17] != b"Extended Module: ":
        raise ValueError("not an XM module")
    header_size = struct.unpack_from("<I", data, 60)[0]
    song_len, _, channels, patterns = struct.unpack_from("<HHHH", data, 64)
    orders = list(data[80:80 + song_len])
    pos = 60 + header_size
    pattern_marks, pattern_rows = [], []
    for _ in range(patterns):
        hlen, _, rows, size = struct.unpack_from("<IBHH", data, pos)
        cells, p, end = [], pos + hlen, pos + hlen + size
        marks = []
        index = 0
        while p < end:
            flag = data[p]
            fields = [0] * 5
            if flag & 0x80:
                p += 1
                for bit in range(5):
                    if flag & (1 << bit):
                        fields[bit] = data[p]
                        p += 1
            else:
                fields = list(data[p:p + 5])
                p += 5
            if fields[3] == 32:
                marks.append((index // channels, fields[4]))
            index += 1
        pattern_marks.append(marks)
        pattern_rows.append(rows)
        pos = end
    out, start = [], 0
    for order, pat in enumerate(orders):
        for row, value in sorted(pattern_marks[pat]):
            out.append((start + row * ROW_FRAMES, order, row, value))
        start += pattern_rows[pat] * ROW_FRAMES
    return out


def read_wav(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2 or w.getframerate() != RATE:
            raise ValueError("expected 16-bit audio at 44100 Hz")
        ch = w.getnchannels()
        raw = w.readframes(w.getnframes())
    samples = struct.unpack("<%dh" % (len(raw) // 2), raw)
    mono = [sum(samples[i:i + ch]) / ch for i in range(0, len(samples), ch)]
    return mono, max(abs(s) for s in samples)


def band_energies(mono):
    """Per 5 ms window, the mean energy of the whole signal, of its lows (< 150 Hz, where the
    kick and bass sit) and of its highs (> 3 kHz, where snares, hats and clicks sit)."""
    a_low = 1.0 - math.exp(-2.0 * math.pi * 150.0 / RATE)
    a_high = 1.0 - math.exp(-2.0 * math.pi * 3000.0 / RATE)
    low = smooth = 0.0
    bands = ([], [], [])
    for start in range(0, len(mono) - WINDOW, WINDOW):
        e = [0.0, 0.0, 0.0]
        for s in mono[start:start + WINDOW]:
            low += a_low * (s - low)
            smooth += a_high * (s - smooth)
            high = s - smooth
            e[0] += s * s
            e[1] += low * low
            e[2] += high * high
        for b in range(3):
            bands[b].append(e[b] / WINDOW + 1.0)
    return bands


def onsets(mono):
    """Start frames of the windows where any band rises RISE_DB above its mean over the previous
    20 ms (the mean, not the last window, so a low note's own ripple is not taken for a hit)."""
    found = set()
    for energy in band_energies(mono):
        floor = max(energy) * 1e-4    # ignore rises out of near-silence
        for i in range(4, len(energy)):
            before = sum(energy[i - 4:i]) / 4.0
            if energy[i] > floor and 10 * math.log10(energy[i] / before) >= RISE_DB:
                found.add(i * WINDOW)
    return sorted(found)


def nearest_onset(found, frame):
    i = bisect.bisect_left(found, frame)
    near = [found[j] for j in (i - 1, i) if 0 <= j < len(found)]
    return min(near, key=lambda f: abs(f - frame)) if near else None


def loudness(path):
    out = subprocess.run(["ffmpeg", "-hide_banner", "-nostats", "-i", path, "-af",
                          "ebur128=peak=true", "-f", "null", "-"],
                         capture_output=True, text=True).stderr
    i = re.findall(r"I:\s+(-?[\d.]+) LUFS", out)
    tp = re.findall(r"Peak:\s+(-?[\d.]+) dBFS", out)
    return (float(i[-1]) if i else None), (float(tp[-1]) if tp else None)


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    module = sys.argv[1]
    try:
        marks = read_marks(module)
    except (OSError, ValueError, struct.error) as e:
        print("measure_mix: cannot read %s: %s" % (module, e), file=sys.stderr)
        return 2
    if len(sys.argv) == 3:
        wav = sys.argv[2]
    else:
        wav = os.path.join(tempfile.mkdtemp(), "render.wav")
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-sample_rate", str(RATE),
                        "-i", module, "-c:a", "pcm_s16le", wav], check=True)
    mono, peak = read_wav(wav)
    found = onsets(mono)
    worst = 0.0
    for frame, order, row, value in marks:
        if value not in (254, 255):
            continue
        nearest = nearest_onset(found, frame)
        dist = abs(nearest - frame) * 1000.0 / RATE if nearest is not None else float("inf")
        worst = max(worst, dist)
        print("order %2d row %3d %-5s onset %+6.1f ms" % (
            order, row, "flash" if value == 255 else "beat", (nearest - frame) * 1000.0 / RATE))
    integrated, true_peak = loudness(wav)
    sample_peak_db = 20 * math.log10(max(peak, 1) / 32768.0)
    print("frames %d, sample peak %.2f dBFS, true peak %s dBFS, integrated %s LUFS" % (
        len(mono), sample_peak_db, true_peak, integrated))
    print("worst mark-to-onset distance %.1f ms over %d marks (%d onsets found, %.1f a second)" % (
        worst, sum(1 for m in marks if m[3] in (254, 255)), len(found), len(found) * RATE / len(mono)))
    ok = worst <= TOLERANCE_MS and (true_peak if true_peak is not None else sample_peak_db) <= -1.0
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

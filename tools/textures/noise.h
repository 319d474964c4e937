// Tileable noise for the texture painters: every function repeats with period 256 in both
// coordinates, so anything built from them tiles seamlessly on a 256 × 256 texture.
#pragma once

#include <cstdint>

// A well-mixed 32-bit hash of two lattice coordinates and a seed.
std::uint32_t tex_hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed);
// Gradient noise in about −1..1 at texel (x, y), lattice cells of 256 / period texels;
// `period` must divide 256, which makes the noise repeat every 256 texels.
double tex_noise(double x, double y, int period, std::uint32_t seed);
// Sum of `octaves` noise layers, periods base_period, 2·base_period, ..., amplitudes halving;
// normalised to about −1..1. base_period << (octaves − 1) must divide 256.
double tex_fbm(double x, double y, int base_period, int octaves, std::uint32_t seed);
// Distance from t to the nearest multiple of `spacing`, in 0..spacing/2.
double tex_dist_periodic(double t, double spacing);

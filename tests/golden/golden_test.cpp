// The show against its golden record: every frame must match its recorded hash, and the frames
// kept as pictures must match them pixel for pixel. A mismatch leaves the actual frame and a
// difference picture in the build tree. Every traced grid must also equal, point for point, the
// grid of the reference trace that the golden frames were recorded with.
#include "tests/golden/golden.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "common/truncate.h"
#include "driver/frame.h"
#include "driver/music_position.h"
#include "driver/timeline.h"
#include "tests/golden/golden_png.h"
#include "tunnel/rays.h"

namespace {

const std::string golden_dir = GOLDEN_DIR;   // the recorded set, in the source tree
const std::string out_dir = GOLDEN_OUT_DIR;  // where mismatches are written

TEST(Golden, ComparisonCountsEveryByteAndMarksDifferences) {
    static Pixel32 a[screen_pixels], b[screen_pixels], diff[screen_pixels];
    for (int i = 0; i < screen_pixels; ++i) a[i] = b[i] = 0x00405060;
    EXPECT_EQ(golden_compare(a, b, diff), 0);
    EXPECT_EQ(golden_hash(a), golden_hash(b));
    b[7] ^= 0x01000000;  // the top byte counts too
    EXPECT_NE(golden_hash(a), golden_hash(b));
    b[screen_pixels - 1] ^= 0x00000001;
    EXPECT_EQ(golden_compare(a, b, diff), 2);
    EXPECT_EQ(diff[7], 0x00FF0000u);
    EXPECT_EQ(diff[0], 0x00141414u);  // a quarter of green 0x50, as grey
    // Two swapped pixels change the hash: it depends on the order of the pixels.
    b[7] = a[7];
    b[screen_pixels - 1] = a[screen_pixels - 1];
    b[0] = 1;
    b[1] = 2;
    a[0] = 2;
    a[1] = 1;
    EXPECT_NE(golden_hash(a), golden_hash(b));
}

// The ray grid as first written: the direction in double rounded to float, both roots of the
// hit, libm's atan2. tunnel_trace must give exactly these integers for every grid point.
void reference_trace(const Matrix4& M, TexCoord* out) {
    const auto narrow = [](double x) -> double {
        constexpr double largest = std::numeric_limits<float>::max();
        return x > largest    ? std::numeric_limits<float>::infinity()
               : x < -largest ? -std::numeric_limits<float>::infinity()
                              : static_cast<float>(x);
    };
    const double ox = M.m[12], oy = M.m[13], oz = M.m[14];
    for (int k = 0; k < grid_points; ++k) {
        const double x = ray_table[k].x, y = ray_table[k].y, z = ray_table[k].z;
        const double dx = static_cast<float>(x * M.m[0] + y * M.m[4] + z * M.m[8]);
        const double dy = static_cast<float>(x * M.m[1] + y * M.m[5] + z * M.m[9]);
        const double dz = static_cast<float>(x * M.m[2] + y * M.m[6] + z * M.m[10]);
        const double a = dx * dx + dy * dy;
        const double b = narrow(2.0 * (ox * dx + oy * dy));
        const double e = ox * ox + oy * oy - 4.0;
        const double q = std::sqrt(b * b - 4.0 * a * e);
        const double t1 = (q - b) / (2.0 * a), t2 = (-b - q) / (2.0 * a);
        const double t = (t2 < t1) ? t2 : t1;
        const double px = narrow(ox + t * dx), py = narrow(oy + t * dy), pz = narrow(oz + t * dz);
        out[k] = {trunc_i32(std::fabs(std::atan2(px, py)) * 81.4873996925124),
                  trunc_i32(pz * 32.0)};
    }
}

// Counts the grid points where `trace` and the reference differ for camera M.
int trace_mismatches(const Matrix4& M, void (*trace)(const Matrix4&) = tunnel_trace) {
    static TexCoord want[grid_points];
    reference_trace(M, want);
    trace(M);
    int differing = 0;
    for (int k = 0; k < grid_points; ++k)
        differing += (uv_grid[k].u != want[k].u || uv_grid[k].v != want[k].v) ? 1 : 0;
    return differing;
}

TEST(Golden, TraceGivesTheReferenceGridForCamerasOffTheShow) {
    // Times between the show's frames, with beat counts the show never reaches, T = 0 (a NaN
    // camera) among them: the fast angle and hit must never round apart from the reference, in
    // any of the trace's paths.
    rays_init();
    const std::int32_t beats[] = {0, 3, 24, 61, 250, 4097, -7};
    int count = 0;
    const TracePath* paths = trace_paths(&count);
    for (const TracePath& path : std::span(paths, static_cast<std::size_t>(count))) {
        long points = 0, differing = 0;
        int n = 0;
        for (float T = 0.0f; T < 2600.0f; T += 0.7931f, ++n) {
            differing += trace_mismatches(tunnel_camera(T, beats[n % 7]), path.trace);
            points += grid_points;
        }
        EXPECT_EQ(differing, 0) << "of " << points << " grid points, " << path.name << " trace";
        // Cameras with a NaN in one place only: across the axis in the origin (every point
        // INT32_MIN), along it (u still finite), or in one direction column.
        for (const int at : {12, 13, 14, 0, 6, 9}) {
            Matrix4 M = tunnel_camera(1000.5f, 7);
            M.m[at] = std::numeric_limits<float>::quiet_NaN();
            EXPECT_EQ(trace_mismatches(M, path.trace), 0) << path.name << ", NaN at " << at;
        }
    }
}

TEST(Golden, ShowMatchesRecordedFrames) {
    std::vector<GoldenEntry> list;
    ASSERT_TRUE(golden_read_list(golden_dir + "/frames.txt", list));
    static Pixel32 expected[screen_pixels], diff[screen_pixels];

    int hash_mismatches = 0, picture_mismatches = 0, pictures = 0;
    long grid_mismatches = 0, grid_frames = 0;
    std::string first_mismatch;
    const std::uint64_t frames = golden_walk([&](const GoldenStep& s) {
        if (s.k >= list.size()) return;
        const GoldenEntry& e = list[s.k];
        const std::string name = "frame " + std::to_string(s.k) + " (order " +
                                 std::to_string(e.order) + ", row " + std::to_string(e.row) + ", " +
                                 e.label + ")";
        EXPECT_EQ(e.k, s.k) << "frames.txt is out of order at " << name;
        EXPECT_EQ(s.order, e.order) << name;
        // The grid of every frame drawn from it, traced again by the reference from the same
        // camera.
        if (s.drew_grid) {
            ++grid_frames;
            static TexCoord drawn[grid_points];
            std::copy(uv_grid, uv_grid + grid_points, drawn);
            grid_mismatches +=
                trace_mismatches(tunnel_camera(music_position(s.position).time, s.beats_before));
            grid_mismatches +=
                std::equal(drawn, drawn + grid_points, uv_grid,
                           [](TexCoord p, TexCoord q) { return p.u == q.u && p.v == q.v; })
                    ? 0
                    : 1;
        }
        const bool hash_ok = golden_hash(framebuffer) == e.hash;
        if (!hash_ok && hash_mismatches++ == 0) {
            // Kept by its hash only: its picture at least shows what the show now draws.
            first_mismatch = name;
            if (e.label == "-") {
                first_mismatch += ", now " + out_dir + "/frame_" + std::to_string(s.k) + ".png";
                golden_png_write((out_dir + "/frame_" + std::to_string(s.k) + ".png").c_str(),
                                 framebuffer);
            }
        }
        if (e.label == "-") return;

        ++pictures;
        const std::string png = golden_dir + "/" + golden_png_name(e.k);
        ASSERT_TRUE(golden_png_read(png.c_str(), expected)) << name;
        const int differing = golden_compare(expected, framebuffer, diff);
        if (differing == 0 && hash_ok) return;
        ++picture_mismatches;
        const std::string stem = out_dir + "/frame_" + std::to_string(e.k);
        golden_png_write((stem + "_actual.png").c_str(), framebuffer);
        golden_png_write((stem + "_diff.png").c_str(), diff);
        ADD_FAILURE() << name << ": " << differing << " of " << screen_pixels
                      << " pixels differ from " << png << "\n  actual: " << stem
                      << "_actual.png\n  diff:   " << stem << "_diff.png";
    });
    EXPECT_EQ(frames, list.size()) << "frames.txt records a show of another length";
    EXPECT_GE(pictures, 40);
    // The frames of the tunnel not drawn from a grid are the few of one colour.
    EXPECT_GE(grid_frames, 7000);
    EXPECT_EQ(grid_mismatches, 0) << "grid points traced unlike the reference";
    EXPECT_EQ(hash_mismatches, 0) << "frames differing from their recorded hash, the first: "
                                  << first_mismatch;
    if (hash_mismatches || picture_mismatches) {
        ADD_FAILURE()
            << "If the change of picture is deliberate, re-record the golden set with:\n  "
            << RECORD_COMMAND << " " << golden_dir;
    }
}

}  // namespace

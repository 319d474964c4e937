// Reads back the generated masks and end picture and checks what the show relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int width = 320, height = 240, pixels = width * height;

struct Image {
    std::vector<std::uint8_t> bytes;  // B, G, R, top byte per pixel
    std::uint8_t b(int i) const { return bytes[4 * i]; }
    std::uint8_t g(int i) const { return bytes[4 * i + 1]; }
    std::uint8_t r(int i) const { return bytes[4 * i + 2]; }
    std::uint8_t top(int i) const { return bytes[4 * i + 3]; }
};

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The build's generated files: from the environment, else the folder this build configured.
std::filesystem::path gen_dir() {
    const char* dir = std::getenv("VORTA_GEN_DIR");
    return dir && *dir ? dir : GEN_DIR_DEFAULT;
}

// The file's images, or none (with a test failure) if the file is missing or the wrong size.
std::vector<Image> read_images(const char* name, int count) {
    const auto bytes = read_file(gen_dir() / name);
    EXPECT_EQ(bytes.size(), static_cast<std::size_t>(count) * pixels * 4)
        << name << " in VORTA_GEN_DIR=" << gen_dir();
    std::vector<Image> images;
    if (bytes.size() != static_cast<std::size_t>(count) * pixels * 4) return images;
    for (int k = 0; k < count; ++k) {
        images.push_back({{bytes.begin() + k * pixels * 4, bytes.begin() + (k + 1) * pixels * 4}});
    }
    return images;
}

struct SetFile {
    const char* name;
    int count;
};
const SetFile sets[] = {
    {"mask_set_a.raw", 4}, {"mask_set_b.raw", 4}, {"mask_set_c.raw", 8}, {"mask_set_d.raw", 4}};

// True if some 16 × 16 block on an 8-pixel grid is white throughout: a window onto the tunnel.
bool has_white_block(const Image& image) {
    for (int by = 0; by + 16 <= height; by += 8) {
        for (int bx = 0; bx + 16 <= width; bx += 8) {
            bool white = true;
            for (int y = by; y < by + 16 && white; ++y) {
                for (int x = bx; x < bx + 16 && white; ++x) white = image.g(y * width + x) >= 250;
            }
            if (white) return true;
        }
    }
    return false;
}

}  // namespace

TEST(Masks, AreGreyscaleWithInkWhiteAndSoftEdges) {
    for (const SetFile& set : sets) {
        const auto images = read_images(set.name, set.count);
        for (std::size_t k = 0; k < images.size(); ++k) {
            const Image& image = images[k];
            int dark = 0, white = 0, between = 0, not_grey = 0, top = 0;
            for (int i = 0; i < pixels; ++i) {
                if (image.r(i) != image.g(i) || image.g(i) != image.b(i)) ++not_grey;
                if (image.top(i) != 0) ++top;
                const int v = image.g(i);
                if (v <= 16)
                    ++dark;
                else if (v >= 239)
                    ++white;
                else
                    ++between;
            }
            SCOPED_TRACE(std::string(set.name) + " image " + std::to_string(k));
            EXPECT_EQ(not_grey, 0);
            EXPECT_EQ(top, 0);
            // Real ink: at least 2 % near black; and white areas for the tunnel to show through.
            EXPECT_GE(dark, pixels / 50);
            EXPECT_GE(white, pixels / 40);
            EXPECT_TRUE(has_white_block(image));
            // Anti-aliased edges leave some grey, but only along the edges.
            EXPECT_GT(between, 200);
            EXPECT_LT(between, pixels / 8);
        }
    }
}

TEST(Masks, ImagesWithinASetDiffer) {
    for (const SetFile& set : sets) {
        const auto images = read_images(set.name, set.count);
        for (std::size_t a = 0; a < images.size(); ++a) {
            for (std::size_t b = a + 1; b < images.size(); ++b) {
                int differ = 0;
                for (int i = 0; i < pixels; ++i) differ += images[a].g(i) != images[b].g(i);
                EXPECT_GT(differ, 500) << set.name << " images " << a << " and " << b;
            }
        }
    }
}

TEST(EndPicture, IsAColourPictureWithTopByteZero) {
    const auto images = read_images("end_picture.raw", 1);
    ASSERT_EQ(images.size(), 1u);
    const Image& image = images[0];
    int top = 0, coloured = 0, reddish = 0, bluish = 0, bright = 0;
    for (int i = 0; i < pixels; ++i) {
        if (image.top(i) != 0) ++top;
        const int r = image.r(i), g = image.g(i), b = image.b(i);
        const int hi = std::max({r, g, b}), lo = std::min({r, g, b});
        if (hi - lo >= 40) ++coloured;
        if (r > b + 40) ++reddish;
        if (b > r + 20) ++bluish;
        if (r + g + b >= 600) ++bright;
    }
    EXPECT_EQ(top, 0);
    EXPECT_GE(coloured, pixels / 4);  // mostly colour, not a grey picture
    EXPECT_GE(reddish, pixels / 50);  // more than one hue
    EXPECT_GE(bluish, pixels / 50);
    EXPECT_GE(bright, 500);  // the title and the light
}

#ifdef GEN_MASKS_PATH
#include <sys/wait.h>

namespace {

// Runs the generator with `outputs` as its arguments; returns its exit status.
int run_gen_masks(const std::vector<std::string>& outputs) {
    std::string command = std::string("\"") + GEN_MASKS_PATH + "\"";
    for (const auto& out : outputs) command += " \"" + out + "\"";
    const int status = std::system(
        (command + " 2>" + std::filesystem::temp_directory_path().string() + "/vorta_gen_masks.err")
            .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(GenMasks, IsDeterministicAndReportsBadArguments) {
    const auto dir = std::filesystem::temp_directory_path() / "vorta_gen_masks_test";
    std::filesystem::create_directories(dir);
    const char* names[] = {"mask_set_a.raw", "mask_set_b.raw", "mask_set_c.raw", "mask_set_d.raw",
                           "end_picture.raw"};
    std::vector<std::string> outputs;
    for (const char* name : names) outputs.push_back((dir / name).string());
    ASSERT_EQ(run_gen_masks(outputs), 0);
    for (const char* name : names) {
        EXPECT_EQ(read_file(dir / name), read_file(gen_dir() / name)) << name << " differs";
    }
    EXPECT_EQ(run_gen_masks({}), 2);
    EXPECT_EQ(run_gen_masks({outputs.begin(), outputs.end() - 1}), 2);
    // An output that cannot be created is an error, not a silent success.
    outputs[4] = (dir / "no" / "such" / "end_picture.raw").string();
    EXPECT_EQ(run_gen_masks(outputs), 1);
    std::filesystem::remove_all(dir);
}
#endif

// The application icon: its round cut, its colours, where in the picture it looks, and the
// generator's files and failures.
#include "tools/icons/icon.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> render(const std::vector<Pixel32>& picture, int size) {
    std::vector<std::uint8_t> rgba(4 * size * size);
    icon_render(picture.data(), size, rgba.data());
    return rgba;
}

TEST(Icon, RoundOpaqueInsideClearOutsideInTheRightChannels) {
    // One colour with three different channels: a red-blue swap cannot go unseen.
    const std::vector<Pixel32> picture(screen_pixels, 0x00FF8040);
    for (const int size : icon_sizes) {
        SCOPED_TRACE(size);
        const auto rgba = render(picture, size);
        double alpha = 0;
        int inside = 0, outside = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const std::uint8_t* p = &rgba[4 * (y * size + x)];
                alpha += p[3];
                // Distance of the pixel's farthest and nearest corner from the centre, in pixels.
                const double dx = std::fabs(x + 0.5 - size / 2.0),
                             dy = std::fabs(y + 0.5 - size / 2.0);
                const double far = std::hypot(dx + 0.5, dy + 0.5);
                const double near = std::hypot(std::fmax(dx - 0.5, 0), std::fmax(dy - 0.5, 0));
                if (far < size / 2.0) {
                    ++inside;
                    EXPECT_EQ(p[3], 255) << x << "," << y;
                    EXPECT_TRUE(p[0] == 255 && p[1] == 128 && p[2] == 64)
                        << x << "," << y << ": " << +p[0] << " " << +p[1] << " " << +p[2];
                } else if (near > size / 2.0) {
                    ++outside;
                    EXPECT_EQ(p[3], 0) << x << "," << y;
                }
            }
        }
        EXPECT_GT(inside, 0);
        EXPECT_GT(outside, 0);  // the corners
        // The coverage adds up to the disc's area.
        EXPECT_NEAR(alpha / 255, M_PI * size * size / 4, 0.01 * size * size);
    }
}

TEST(Icon, ShowsTheMouthAndMirrorsItsUpperHalfOverTheTitle) {
    // Above the mouth's centre line red and blue grow linearly with x and y; from row 119 on,
    // where the title lies in the real picture, the picture is pure green.
    std::vector<Pixel32> picture(screen_pixels);
    const auto red = [](double x) { return (x - 0.5) * 255.0 / 319.0; };
    const auto blue = [](double y) { return (y - 0.5) * 2.0; };
    for (int y = 0; y < screen_height; ++y) {
        for (int x = 0; x < screen_width; ++x) {
            picture[y * screen_width + x] =
                y >= 119 ? 0x0000FF00
                         : static_cast<Pixel32>(std::lround(red(x + 0.5))) << 16 |
                               static_cast<Pixel32>(std::lround(blue(y + 0.5)));
        }
    }
    const int size = 256;
    const auto rgba = render(picture, size);
    int checked = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const std::uint8_t* p = &rgba[4 * (y * size + x)];
            ASSERT_EQ(p[1], 0) << "the title's green shows at " << x << "," << y;
            // Well inside the disc and off the centre row, each pixel averages a linear ramp:
            // its value is the ramp at the pixel's centre, mapped into the picture.
            const double u = (x + 0.5) / size * 2 - 1, v = (y + 0.5) / size * 2 - 1;
            if (u * u + v * v > 0.9 || std::fabs(v) < 2.0 / size) continue;
            const double px = icon_mouth_x + u * icon_mouth_radius;
            const double py = icon_mouth_y - std::fabs(v) * icon_mouth_radius;
            EXPECT_NEAR(p[0], red(px), 1.0) << x << "," << y;
            EXPECT_NEAR(p[2], blue(py), 1.5) << x << "," << y;
            ++checked;
        }
    }
    EXPECT_GT(checked, size * size / 2);
}

int run(const std::string& args) {
    const int status = std::system((GEN_ICONS_PATH " " + args + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(GenIcons, WritesEverySizeAndFailsCleanly) {
    const fs::path dir = fs::path(testing::TempDir()) / ("icons_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string picture = (dir / "picture.raw").string();
    std::ofstream(picture, std::ios::binary) << std::string(screen_pixels * 4, '\x40');
    ASSERT_EQ(run(picture + " " + dir.string()), 0);
    for (const int size : icon_sizes) {
        std::ifstream png(dir / ("vorta_" + std::to_string(size) + ".png"), std::ios::binary);
        char signature[8] = {};
        png.read(signature, 8);
        EXPECT_EQ(std::string(signature, 8), "\x89PNG\r\n\x1a\n") << size;
    }
    fs::remove_all(dir);
    fs::create_directories(dir);
    // A picture one byte short or one byte long, a missing picture, a folder that is not
    // there, wrong arguments: each fails with its status and leaves no icon behind.
    struct Case {
        std::string contents, out;
        int status;
    } cases[] = {
        {std::string(screen_pixels * 4 - 1, '\0'), dir.string(), 1},
        {std::string(screen_pixels * 4 + 1, '\0'), dir.string(), 1},
        {"", "", 1},
        {std::string(screen_pixels * 4, '\0'), (dir / "missing").string(), 1},
        {"", "-", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contents.size());
        fs::remove(picture);
        if (!c.contents.empty()) std::ofstream(picture, std::ios::binary) << c.contents;
        const std::string args =
            c.out == "-" ? picture : picture + " " + (c.out.empty() ? dir.string() : c.out);
        EXPECT_EQ(run(args), c.status);
        int icons = 0;
        for (const auto& entry : fs::directory_iterator(dir))
            icons += entry.path().extension() == ".png";
        EXPECT_EQ(icons, 0);
    }
    fs::remove_all(dir);
}

}  // namespace

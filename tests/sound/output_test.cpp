// What the sound card is given: the whole song through SDL's disk audio driver, compared byte
// for byte with the offline decode.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "sound/bassmod.h"

namespace {

std::vector<char> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void append_pcm(const std::int16_t* frames, std::uint32_t count, void* user) {
    auto* bytes = static_cast<std::vector<char>*>(user);
    const char* p = reinterpret_cast<const char*>(frames);
    bytes->insert(bytes->end(), p, p + count * 4);
}

// Sets an environment variable for one scope and puts back what was there.
class ScopedEnv {
   public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) had_ = true, old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

   private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

// libopenmpt rounds differently depending on how much it is asked to render at once, and the
// device asks in its own pieces (512 frames); the output must still hand it the offline samples.
TEST(Output, DeviceGetsTheOfflineDecodeSampleForSample) {
    const std::vector<char> module =
        read_file(std::string(std::getenv("VORTA_GEN_DIR")) + "/module.xm");
    ASSERT_FALSE(module.empty()) << "no module.xm in VORTA_GEN_DIR";
    const auto load = [&] {
        return BASSMOD_MusicLoad(1, module.data(), 0, static_cast<std::uint32_t>(module.size()), 0);
    };

    std::vector<char> offline;
    ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_OFFLINE, 44100, 0), 1);
    ASSERT_EQ(load(), 1);
    sound_offline_set_pcm_sink(append_pcm, &offline);
    ASSERT_EQ(BASSMOD_MusicPlay(), 1);
    while (sound_offline_advance(offline.size() / 4 + 44100) && BASSMOD_MusicIsActive()) {
    }
    BASSMOD_Free();
    ASSERT_EQ(offline.size(), 6048000u * 4) << "the song's length";

    // The disk driver writes each buffer to a file; with no delay it runs as fast as it can.
    const std::string path = ::testing::TempDir() + "vorta_output_test.raw";
    {
        const ScopedEnv driver("SDL_AUDIODRIVER", "disk");
        const ScopedEnv file("SDL_DISKAUDIOFILE", path);
        const ScopedEnv delay("SDL_DISKAUDIODELAY", "0");
        ASSERT_EQ(BASSMOD_Init(BASSMOD_DEVICE_DEFAULT, 44100, 0), 1);
        ASSERT_EQ(load(), 1);
        ASSERT_EQ(BASSMOD_MusicPlay(), 1);
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (BASSMOD_MusicIsActive() && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(BASSMOD_MusicIsActive(), 0) << "the song did not end within a minute";
        BASSMOD_Free();  // closes the device and its file
    }
    const std::vector<char> device = read_file(path);
    std::remove(path.c_str());

    // Until play starts the device is paused, and SDL hands it silence in its own buffers
    // meanwhile: the song starts where the sound first does, as offline, whole buffers later.
    const auto first_sound = [](const std::vector<char>& v) {
        std::size_t i = 0;
        while (i < v.size() && v[i] == 0) ++i;
        return i / 4 * 4;
    };
    ASSERT_LT(first_sound(offline), offline.size());
    ASSERT_GE(first_sound(device), first_sound(offline));
    const std::size_t lead_in = first_sound(device) - first_sound(offline);
    EXPECT_EQ(lead_in % (512 * 4), 0u) << "paused for whole buffers";
    ASSERT_GE(device.size(), lead_in + offline.size());

    std::size_t first = 0;
    while (first < offline.size() && device[lead_in + first] == offline[first]) ++first;
    EXPECT_EQ(first, offline.size()) << "first different byte at frame " << first / 4;
    std::size_t noise = 0;  // after the song the device plays silence
    for (std::size_t i = lead_in + offline.size(); i < device.size(); ++i) noise += device[i] != 0;
    EXPECT_EQ(noise, 0u);
}

}  // namespace

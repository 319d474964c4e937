// Entry point of every test program: headless by default (SDL's dummy drivers unless the
// environment already names a driver), then GoogleTest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// Sets `name` to `value` unless the environment already has it. putenv keeps the string, so it
// lives for the whole process; putenv is what both C libraries (glibc, msvcrt) provide.
static void default_env(const char* name, const char* value) {
    if (std::getenv(name)) return;
    static std::string kept[3];
    static int used = 0;
    kept[used] = std::string(name) + "=" + value;
    putenv(kept[used++].data());
}

int main(int argc, char** argv) {
    default_env("SDL_VIDEODRIVER", "dummy");
    default_env("SDL_AUDIODRIVER", "dummy");
    default_env("VORTA_GEN_DIR", VORTA_GEN_DIR);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

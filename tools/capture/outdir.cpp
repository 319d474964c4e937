// Creates output folders through std::filesystem, reporting failures in plain words.
#include "tools/capture/outdir.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

int outdir_make(const char* dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error || !std::filesystem::is_directory(dir, error)) {
        std::fprintf(stderr, "vorta-capture: cannot create the folder %s: %s\n", dir,
                     error ? error.message().c_str() : "a file of that name is in the way");
        return 0;
    }
    return 1;
}

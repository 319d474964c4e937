// Writing a generated file whole, for the build-time generators.
#pragma once

#include <cstddef>
#include <cstdio>

// Writes `size` bytes to `path`. 1 on success; 0 after printing why, prefixed by `tool`. A
// failure at close (a full disk seen only at the final flush) counts as a failure.
inline int tool_write_file(const char* tool, const char* path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::fprintf(stderr, "%s: cannot create ", tool);
        std::perror(path);
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "%s: could not write %s\n", tool, path);
        return 0;
    }
    return 1;
}

// pack_block: joins the generated module and pictures into the one data block, checking sizes.
//
//   pack_block [--bad-module] OUT.blk module.xm texture_a texture_b mask_a mask_b mask_c mask_d end
//
// --bad-module overwrites the module's signature, giving a block whose module any loader rejects.
#include <cstdio>
#include <cstring>
#include <vector>

#include "assets/assets.h"
#include "tools/write_file.h"

static bool read_exact(const char* path, std::size_t expected, std::vector<unsigned char>& out) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "pack_block: cannot open %s\n", path);
        return false;
    }
    std::vector<unsigned char> data(expected + 1);
    std::size_t got = std::fread(data.data(), 1, data.size(), f);
    std::fclose(f);
    if (got != expected) {
        std::fprintf(stderr, "pack_block: %s is %s %zu bytes, must be exactly %zu\n", path,
                     got > expected ? "more than" : "", got, expected);
        return false;
    }
    out.insert(out.end(), data.begin(), data.begin() + expected);
    return true;
}

int main(int argc, char** argv) {
    int first = 1;
    bool bad_module = false;
    if (argc > 1 && std::strcmp(argv[1], "--bad-module") == 0) {
        bad_module = true;
        first = 2;
    }
    if (argc - first != 9) {
        std::fprintf(stderr,
                     "usage: pack_block [--bad-module] OUT.blk module.xm texture_a texture_b "
                     "mask_a mask_b mask_c mask_d end_picture\n");
        return 2;
    }
    const std::size_t sizes[8] = {module_length,   texture_bytes,   texture_bytes,
                                  4 * image_bytes, 4 * image_bytes, 8 * image_bytes,
                                  4 * image_bytes, image_bytes};
    std::vector<unsigned char> block;
    block.reserve(block_length);
    for (int i = 0; i < 8; ++i)
        if (!read_exact(argv[first + 1 + i], sizes[i], block)) return 1;
    if (block.size() != block_length) return 1;
    if (bad_module) std::memcpy(block.data(), "Not a module at all: ", 21);

    return tool_write_file("pack_block", argv[first], block.data(), block.size()) ? 0 : 1;
}

// pack_block: joins the generated module and pictures into the one data block, in the order and
// at the sizes of the layout table, checking every size.
//
//   pack_block [--bad-module] OUT.blk GEN_DIR
//
// GEN_DIR holds the generated files the table names. --bad-module overwrites the module's
// signature, giving a block whose module any loader rejects.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "tools/write_file.h"

static bool read_exact(const std::string& path, std::size_t expected,
                       std::vector<unsigned char>& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "pack_block: cannot open %s\n", path.c_str());
        return false;
    }
    std::vector<unsigned char> data(expected + 1);
    std::size_t got = std::fread(data.data(), 1, data.size(), f);
    std::fclose(f);
    if (got != expected) {
        std::fprintf(stderr, "pack_block: %s is %s %zu bytes, must be exactly %zu\n", path.c_str(),
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
    if (argc - first != 2) {
        std::fprintf(stderr, "usage: pack_block [--bad-module] OUT.blk GEN_DIR\n");
        return 2;
    }
    std::vector<unsigned char> block;
    block.reserve(block_length);
    for (const BlockEntry& entry : block_entries)
        if (!read_exact(std::string(argv[first + 1]) + "/" + entry.file, entry.bytes, block))
            return 1;
    if (bad_module) std::memcpy(block.data(), "Not a module at all: ", 21);

    return tool_write_file("pack_block", argv[first], block.data(), block.size()) ? 0 : 1;
}

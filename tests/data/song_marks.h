// Reader of tests/data/song_marks.txt: the song's order list and sync marks as the tests expect
// them. Header-only, so that any test program can include it without a source of its own.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// One entry of the order list.
struct SongOrder {
    int pattern;
    int rows;
};

// The whole file. `error` is empty when every line parsed.
struct SongMarks {
    std::vector<SongOrder> orders;
    std::map<std::pair<int, int>, std::vector<int>> marks;  // (order, row) -> values, sorted
    std::string error;

    // Rows of the whole song, in play order.
    int total_rows() const {
        int total = 0;
        for (const SongOrder& o : orders) total += o.rows;
        return total;
    }
    // Marks of `order`, `row`, values ascending; empty for a row without marks.
    std::vector<int> at(int order, int row) const {
        const auto it = marks.find({order, row});
        return it == marks.end() ? std::vector<int>{} : it->second;
    }
};

// Reads the file next to this header. __FILE__ is this header's path as the compiler found it
// through the project's include folder, so the data file is found from any build folder.
inline SongMarks song_marks_read() {
    SongMarks song;
    const auto path = std::filesystem::path(__FILE__).parent_path() / "song_marks.txt";
    std::ifstream in(path);
    if (!in) {
        song.error = "cannot read " + path.string();
        return song;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream fields(line);
        std::string kind;
        if (!(fields >> kind) || kind[0] == '#') continue;
        int order = -1, a = -1, b = -1;
        bool ok = false;
        if (kind == "order" && fields >> order >> a >> b) {
            // Orders are listed in play order, each once.
            ok = order == static_cast<int>(song.orders.size()) && a >= 0 && b > 0;
            song.orders.push_back({a, b});
        } else if (kind == "mark" && fields >> order >> a) {
            std::vector<int>& values = song.marks[{order, a}];
            for (int v; fields >> v;) values.push_back(v);
            ok = !values.empty() && fields.eof();
            std::sort(values.begin(), values.end());
        }
        if (!ok || !(fields >> std::ws).eof()) {
            song.error =
                path.string() + ":" + std::to_string(number) + ": cannot parse '" + line + "'";
            return song;
        }
    }
    return song;
}

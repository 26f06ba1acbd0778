// Writes the seed corpus of the parser fuzz target into a folder:
//   vesk-parser-seeds tests/fuzz/corpus/parser
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "fuzz/ParserSeeds.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path dir = argv[1];
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::set<std::string> made;
    for (const auto& seed : parserfuzz::parserSeeds()) {
        std::ofstream out(dir / seed.name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(seed.input.data()), std::streamsize(seed.input.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", (dir / seed.name).c_str());
            return 1;
        }
        made.insert(seed.name);
    }
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file() && !made.count(e.path().filename().string()))
            std::printf("not a seed of this program (remove it if stale): %s\n", e.path().c_str());
    std::printf("%zu seeds in %s\n", made.size(), dir.c_str());
    return 0;
}

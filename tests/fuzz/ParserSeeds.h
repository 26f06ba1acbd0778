#pragma once
// Seed inputs of the parser fuzz target (format of ParserInput.h), made with
// the test recorder's own packing code: connect answers of both forms and
// every protocol version gate, each command the recorder sends, media frames
// of every header kind (and a key frame without its parameter sets), and
// playback at every speed.
#include <cstdint>
#include <string>
#include <vector>

namespace parserfuzz {

struct Seed {
    std::string name;  // file name in tests/fuzz/corpus/parser
    std::vector<uint8_t> input;
    // What the seed must reach through the harness.
    int minCommands = 0;
    int minPictures = 0;
    int minAudioBlocks = 0;
};

std::vector<Seed> parserSeeds();

}  // namespace parserfuzz

// The parser fuzz target's seed corpus: the committed files are what the
// recorder's packing code makes today, every seed still reaches what it was
// made for with either decoder, and no input leaves state behind for the
// next.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "fuzz/ParserHarness.h"
#include "fuzz/ParserSeeds.h"

namespace {

using parserfuzz::Decoding;
using parserfuzz::RunStats;

std::vector<uint8_t> readFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<parserfuzz::Seed>& seeds()
{
    static const auto all = parserfuzz::parserSeeds();
    return all;
}

TEST(ParserSeeds, CommittedCorpusIsCurrent)
{
    const std::filesystem::path dir = VESK_PARSER_CORPUS;
    const char* redo = "rebuild the corpus: build/tests/vesk-parser-seeds tests/fuzz/corpus/parser";
    std::set<std::string> committed;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        committed.insert(e.path().filename().string());
    std::set<std::string> made;
    for (const auto& seed : seeds()) {
        made.insert(seed.name);
        EXPECT_TRUE(readFile(dir / seed.name) == seed.input) << seed.name << " differs; " << redo;
    }
    EXPECT_EQ(committed, made) << redo;
}

// Both decoders of the fuzz target: the link's H.264 decoders and the
// stand-in.
constexpr Decoding kDecodings[] = {Decoding::h264, Decoding::standIn};

std::string traceName(const parserfuzz::Seed& seed, Decoding decoding)
{
    return seed.name + (decoding == Decoding::h264 ? " (H.264)" : " (stand-in)");
}

TEST(ParserSeeds, EachSeedReachesWhatItWasMadeFor)
{
    parserfuzz::ParserHarness harness;
    for (Decoding decoding : kDecodings) {
        for (const auto& seed : seeds()) {
            SCOPED_TRACE(traceName(seed, decoding));
            const RunStats r = harness.run(seed.input.data(), seed.input.size(), decoding);
            EXPECT_GE(r.commands, seed.minCommands);
            EXPECT_GE(r.pictures, seed.minPictures);
            EXPECT_GE(r.audioBlocks, seed.minAudioBlocks);
            // Every answer in a seed was asked for, so its handling is reached.
            EXPECT_EQ(r.unasked, 0);
        }
    }
}

TEST(ParserSeeds, InputsLeaveNoStateBehind)
{
    // The seeds in order with each decoder, then in reverse order with the
    // two decoders taking turns, on one harness: each gives the same result
    // whatever ran before it.
    parserfuzz::ParserHarness harness;
    std::vector<RunStats> alone[2];
    for (int k = 0; k < 2; ++k)
        for (const auto& seed : seeds())
            alone[k].push_back(harness.run(seed.input.data(), seed.input.size(), kDecodings[k]));
    for (size_t i = seeds().size(); i-- > 0;) {
        for (int k = 0; k < 2; ++k) {
            const auto& seed = seeds()[i];
            SCOPED_TRACE(traceName(seed, kDecodings[k]));
            const RunStats r = harness.run(seed.input.data(), seed.input.size(), kDecodings[k]);
            EXPECT_EQ(r.commands, alone[k][i].commands);
            EXPECT_EQ(r.frames, alone[k][i].frames);
            EXPECT_EQ(r.pictures, alone[k][i].pictures);
            EXPECT_EQ(r.audioBlocks, alone[k][i].audioBlocks);
            EXPECT_EQ(r.readings, alone[k][i].readings);
        }
    }
}

}  // namespace

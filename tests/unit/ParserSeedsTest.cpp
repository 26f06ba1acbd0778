// The parser fuzz target's seed corpus: the committed files are what the
// recorder's packing code makes today, every seed still reaches what it was
// made for, and no input leaves state behind for the next.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "fuzz/ParserHarness.h"
#include "fuzz/ParserSeeds.h"

namespace {

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

TEST(ParserSeeds, EachSeedReachesWhatItWasMadeFor)
{
    parserfuzz::ParserHarness harness;
    for (const auto& seed : seeds()) {
        SCOPED_TRACE(seed.name);
        const RunStats r = harness.run(seed.input.data(), seed.input.size());
        EXPECT_GE(r.commands, seed.minCommands);
        EXPECT_GE(r.pictures, seed.minPictures);
        EXPECT_GE(r.audioBlocks, seed.minAudioBlocks);
    }
}

TEST(ParserSeeds, InputsLeaveNoStateBehind)
{
    // The seeds in order and then in reverse order on one harness: each
    // gives the same result whatever ran before it.
    parserfuzz::ParserHarness harness;
    std::vector<RunStats> alone;
    for (const auto& seed : seeds())
        alone.push_back(harness.run(seed.input.data(), seed.input.size()));
    for (size_t i = seeds().size(); i-- > 0;) {
        const auto& seed = seeds()[i];
        SCOPED_TRACE(seed.name);
        const RunStats r = harness.run(seed.input.data(), seed.input.size());
        EXPECT_EQ(r.commands, alone[i].commands);
        EXPECT_EQ(r.frames, alone[i].frames);
        EXPECT_EQ(r.pictures, alone[i].pictures);
        EXPECT_EQ(r.audioBlocks, alone[i].audioBlocks);
        EXPECT_EQ(r.readings, alone[i].readings);
    }
}

}  // namespace

// Runs a fuzz target over its committed corpus with the ordinary compiler, so that every
// unit-test run replays the seeds and the cases the fuzzers once found.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(FuzzReplay, EveryCorpusFileRunsClean) {
    const std::filesystem::path corpus(OCTO_FUZZ_CORPUS);
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
        ++files;
    }
    EXPECT_GT(files, 0u);
}

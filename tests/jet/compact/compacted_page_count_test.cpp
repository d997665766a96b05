// The reclaimable-space estimate: the compactor laid out without writing, set
// against a real compaction of every corpus file and of its output.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "compact_test_support.h"
#include "corpus_files.h"
#include "jet/compact/compactor.h"
#include "jet/table/database.h"

namespace {

using jet_test::ManifestEntry;

class CompactedPageCount : public ::testing::TestWithParam<ManifestEntry> {};

TEST_P(CompactedPageCount, IsWhatACompactionWritesAndNothingForACompactedFile) {
    const std::string source = jet_test::corpusFile(GetParam().file);
    try {
        jet::Database::open(source);
    } catch (const jet::JetError&) {
        GTEST_SKIP() << "the reader refuses this file (encrypted or unsupported)";
    }
    jet_test::ScratchDir dir;
    const auto sourceBytes = jet_test::fileBytes(source);
    std::uint32_t estimate = 0;
    ASSERT_NO_THROW(estimate = jet::compactedPageCount(source)) << GetParam().file;
    EXPECT_EQ(jet_test::fileBytes(source), sourceBytes) << "the source must not change";

    const std::string out = dir.file("out.mdb");
    jet::CompactResult real;
    ASSERT_NO_THROW(real = jet::compactDatabase(source, out)) << GetParam().file;
    EXPECT_EQ(std::filesystem::file_size(out), std::uint64_t{estimate} * jet::Database::open(source)->layout().pageSize);
    // The same layout page by page: the estimate is exact, not merely close.
    EXPECT_EQ(estimate, real.outputPages) << "estimate reclaims " << real.sourcePages - estimate
                                          << " pages, compaction " << real.sourcePages - real.outputPages;

    // A compacted file has nothing left to reclaim.
    std::uint32_t again = 0;
    ASSERT_NO_THROW(again = jet::compactedPageCount(out));
    EXPECT_EQ(again, real.outputPages);
    EXPECT_EQ(jet::Database::open(out)->pageCount(), again);

    // Nothing was written beside the output.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(out).parent_path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CompactedPageCount, ::testing::ValuesIn(jet_test::readManifest()),
                         [](const ::testing::TestParamInfo<ManifestEntry>& info) {
                             return jet_test::testNameOf(info.param.file);
                         });

}  // namespace

// Compaction of every corpus file: the output opens, checks without damage, holds
// the same tables with the same rows and values (Id columns mapped one to one),
// has no free page, and compacting it again, compacting the source twice, or
// building every index from the rows, gives byte-identical files.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "compact_test_support.h"
#include "corpus_files.h"
#include "jet/check/checker.h"
#include "jet/compact/compactor.h"
#include "jet/index/index_tree.h"
#include "jet/table/database.h"

namespace {

using jet_test::ManifestEntry;

class CompactCorpus : public ::testing::TestWithParam<ManifestEntry> {};

bool openable(const std::string& path) {
    try {
        jet::Database::open(path);
        return true;
    } catch (const jet::JetError&) {
        return false;
    }
}

TEST_P(CompactCorpus, OutputKeepsEveryValueAndCompactsToItself) {
    const std::string source = jet_test::corpusFile(GetParam().file);
    if (!openable(source)) GTEST_SKIP() << "the reader refuses this file (encrypted or unsupported)";
    jet_test::ScratchDir dir;
    const std::string first = dir.file("first.mdb");
    const std::string again = dir.file("again.mdb");
    const std::string second = dir.file("second.mdb");
    const auto sourceBytes = jet_test::fileBytes(source);

    jet::CompactResult result;
    ASSERT_NO_THROW(result = jet::compactDatabase(source, first)) << GetParam().file;
    EXPECT_EQ(jet_test::fileBytes(source), sourceBytes) << "the source must not change";
    EXPECT_EQ(std::filesystem::file_size(first), result.outputBytes);

    auto before = jet::Database::open(source);
    auto after = jet::Database::open(first);
    EXPECT_EQ(after->header().version, before->header().version);
    ASSERT_EQ(after->tables().size(), before->tables().size());
    const auto ids = jet_test::tableIdMap(*before, *after);
    std::set<std::int32_t> newIds;
    for (const auto& [oldId, newId] : ids) EXPECT_TRUE(newIds.insert(newId).second) << "Ids must map one to one";
    for (const jet::TableEntry& t : before->tables()) {
        const jet::TableEntry* o = after->findTable(t.name());
        ASSERT_NE(o, nullptr) << t.name();
        ASSERT_TRUE(o->definition.has_value()) << t.name();
        EXPECT_EQ(jet_test::tableRows(*after, *o, {}), jet_test::tableRows(*before, t, ids)) << t.name();
        EXPECT_EQ(o->definition->rowCount, jet_test::tableRows(*after, *o, {}).size()) << t.name();
    }

    const jet::CheckReport report = jet::Checker(*after).run();
    for (const jet::Finding& f : report.findings)
        EXPECT_NE(f.kind, jet::FindingClass::Damage) << f.describe() << " [" << f.code << "]";
    EXPECT_EQ(report.freePages, 0u);
    EXPECT_EQ(report.leakedPages, 0u);

    ASSERT_NO_THROW(jet::compactDatabase(first, second));
    EXPECT_TRUE(jet_test::fileBytes(second) == jet_test::fileBytes(first)) << "compacting the output changed it";
    ASSERT_NO_THROW(jet::compactDatabase(source, again));
    EXPECT_TRUE(jet_test::fileBytes(again) == jet_test::fileBytes(first)) << "two runs differ";

    // Every index built from the rows alone, as a repair of damaged indexes does,
    // gives the same file: each stored key is the one the rows give. Only a column
    // type with no known key encoding may stop it.
    const std::string rebuilt = dir.file("rebuilt.mdb");
    jet::CompactOptions fromRows;
    fromRows.rebuildIndexes = true;
    try {
        jet::compactDatabase(source, rebuilt, fromRows);
        EXPECT_TRUE(jet_test::fileBytes(rebuilt) == jet_test::fileBytes(first)) << "indexes built from the rows differ";
    } catch (const jet::JetError& e) {
        EXPECT_NE(std::string(e.detail()).find("key gap"), std::string::npos) << e.what();
        EXPECT_EQ(GetParam().file, "ace12/unsupportedFieldsTestV2007.accdb") << e.what();
    }
}

}  // namespace

namespace {

// Rows land in primary-key order, and each table's AutoNumber counter is the
// highest value left (0 for an empty table).
TEST_P(CompactCorpus, RowsFollowThePrimaryKeyAndAutonumbersRestartAfterTheHighest) {
    const std::string source = jet_test::corpusFile(GetParam().file);
    if (!openable(source)) GTEST_SKIP() << "the reader refuses this file (encrypted or unsupported)";
    jet_test::ScratchDir dir;
    const std::string out = dir.file("out.mdb");
    ASSERT_NO_THROW(jet::compactDatabase(source, out));
    auto db = jet::Database::open(out);
    for (const jet::TableEntry& t : db->tables()) {
        const jet::TableDefinition& def = *t.definition;
        std::vector<jet::RowPointer> physical;
        std::int32_t highest = 0;
        std::optional<std::size_t> autonumber;
        for (std::size_t c = 0; c < def.columns.size(); ++c)
            if (def.columns[c].isAutonumber() && def.columns[c].type == jet::column_type::Long) autonumber = c;
        jet::TableCursor cursor = db->cursor(t);
        while (cursor.next()) {
            physical.push_back(cursor.location());
            if (!autonumber) continue;
            const jet::Value value = cursor.value(*autonumber);
            if (auto* v = std::get_if<std::int32_t>(&value))
                highest = std::max(highest, *v);
        }
        if (autonumber) {
            EXPECT_EQ(def.autonumber, static_cast<std::uint32_t>(highest)) << t.name();
        }
        for (const jet::LogicalIndex& li : def.logicalIndexes) {
            if (li.kind != jet::LogicalIndexKind::PrimaryKey) continue;
            jet::IndexTreeWalker walker(
                [&](jet::PageNumber p) {
                    jet::PageRef ref = db->file().page(p);
                    return jet::IndexPageData{ref, ref->span()};
                },
                jet::IndexPageLayout::forVersion(db->layout().jet3), db->pageCount());
            const jet::IndexTree tree = walker.walk(def.physicalIndexes[li.physicalIndex].rootPage);
            std::vector<jet::RowPointer> keyed;
            for (const auto& e : tree.entries) keyed.push_back(e.row);
            EXPECT_EQ(keyed, physical) << t.name() << ": rows are not in primary-key order";
        }
    }
}

}  // namespace

namespace {

INSTANTIATE_TEST_SUITE_P(Corpus, CompactCorpus, ::testing::ValuesIn(jet_test::readManifest()),
                         [](const ::testing::TestParamInfo<ManifestEntry>& info) {
                             return jet_test::testNameOf(info.param.file);
                         });

}  // namespace

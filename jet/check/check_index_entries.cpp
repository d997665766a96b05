#include "jet/check/check_index_entries.h"

#include <algorithm>

namespace jet {

TableRows::TableRows(BulkVector<RowPointer> sorted)
    : rows(std::move(sorted)), index(rows, [](RowPointer p) { return p; }) {}

std::optional<std::size_t> TableRows::position(RowPointer row) const {
    const std::uint32_t at = index.find(rows, [](RowPointer p) { return p; }, row);
    if (at == RowSlotIndex::kNone) return std::nullopt;
    return at;
}

void compareIndexEntries(IndexComparison& c, const std::function<void(Finding)>& add) {
    const PhysicalIndex& ix = *c.index;
    const TableRows& rows = *c.rows;
    const IndexTree& tree = c.tree;
    BulkVector<ExpectedEntry>& expected = c.expected;
    const auto damage = [&](std::string code, std::string message, std::optional<std::uint32_t> page,
                            std::optional<int> row = std::nullopt) {
        add(Finding{FindingClass::Damage, std::move(code), std::move(message), page, row, std::nullopt, c.table,
                    c.indexName, std::nullopt});
    };

    std::size_t unverified = 0;
    std::size_t hint = 0;
    std::optional<KeyGap> firstGap;
    std::size_t distinct = 0;
    std::optional<std::span<const std::uint8_t>> previousKey;
    bool previousNull = false;
    const auto sameKey = [](std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    };
    // An index whose key is not the rows' order meets rows at random: on a large
    // table each find would wait for memory. Where the rows of an entry a little
    // ahead begin is fetched early, and their row and expected entry just before.
    constexpr std::size_t kNear = 8;
    constexpr std::size_t kFar = 16;
    const std::size_t entryCount = tree.entries.size();
    for (std::size_t n = 0; n < entryCount; ++n) {
        if (n + kFar < entryCount) rows.index.prefetchPage(tree.entries[n + kFar].row);
        if (n + kNear < entryCount) {
            const std::uint32_t at = rows.index.firstOfPage(tree.entries[n + kNear].row);
            if (at < rows.rows.size() && at < expected.size()) {
                __builtin_prefetch(&rows.rows[at]);
                __builtin_prefetch(&expected[at]);
            }
        }
        const IndexTreeEntry& e = tree.entries[n];
        const std::span<const std::uint8_t> entryKey = tree.key(e);
        if (!previousKey || !sameKey(*previousKey, entryKey)) ++distinct;
        // Entries often follow the rows' order (a key the rows were added by): try
        // the row after the previous one before searching.
        std::optional<std::size_t> position;
        if (hint < rows.rows.size() && rows.rows[hint] == e.row) position = hint;
        else position = rows.position(e.row);
        if (position) hint = *position + 1;
        if (!position || *position >= expected.size()) {
            damage("index_entry_dead_row", "entrada do índice aponta para a página " + std::to_string(e.row.page.value) +
                                               " linha " + std::to_string(e.row.row) +
                                               ", que não é uma linha viva da tabela",
                   e.leaf.value);
            previousKey = entryKey;
            previousNull = false;
            continue;
        }
        ExpectedEntry& x = expected[*position];
        if (x.seen()) damage("index_row_twice", "a linha aparece duas vezes no índice", e.row.page.value, e.row.row);
        x.setSeen();
        if (x.encoded()) {
            if (!x.sameKey(keyDigest(entryKey)))
                damage("index_key_mismatch", "a chave do índice não corresponde aos valores da linha", e.row.page.value,
                       e.row.row);
        } else if (x.gap() != kNoKeyGap) {
            ++unverified;
            if (!firstGap) firstGap = c.gaps[x.gap()];
        }
        if (ix.isUnique() && previousKey && sameKey(*previousKey, entryKey) && !x.anyNull() && !previousNull)
            damage("index_unique_violation", "valor repetido num índice único", e.row.page.value, e.row.row);
        if (ix.isRequired() && x.anyNull() && x.encoded())
            damage("index_required_null", "valor nulo num índice que não admite nulos", e.row.page.value, e.row.row);
        previousKey = entryKey;
        previousNull = x.anyNull();
    }
    std::size_t missing = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ExpectedEntry& x = expected[i];
        if (x.seen()) continue;
        if (ix.ignoresNulls() && x.allNull()) continue;
        if (++missing <= 20)
            damage("index_row_missing", "a linha não está no índice", rows.rows[i].page.value, rows.rows[i].row);
    }
    if (missing > 20)
        damage("index_row_missing",
               missing - 20 == 1 ? "mais 1 linha também falta no índice"
                                 : std::to_string(missing - 20) + " outras linhas também faltam no índice",
               std::nullopt);
    if (unverified > 0) {
        const std::string why = firstGap ? keyGapDescription(*firstGap) : std::string("?");
        add(Finding{FindingClass::Unverified, "index_key_unverifiable",
                    "não foi possível verificar a chave de " + countedText(unverified, "entrada", "entradas") +
                        ": a ordem de classificação não codifica um caractere ou tipo (" + why + ")",
                    ix.rootPage.value, std::nullopt, std::nullopt, c.table, c.indexName, std::nullopt});
    }
    if (distinct != ix.distinctKeys) {
        add(Finding{FindingClass::StaleStatistic, "index_distinct_stale",
                    "o índice registra " + countedText(ix.distinctKeys, "chave distinta", "chaves distintas") +
                        ", mas tem " + std::to_string(distinct),
                    c.tdefPage, std::nullopt, c.distinctKeysOffset, c.table, c.indexName,
                    static_cast<std::int64_t>(distinct)});
    }
}

}  // namespace jet

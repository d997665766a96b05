#include "jet/index/index_tree.h"

#include <cstring>
#include <unordered_set>
#include <utility>

#include "jet/format/jet_error.h"
#include "jet/format/page_file.h"

namespace jet {

namespace {

ErrorLocation at(PageNumber page) {
    ErrorLocation where;
    where.page = page.value;
    where.structure = "árvore de índice";
    return where;
}

std::string pageText(PageNumber p) { return std::to_string(p.value); }

struct WalkState {
    const IndexPageSource& source;
    const IndexPageLayout& layout;
    std::size_t pageBudget;
    unsigned maxDepth;
    std::optional<PageNumber> expectedOwner;
    IndexTree& tree;
    std::unordered_set<std::uint32_t> visited;
    std::optional<unsigned> leafDepth;
    PageNumber lastLeaf;
    std::size_t lastLeafFacts = 0;  // position of the last leaf in tree.pages
    std::vector<IndexEntryParts> parts;  // of the page being decoded
};

// The greatest entry of a subtree, which its parent's entry must repeat.
struct LastEntry {
    std::vector<std::uint8_t> key;
    RowPointer row;
};

// Walks the subtree under `number`; returns its greatest entry (none for an empty leaf).
std::optional<LastEntry> walkPage(WalkState& s, PageNumber number, unsigned depth) {
    if (number.isNull()) throwCorruption("index tree refers to page 0", at(number));
    if (depth > s.maxDepth) throwCorruption("index tree deeper than " + std::to_string(s.maxDepth) + " levels", at(number));
    if (!s.visited.insert(number.value).second) {
        throwCorruption("index page " + pageText(number) + " reached twice (cycle or shared subtree)", at(number));
    }
    if (s.visited.size() > s.pageBudget) {
        throwCorruption("index tree has more pages than the file allows", at(number));
    }
    const IndexPageData data = s.source(number);
    IndexPage page;
    // Leaf keys go into the tree's buffer; intermediate entries are few.
    std::vector<LastEntry> children;
    std::vector<PageNumber> childPages;
    std::size_t leafEntries = 0;
    try {
        decodeIndexPageEntries(data.bytes, number, s.layout, page, s.parts);
    } catch (const JetError& e) {
        throw e.withContext(at(number));
    }
    if (page.isLeaf()) {
        // Every key of the page into the tree's buffer with one resize.
        std::size_t keyBytes = 0;
        for (const IndexEntryParts& e : s.parts) keyBytes += e.keyLength();
        ByteArena& keys = s.tree.keyBytes;
        std::size_t end = keys.size();
        keys.resize(end + keyBytes);
        for (const IndexEntryParts& e : s.parts) {
            IndexTreeEntry& t = s.tree.entries.emplace_back();
            t.keyOffset = end;
            t.keyLength = static_cast<std::uint32_t>(e.keyLength());
            t.row = e.row;
            t.leaf = number;
            if (!e.fromPrefix.empty()) std::memcpy(keys.data() + end, e.fromPrefix.data(), e.fromPrefix.size());
            if (!e.rest.empty()) std::memcpy(keys.data() + end + e.fromPrefix.size(), e.rest.data(), e.rest.size());
            end += e.keyLength();
        }
        leafEntries = s.parts.size();
    } else {
        for (const IndexEntryParts& e : s.parts) {
            LastEntry& c = children.emplace_back();
            c.key.assign(e.fromPrefix.begin(), e.fromPrefix.end());
            c.key.insert(c.key.end(), e.rest.begin(), e.rest.end());
            c.row = e.row;
            childPages.push_back(e.child);
        }
    }

    IndexTreePage facts;
    facts.page = number;
    facts.kind = page.kind;
    facts.depth = depth;
    facts.entryCount = page.isLeaf() ? leafEntries : children.size();
    facts.owner = page.owner;
    facts.prev = page.prev;
    facts.next = page.next;
    facts.tail = page.tail;
    facts.freeSpace = page.freeSpace;
    facts.computedFreeSpace = page.computedFreeSpace(s.layout);
    facts.prefixLength = page.prefixLength;
    facts.nodeFlag = page.nodeFlag;
    s.tree.pages.push_back(facts);
    if (depth > s.tree.depth) s.tree.depth = depth;

    auto note = [&](std::string detail, std::string message) {
        s.tree.findings.push_back({number, std::move(detail), std::move(message)});
    };
    if (s.expectedOwner && page.owner != *s.expectedOwner) {
        note("owner " + pageText(page.owner) + " instead of table " + pageText(*s.expectedOwner),
             "a página diz pertencer à tabela da página " + pageText(page.owner) + ", não à da página " +
                 pageText(*s.expectedOwner));
    }
    if (facts.freeSpace != facts.computedFreeSpace) {
        note("free space says " + std::to_string(facts.freeSpace) + ", entries leave " +
                 std::to_string(facts.computedFreeSpace),
             "o espaço livre registrado (" + std::to_string(facts.freeSpace) + " bytes) difere do que as entradas deixam (" +
                 std::to_string(facts.computedFreeSpace) + " bytes)");
    }
    if (page.nodeFlag != (page.isLeaf() ? 0x00 : 0x01)) {
        note("node flag " + std::to_string(page.nodeFlag) + " does not match the page type",
             "o indicador de nó (" + std::to_string(page.nodeFlag) + ") não corresponde ao tipo da página");
    }

    if (page.isLeaf()) {
        if (!page.tail.isNull())
            note("leaf page has a tail pointer", "uma folha do índice aponta para uma página de continuação");
        if (s.leafDepth && *s.leafDepth != depth) {
            note("leaf at depth " + std::to_string(depth) + ", other leaves at " + std::to_string(*s.leafDepth),
                 "folha na profundidade " + std::to_string(depth) + ", as outras estão na " +
                     std::to_string(*s.leafDepth));
        }
        if (!s.leafDepth) s.leafDepth = depth;
        // Leaves in walk order must form the prev/next chain.
        if (page.prev != s.lastLeaf) {
            note("prev link " + pageText(page.prev) + ", previous leaf in key order is " + pageText(s.lastLeaf),
                 "a folha anterior registrada é a página " + pageText(page.prev) + ", mas na ordem das chaves é a " +
                     pageText(s.lastLeaf));
        }
        if (!s.lastLeaf.isNull()) {
            const IndexTreePage& before = s.tree.pages[s.lastLeafFacts];
            if (before.next != number) {
                s.tree.findings.push_back(
                    {s.lastLeaf, "next link " + pageText(before.next) + ", next leaf in key order is " + pageText(number),
                     "a folha seguinte registrada é a página " + pageText(before.next) + ", mas na ordem das chaves é a " +
                         pageText(number)});
            }
        }
        s.lastLeaf = number;
        s.lastLeafFacts = s.tree.pages.size() - 1;
        std::optional<LastEntry> last;
        if (leafEntries == 0) return last;
        const IndexTreeEntry& e = s.tree.entries.back();
        const auto key = s.tree.key(e);
        last = LastEntry{std::vector<std::uint8_t>(key.begin(), key.end()), e.row};
        return last;
    }

    if (children.empty() && page.tail.isNull())
        note("intermediate page without entries or tail", "nó intermediário sem entradas nem página de continuação");
    if (children.size() > 1 && page.tail.isNull())
        note("intermediate page with several children but no tail",
             "nó intermediário com vários filhos mas sem página de continuação");
    std::optional<LastEntry> last;
    for (std::size_t i = 0; i < children.size(); ++i) {
        LastEntry& e = children[i];
        auto childLast = walkPage(s, childPages[i], depth + 1);
        if (!childLast) {
            note("entry points to child " + pageText(childPages[i]) + " whose subtree is empty",
                 "uma entrada aponta para a página " + pageText(childPages[i]) + ", cuja subárvore está vazia");
        } else if (childLast->key != e.key || childLast->row != e.row) {
            note("entry for child " + pageText(childPages[i]) + " differs from the child's last entry",
                 "a entrada da página filha " + pageText(childPages[i]) + " difere da última entrada dela");
        }
        last = std::move(e);
    }
    if (!page.tail.isNull()) {
        auto tailLast = walkPage(s, page.tail, depth + 1);
        if (tailLast) last = std::move(tailLast);
    }
    return last;
}

}  // namespace

IndexTreeWalker::IndexTreeWalker(IndexPageSource source, IndexPageLayout layout, std::size_t pageBudget,
                                 unsigned maxDepth)
    : source_(std::move(source)), layout_(layout), pageBudget_(pageBudget), maxDepth_(maxDepth) {}

IndexTree IndexTreeWalker::walk(PageNumber root, std::optional<PageNumber> expectedOwner) const {
    IndexTree tree;
    walk(root, expectedOwner, tree);
    return tree;
}

void IndexTreeWalker::walk(PageNumber root, std::optional<PageNumber> expectedOwner, IndexTree& tree) const {
    // Cleared, not replaced: a caller walking many trees keeps the buffers' room.
    tree.root = root;
    tree.entries.clear();
    tree.keyBytes.clear();
    tree.pages.clear();
    tree.findings.clear();
    tree.depth = 0;
    WalkState state{source_, layout_, pageBudget_, maxDepth_, expectedOwner, tree, {}, std::nullopt, PageNumber(), 0, {}};
    walkPage(state, root, 0);
    if (!state.lastLeaf.isNull()) {
        const IndexTreePage& last = tree.pages[state.lastLeafFacts];
        if (!last.next.isNull())
            tree.findings.push_back({last.page, "last leaf has next link " + pageText(last.next),
                                     "a última folha aponta para uma seguinte, a página " + pageText(last.next)});
    }
    for (std::size_t i = 1; i < tree.entries.size(); ++i) {
        const auto& a = tree.entries[i - 1];
        const auto& b = tree.entries[i];
        if (compareEntryBytes(tree.key(a), a.row, tree.key(b), b.row) >= 0) {
            tree.findings.push_back({b.leaf, "entry " + std::to_string(i) + " is not greater than the one before",
                                     "a entrada " + std::to_string(i) + " não é maior que a anterior: as chaves estão fora de ordem"});
        }
    }
}

void walkTableIndex(PageFile& file, bool jet3, PageNumber root, PageNumber owner, IndexTree& tree,
                    std::span<const PageNumber> expectedPages) {
    const PlannedReads planned(file, expectedPages);
    const IndexTreeWalker walker(
        [&file](PageNumber p) {
            PageRef ref = file.page(p);
            return IndexPageData{ref, ref->span()};
        },
        IndexPageLayout::forVersion(jet3), file.pageCount(), 16);
    walker.walk(root, owner, tree);
}

}  // namespace jet

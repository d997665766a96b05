#include "jet/check/checker.h"

#include <cstring>
#include <map>
#include <set>
#include <span>
#include <thread>

#include "jet/check/check_catalog.h"
#include "jet/check/check_context.h"
#include "jet/check/check_read_ahead.h"
#include "jet/check/check_table.h"
#include "jet/check/page_type_name.h"
#include "jet/check/leaked_pages.h"
#include "jet/format/byte_order.h"
#include "jet/table/data_page.h"

namespace jet {

namespace {

// The decoded constant block at 0x18 of page 0, the same in every file.
constexpr std::uint8_t kHeaderConstants[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                               0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};

void checkHeader(CheckContext& ctx) {
    const DatabaseHeader& h = ctx.db().header();
    PageFile& file = ctx.file();
    if (file.fileSize() % file.pageSize() != 0)
        ctx.add(FindingClass::Damage, "file_length",
                "o tamanho do arquivo (" + std::to_string(file.fileSize()) + " bytes) não é múltiplo do tamanho de página (" +
                    std::to_string(file.pageSize()) + ")");
    const auto& p0 = h.decodedPage;
    if (p0.size() >= 0x18 + sizeof kHeaderConstants) {
        for (std::size_t i = 0; i < sizeof kHeaderConstants; ++i) {
            if (p0[0x18 + i] != kHeaderConstants[i]) {
                ctx.add(FindingClass::Damage, "header_constants",
                        "a área mascarada da página 0 não decodifica para os valores fixos esperados", 0u);
                break;
            }
        }
    }
    if (p0.size() >= 4 && (p0[1] != 0x01 || p0[2] != 0x00 || p0[3] != 0x00))
        ctx.add(FindingClass::Damage, "header_signature", "assinatura inválida no início da página 0", 0u);
    if (!h.isJet3()) {
        if (h.sortOrder != 0 && h.sortOrder != 1033)
            ctx.add(FindingClass::Unverified, "sort_order_unknown",
                    "ordem de classificação " + std::to_string(h.sortOrder) +
                        " desconhecida: as chaves de texto dos índices não podem ser verificadas",
                    0u);
        if (!(h.creationDate > -700000.0 && h.creationDate < 3000000.0))
            ctx.add(FindingClass::Damage, "header_creation_date", "data de criação implausível na página 0", 0u);
    }
}

// A global map row decoded leniently: Jackcess-written files carry reference maps
// with junk pointers for ranges wholly past the end of the file, which address no
// page of the file and so cannot hurt.
struct GlobalMap {
    std::vector<bool> free;  // one per page of the file
};

std::optional<GlobalMap> decodeGlobalRow(CheckContext& ctx, const DataPage& page1, std::uint16_t row,
                                         std::uint32_t claimant) {
    const std::uint32_t pages = ctx.file().pageCount();
    std::span<const std::uint8_t> bytesOfRow;
    try {
        bytesOfRow = page1.row(row);
    } catch (const JetError& e) {
        ctx.add(FindingClass::Damage, "global_map_unreadable",
                "a linha " + std::to_string(row) + " da página 1 não pôde ser lida: " + errorCause(e), 1u);
        return std::nullopt;
    }
    if (bytesOfRow.size() < 5) {
        ctx.add(FindingClass::Damage, "global_map_unreadable", "o mapa global tem menos de 5 bytes", 1u, {}, row);
        return std::nullopt;
    }
    GlobalMap map;
    map.free.assign(pages, false);
    auto setBits = [&](std::span<const std::uint8_t> bitmap, std::uint64_t first) {
        for (std::size_t i = 0; i < bitmap.size(); ++i) {
            if (bitmap[i] == 0) continue;
            for (unsigned k = 0; k < 8; ++k)
                if ((bitmap[i] >> k) & 1u) {
                    const std::uint64_t p = first + 8 * i + k;
                    if (p < pages) map.free[p] = true;
                }
        }
    };
    if (bytesOfRow[0] == 0) {
        const std::uint32_t start = bytes::u32le(bytesOfRow, 1);
        const auto bitmap = bytesOfRow.subspan(5);
        // Pages outside an inline global map's range are not recorded as free: Access
        // starts the map at page 0 and lengthens it with the file, and writers that
        // move the start (Jackcess) leave the pages before it in use.
        setBits(bitmap, start);
    } else if (bytesOfRow[0] == 1) {
        const std::uint64_t perPage = (ctx.layout().pageSize - 4) * 8;
        const std::size_t count = (bytesOfRow.size() - 1) / 4;
        for (std::size_t j = 0; j < count; ++j) {
            const PageNumber bp(bytes::u32le(bytesOfRow, 1 + 4 * j));
            if (bp.isNull()) continue;
            if (bp.value >= pages) {
                if (perPage * j >= pages) {
                    ctx.add(FindingClass::StaleStatistic, "global_map_pointer_outside",
                            "o mapa global aponta para a página " + std::to_string(bp.value) +
                                " numa faixa que fica toda além do fim do arquivo",
                            1u, {}, row);
                } else {
                    ctx.add(FindingClass::Damage, "global_map_unreadable",
                            "o mapa global aponta para a página " + std::to_string(bp.value) + ", além do fim do arquivo",
                            1u, {}, row);
                }
                continue;
            }
            PageRef bitmapPage = ctx.page(bp, {});
            if (!bitmapPage) continue;
            if (bitmapPage->bytes[0] != 0x05) {
                ctx.add(FindingClass::Damage, "global_map_unreadable",
                        "a página de bitmap do mapa global é uma " + pageTypeName(bitmapPage->bytes[0]) +
                            ", não uma página de mapa de uso",
                        bp.value);
                continue;
            }
            ctx.claim(bp, claimant, {});
            setBits(bitmapPage->span().subspan(4), perPage * j);
        }
    } else {
        ctx.add(FindingClass::Damage, "global_map_unreadable",
                "tipo de mapa desconhecido " + std::to_string(bytesOfRow[0]) + " na página 1", 1u, {}, row);
        return std::nullopt;
    }
    return map;
}

// Page 1: the global free-page map (row 0) and an unknown map (row 1).
std::optional<GlobalMap> readGlobalMap(CheckContext& ctx, std::uint32_t claimant) {
    PageRef p1 = ctx.page(PageNumber(1), {});
    if (!p1) return std::nullopt;
    const std::uint32_t owner = bytes::u32le(p1->span(), ctx.layout().dataOwner);
    if (p1->bytes[0] != 0x01 || owner != 1) {
        ctx.add(FindingClass::Damage, "global_map_page",
                "a página 1 deveria ser a do mapa global de uso, mas é uma " + pageTypeName(p1->bytes[0], owner) +
                    (p1->bytes[0] == 0x01 ? " com dono " + std::to_string(owner) : std::string()),
                1u);
        return std::nullopt;
    }
    std::optional<DataPage> page;
    try {
        page.emplace(p1, ctx.layout());
    } catch (const JetError& e) {
        ctx.add(FindingClass::Damage, "global_map_page", "a página do mapa global contradiz o formato: " + errorCause(e), 1u);
        return std::nullopt;
    }
    if (page->rowCount() < 1) {
        ctx.add(FindingClass::Damage, "global_map_page", "a página 1 não tem o mapa global", 1u);
        return std::nullopt;
    }
    std::optional<GlobalMap> global = decodeGlobalRow(ctx, *page, 0, claimant);
    if (page->rowCount() > 1) decodeGlobalRow(ctx, *page, 1, claimant);
    return global;
}

// `readAhead`: what pages the accounting may need were found to hold, ascending.
void checkAccounting(CheckContext& ctx, const std::optional<GlobalMap>& global, std::size_t splitFrom,
                     const std::vector<LeakedPage>& readAhead) {
    CheckReport& report = ctx.report();
    const std::uint32_t pages = ctx.file().pageCount();
    report.pageCount = pages;
    if (!global) return;
    std::vector<LeakedPage> leaked;
    for (std::uint32_t n = 0; n < pages; ++n)
        if (!global->free[n] && !ctx.claims().owner(PageNumber(n))) leaked.push_back({n});
    // What was read ahead is not read again; what was not is read now.
    std::vector<LeakedPage> unread;
    {
        auto known = readAhead.begin();
        for (LeakedPage& l : leaked) {
            while (known != readAhead.end() && known->page < l.page) ++known;
            if (known != readAhead.end() && known->page == l.page) l = *known;
            if (l.seen == LeakedPage::Seen::NotRead) unread.push_back(l);
        }
    }
    // Many are read on two threads; the findings follow in page order.
    std::size_t half = unread.size();
    std::thread helper;
    if (splitFrom > 0 && unread.size() >= splitFrom) {
        half = unread.size() / 2;
        try {
            helper = std::thread([&ctx, rest = std::span<LeakedPage>(unread).subspan(half)] {
                try {
                    PageFile file(ctx.file().path(), 2 * PageFile::kMaxRun);
                    file.configure(ctx.file().pageSize(), ctx.file().databaseKey());
                    readLeakedPages(file, rest);
                } catch (const std::exception&) {
                    // Not read here: read on the way through.
                }
            });
        } catch (const std::exception&) {
            half = unread.size();
        }
    }
    readLeakedPages(ctx.file(), std::span<LeakedPage>(unread).first(half));
    if (helper.joinable()) helper.join();
    {
        auto read = unread.begin();
        for (LeakedPage& l : leaked)
            if (read != unread.end() && read->page == l.page) l = *read++;
    }

    std::size_t leakedZero = 0;
    std::size_t next = 0;
    for (std::uint32_t n = 0; n < pages; ++n) {
        const PageNumber p(n);
        if (global->free[n]) {
            ++report.freePages;
            if (const auto owner = ctx.claims().owner(p)) {
                Finding f;
                f.kind = FindingClass::Damage;
                f.code = "used_page_marked_free";
                f.message = "a página é usada por " + ctx.claims().describe(*owner) +
                            ", mas o mapa global a marca como livre";
                f.page = n;
                ctx.add(std::move(f));
                report.usedPagesMarkedFree.push_back(n);
            }
            continue;
        }
        if (next == leaked.size() || leaked[next].page != n) continue;
        LeakedPage l = leaked[next++];
        ++report.leakedPages;
        if (l.seen == LeakedPage::Seen::NotRead)
            if (PageRef ref = ctx.page(p, {})) seeLeakedPage(l, ref->bytes);
        if (l.seen == LeakedPage::Seen::Zero) {
            ++leakedZero;
            continue;
        }
        ctx.add(FindingClass::SpaceLeak, "leaked_page",
                pageTypeName(l.type, l.dataOwner) + " perdida: não está livre nem é usada por nenhuma estrutura", n);
    }
    if (leakedZero > 0) {
        Finding f;
        f.kind = FindingClass::SpaceLeak;
        f.code = "leaked_zero_pages";
        f.message = leakedZero == 1
                        ? "1 página zerada não está livre nem é usada por nenhuma estrutura"
                        : std::to_string(leakedZero) + " páginas zeradas não estão livres nem são usadas por nenhuma estrutura";
        ctx.add(std::move(f));
    }
}

}  // namespace

Checker::Checker(Database& db, CheckOptions options) : db_(db), options_(options) {}

CheckReport Checker::run() {
    CheckReport report;
    // Outlives the context, whose row helper may be reading for it.
    std::unique_ptr<CheckReadAhead> readAhead;
    CheckContext ctx(db_, report, options_.maxFindingsPerKind);
    const std::uint32_t fixed = ctx.claims().addClaimant("a página 0 e o mapa global (página 1)");
    ctx.claim(PageNumber(0), fixed, {});
    ctx.claim(PageNumber(1), fixed, {});
    checkHeader(ctx);
    const std::optional<GlobalMap> global = readGlobalMap(ctx, fixed);

    // MSysObjects first, then every other table the catalog lists.
    std::vector<const TableDefinition*> order;
    {
        std::set<std::uint32_t> planned;
        auto plan = [&](const TableDefinition& def) {
            if (planned.insert(def.tdefPage.value).second) order.push_back(&def);
        };
        plan(db_.catalogDefinition());
        for (const TableEntry& t : db_.tables())
            if (t.definition) plan(*t.definition);
    }
    if (options_.readAhead) {
        try {
            readAhead = std::make_unique<CheckReadAhead>(ctx.file(), ctx.layout(), order, CheckReadAhead::kAhead,
                                                         CheckReadAhead::kReadyBytes,
                                                         global ? global->free : std::vector<bool>());
            ctx.setReadAhead(readAhead.get());
        } catch (const std::exception&) {
            // No thread or memory to spare: everything is read on this thread.
        }
    }
    std::set<std::uint32_t> done;
    auto checkOne = [&](const TableDefinition& def) {
        if (!done.insert(def.tdefPage.value).second) return;
        ++report.tablesChecked;
        try {
            TableChecker table(ctx, def, options_.verifyIndexKeys, options_.splitPagesFrom);
            table.run();
            report.liveRowsByTable[def.tdefPage.value] = table.liveRows();
        } catch (const JetError& e) {
            ctx.add(FindingClass::Damage, "table_unreadable", "a tabela não pôde ser verificada: " + errorCause(e),
                    e.location().page, def.name);
        } catch (const std::exception& e) {
            ctx.add(FindingClass::Damage, "table_unreadable",
                    "a tabela não pôde ser verificada (" + errorCause(e) + ")", std::nullopt, def.name);
        }
    };
    checkOne(db_.catalogDefinition());
    for (const TableEntry& t : db_.tables()) {
        if (!t.definition) {
            ctx.add(FindingClass::Damage, "tdef_unreadable", "a definição da tabela está danificada: " + t.definitionError,
                    static_cast<std::uint32_t>(t.catalog.id) & 0x00FFFFFFu, t.name());
            continue;
        }
        checkOne(*t.definition);
    }
    // What the pages no structure used hold may have been read ahead meanwhile.
    std::vector<LeakedPage> leakedReadAhead;
    if (readAhead) readAhead->takeLeakedPages(leakedReadAhead);
    ctx.setReadAhead(nullptr);
    readAhead.reset();
    try {
        CatalogChecker(ctx).run();
    } catch (const std::exception& e) {
        ctx.add(FindingClass::Damage, "catalog_unreadable",
                "o catálogo não pôde ser verificado: " + errorCause(e), 2u, "MSysObjects");
    }
    checkAccounting(ctx, global, options_.splitPagesFrom, leakedReadAhead);
    ctx.finish();
    return report;
}

CheckReport checkDatabase(const std::string& path, CheckOptions options) {
    std::unique_ptr<Database> db;
    try {
        db = Database::open(path);
    } catch (const JetError& e) {
        if (e.kind() != ErrorKind::Corruption) throw;
        CheckReport report;
        Finding f;
        f.kind = FindingClass::Damage;
        f.code = "open_failed";
        f.message = "o banco de dados não pôde ser aberto: " + errorCause(e);
        f.page = e.location().page;
        f.table = e.location().table;
        report.findings.push_back(std::move(f));
        return report;
    }
    return Checker(*db, options).run();
}

}  // namespace jet

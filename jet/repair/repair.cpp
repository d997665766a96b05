#include "jet/repair/repair.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/check/checker.h"
#include "jet/compact/compactor.h"
#include "jet/format/byte_order.h"
#include "jet/format/rc4.h"
#include "jet/table/data_page.h"
#include "jet/table/database.h"

namespace jet {

namespace {

namespace num = error_number;

// Findings repair knows how to mend for certain.
bool mendable(const Finding& f) {
    return f.code == "row_count_stale" || f.code == "index_distinct_stale" || f.code == "autonumber_below_max" ||
           f.code == "used_page_marked_free";
}

[[noreturn]] void failOpen(const JetError& e, const std::string& path) {
    switch (e.kind()) {
        case ErrorKind::Io:
            if (!std::filesystem::exists(path))
                throw RepairError(num::FileNotFound, "Não foi possível localizar o arquivo '" + path + "'.");
            throw RepairError(num::CannotOpenFile, "Não foi possível abrir o arquivo '" + path + "': " + e.what());
        case ErrorKind::NotDatabase:
        case ErrorKind::Unsupported:
            throw RepairError(num::UnrecognisedFormat,
                              "Formato de banco de dados não reconhecido '" + path + "'. " + e.what());
        case ErrorKind::Encrypted:
            throw RepairError(num::EncryptedOrPassword, "O banco de dados '" + path +
                                                            "' está protegido por senha e criptografado; não pode ser reparado.");
        default:
            throw RepairError(num::DatabaseDamaged, "Não foi possível abrir o banco de dados '" + path +
                                                        "': o arquivo está danificado. " + e.what());
    }
}

// The page and in-page offset of byte `logical` of a table definition whose pages are
// `chain`: the first page in full, then each continuation page after its 8-byte header.
std::pair<PageNumber, std::size_t> definitionByte(const std::vector<PageNumber>& chain, std::size_t pageSize,
                                                  std::size_t logical) {
    if (logical < pageSize) return {chain.at(0), logical};
    const std::size_t rest = logical - pageSize;
    const std::size_t per = pageSize - 8;
    return {chain.at(1 + rest / per), 8 + rest % per};
}

// Pages to rewrite, decoded, with the database key to encode them again.
class PagePatches {
public:
    PagePatches(Database& db) : db_(db) {}

    std::vector<std::uint8_t>& page(PageNumber n) {
        auto it = pages_.find(n.value);
        if (it != pages_.end()) return it->second;
        PageRef ref = db_.file().page(n);
        return pages_.emplace(n.value, std::vector<std::uint8_t>(ref->bytes.begin(), ref->bytes.end())).first->second;
    }

    void write(const std::string& path) const {
        if (pages_.empty()) return;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            throw RepairError(num::CannotOpenFile,
                              "Não foi possível abrir o arquivo '" + path + "' para gravação: " + std::strerror(errno));
        const std::size_t size = db_.file().pageSize();
        const std::uint32_t key = db_.header().isEncoded() ? db_.header().databaseKey : 0;
        for (const auto& [n, bytesOfPage] : pages_) {
            std::vector<std::uint8_t> out = bytesOfPage;
            if (key != 0 && n != 0) rc4Apply(key ^ n, out);
            std::size_t done = 0;
            while (done < size) {
                const ssize_t w = ::pwrite(fd, out.data() + done, size - done,
                                           static_cast<off_t>(std::uint64_t{n} * size + done));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    const int err = errno;
                    ::close(fd);
                    throw RepairError(num::DiskIo, "Erro de disco ao gravar a página " + std::to_string(n) + " de '" +
                                                       path + "': " + std::strerror(err));
                }
                done += static_cast<std::size_t>(w);
            }
        }
        if (::fsync(fd) != 0) {
            const int err = errno;
            ::close(fd);
            throw RepairError(num::DiskIo, "Erro de disco ao gravar '" + path + "': " + std::strerror(err));
        }
        ::close(fd);
    }

    bool empty() const { return pages_.empty(); }

private:
    Database& db_;
    std::map<std::uint32_t, std::vector<std::uint8_t>> pages_;
};

// Clears page `p`'s bit in the global free map (page 1 row 0). False when the map
// has no bit for it (outside an inline map's range, or a range without bitmap page).
bool markUsed(Database& db, PagePatches& patches, PageNumber p) {
    std::vector<std::uint8_t>& page1 = patches.page(PageNumber(1));
    const FormatLayout& layout = db.layout();
    const std::uint16_t rows = bytes::u16le(page1, layout.dataRowCount);
    if (rows < 1) return false;
    const std::size_t start = bytes::u16le(page1, layout.dataRowTable) & row_flag::OffsetMask;
    if (start >= page1.size() || page1.size() - start < 5) return false;
    const std::span<std::uint8_t> row(page1.data() + start, page1.size() - start);
    if (row[0] == 0) {
        const std::uint32_t first = bytes::u32le(row, 1);
        if (p.value < first) return false;
        const std::uint64_t bit = p.value - first;
        if (5 + bit / 8 >= row.size()) return false;
        row[5 + bit / 8] = static_cast<std::uint8_t>(row[5 + bit / 8] & ~(1u << (bit % 8)));
        return true;
    }
    if (row[0] == 1) {
        const std::uint64_t perPage = (layout.pageSize - 4) * 8;
        const std::size_t j = p.value / perPage;
        if (1 + 4 * j + 4 > row.size()) return false;
        const PageNumber bitmap(bytes::u32le(row, 1 + 4 * j));
        if (bitmap.isNull() || bitmap.value >= db.pageCount()) return false;
        std::vector<std::uint8_t>& bp = patches.page(bitmap);
        const std::uint64_t bit = p.value - j * perPage;
        bp[4 + bit / 8] = static_cast<std::uint8_t>(bp[4 + bit / 8] & ~(1u << (bit % 8)));
        return true;
    }
    return false;
}

std::string damageDescription(const Finding& f) {
    std::string what;
    if (!f.table.empty()) what = "A tabela " + f.table + " está danificada";
    else what = "O banco de dados está danificado";
    std::string where;
    if (f.page) where += "página " + std::to_string(*f.page);
    if (f.row) where += (where.empty() ? "" : ", ") + std::string("linha ") + std::to_string(*f.row);
    if (!f.index.empty()) where += (where.empty() ? "" : ", ") + std::string("índice ") + f.index;
    if (!where.empty()) what += " (" + where + ")";
    return what + ": " + f.message + ". O reparo não pode corrigir este dano com segurança.";
}

// A name beside `path` for the rebuilt file: hidden, and taken by nobody.
std::filesystem::path rebuildPathBeside(const std::filesystem::path& path) {
    const std::string base = "." + path.filename().string() + ".reparo";
    for (int i = 0;; ++i) {
        std::filesystem::path candidate = path.parent_path() / (base + (i == 0 ? "" : "-" + std::to_string(i)));
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) return candidate;
        if (i >= 1000) throw RepairError(num::CannotOpenFile, "Não há um nome livre para o arquivo reparado ao lado de '" +
                                                                   path.string() + "'.");
    }
}

void flushFolder(const std::filesystem::path& folder, const std::string& path) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0) ::close(fd);
        throw RepairError(num::DiskIo, "Erro de disco ao gravar a pasta de '" + path + "': " + std::strerror(err));
    }
    ::close(fd);
}

// Reads what can be read of `source` and writes it to `destination` as a new,
// consistent database (every index built from the kept rows, fresh maps and
// statistics), checked in full. Fails only when nothing can be saved.
RepairReport salvageInto(const std::string& source, const std::string& destination, const std::string& userPath) {
    CompactOptions options;
    options.salvage = true;
    try {
        CompactResult result = compactDatabase(source, destination, options);
        RepairReport report;
        report.items = std::move(result.losses);
        report.rewritten = true;
        return report;
    } catch (const JetError& e) {
        throw RepairError(num::DatabaseDamaged,
                          "O banco de dados '" + userPath + "' não pôde ser reparado: " + e.what());
    }
}

// Writes the database anew beside `path` (see salvageInto), then puts it in
// place with one rename: at every moment `path` holds the damaged file or the
// whole repaired one. The new file keeps the original's mode and, where the
// process may set them, its owner and group.
RepairReport rewriteInPlace(const std::string& path) {
    const std::filesystem::path target(path);
    struct stat original {};
    if (::stat(path.c_str(), &original) != 0)
        throw RepairError(num::CannotOpenFile, "Não foi possível abrir o arquivo '" + path + "': " + std::strerror(errno));
    const std::filesystem::path rebuilt = rebuildPathBeside(target);
    RepairReport report = salvageInto(path, rebuilt.string(), path);
    const auto removeRebuilt = [&] {
        std::error_code ec;
        std::filesystem::remove(rebuilt, ec);
    };
    // The owner first: chown clears set-id bits, which the mode then restores. A
    // process that may not give the file away leaves it its own (EPERM).
    const bool owned = ::chown(rebuilt.c_str(), original.st_uid, original.st_gid) == 0 || errno == EPERM;
    if (!owned || ::chmod(rebuilt.c_str(), original.st_mode & 07777) != 0) {
        const int err = errno;
        removeRebuilt();
        throw RepairError(num::CannotOpenFile, "Não foi possível dar ao banco reparado as permissões de '" + path +
                                                   "': " + std::strerror(err));
    }
    if (::rename(rebuilt.c_str(), path.c_str()) != 0) {
        const int err = errno;
        removeRebuilt();
        throw RepairError(num::CannotOpenFile, "Não foi possível pôr o banco reparado no lugar de '" + path +
                                                   "': " + std::strerror(err));
    }
    flushFolder(target.parent_path(), path);
    return report;
}

// What the check of a file calls for: nothing, statistics and maps patched in
// place, or the whole file written anew from what can be read.
struct Diagnosis {
    std::unique_ptr<Database> db;  // open for patching, when the file opens
    CheckReport report;
    bool rewrite = false;
};

Diagnosis diagnose(const std::string& path) {
    Diagnosis d;
    try {
        d.db = Database::open(path);
    } catch (const JetError& e) {
        if (e.kind() != ErrorKind::Corruption) failOpen(e, path);
        d.rewrite = true;  // the catalog or a structure the open needs is damaged
        return d;
    }
    CheckOptions options;
    options.maxFindingsPerKind = static_cast<std::size_t>(-1);  // every stale count is needed
    try {
        d.report = Checker(*d.db, options).run();
    } catch (const JetError&) {
        d.rewrite = true;
        return d;
    }
    for (const Finding& f : d.report.findings)
        if (f.kind == FindingClass::Damage && !mendable(f)) d.rewrite = true;
    return d;
}

// Rewrites in place, under `path`, the counts and map bits the check found stale.
void patchInPlace(Database& db, const CheckReport& report, const std::string& path) {
    PagePatches patches(db);
    for (const Finding& f : report.findings) {
        if (!mendable(f)) continue;
        if (f.code == "used_page_marked_free") continue;  // from the full list below
        if (!f.page || !f.offset || !f.expected) continue;
        const TableDefinition* def = nullptr;
        if (*f.page == 2) def = &db.catalogDefinition();
        for (const TableEntry& t : db.tables())
            if (t.definition && t.definition->tdefPage.value == *f.page) def = &*t.definition;
        if (!def) throw RepairError(num::DatabaseDamaged, damageDescription(f));
        const auto [page, offset] = definitionByte(def->tdefPages, db.file().pageSize(), *f.offset);
        std::vector<std::uint8_t>& bytesOfPage = patches.page(page);
        bytes::putU32le(bytesOfPage, offset, static_cast<std::uint32_t>(*f.expected));
    }
    for (std::uint32_t p : report.usedPagesMarkedFree) {
        if (!markUsed(db, patches, PageNumber(p))) {
            Finding f;
            f.page = p;
            f.message = "a página está em uso mas o mapa global a marca como livre, fora do alcance que o reparo pode corrigir";
            throw RepairError(num::DatabaseDamaged, damageDescription(f));
        }
    }
    patches.write(path);
}

}  // namespace

RepairReport repairDatabase(const std::string& path) {
    Diagnosis d = diagnose(path);
    if (d.rewrite) {
        d.db.reset();  // the rewrite reads the file afresh
        return rewriteInPlace(path);
    }
    patchInPlace(*d.db, d.report, path);
    return {};
}

RepairReport repairDatabaseInto(const std::string& source, const std::string& destination) {
    Diagnosis d = diagnose(source);
    if (d.rewrite) {
        d.db.reset();
        return salvageInto(source, destination, source);
    }
    d.db.reset();
    std::error_code ec;
    if (!std::filesystem::copy_file(source, destination, std::filesystem::copy_options::none, ec))
        throw RepairError(num::CannotOpenFile, "Não foi possível copiar '" + source + "' para '" + destination +
                                                   "': " + ec.message());
    try {
        std::unique_ptr<Database> copy = Database::open(destination);
        patchInPlace(*copy, d.report, destination);
        return {};
    } catch (...) {
        std::filesystem::remove(destination, ec);
        throw;
    }
}
std::uint64_t RepairReport::rowsDropped() const {
    std::uint64_t n = 0;
    for (const RepairItem& i : items)
        if (i.kind == RepairItem::Kind::RowDropped || i.kind == RepairItem::Kind::TableLost) n += i.count;
    return n;
}

std::uint64_t RepairReport::valuesChanged() const {
    std::uint64_t n = 0;
    for (const RepairItem& i : items)
        if (i.kind == RepairItem::Kind::ValueCut || i.kind == RepairItem::Kind::ValueNulled) ++n;
    return n;
}

std::size_t RepairReport::tablesAffected() const {
    std::set<std::string> names;
    for (const RepairItem& i : items) names.insert(i.table);
    return names.size();
}

}  // namespace jet

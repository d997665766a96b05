#include "inspect_commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>

#include "command_line.h"
#include "readable_database.h"
#include "jet/compact/compactor.h"
#include "jet/format/jet_error.h"
#include "jet/table/database.h"
#include "jet/table/salvage_cursor.h"
#include "jet/table/value.h"

namespace cli {

namespace {

std::vector<std::string> argumentsAfterName(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

// ---- info -------------------------------------------------------------------

struct PageCensus {
    std::set<std::uint32_t> claimed;
    std::uint64_t freePages = 0;
    std::uint64_t leakedPages = 0;
};

void claimMap(jet::Database& db, jet::RowPointer ref, PageCensus& census, bool withPages) {
    if (ref.page.isNull()) return;
    census.claimed.insert(ref.page.value);
    try {
        const jet::UsageMap map = jet::UsageMap::read(db.file(), db.layout(), ref);
        for (jet::PageNumber p : map.bitmapPages())
            if (!p.isNull()) census.claimed.insert(p.value);
        if (withPages)
            for (jet::PageNumber p : map.pages()) census.claimed.insert(p.value);
    } catch (const jet::JetError&) {
        // A damaged map claims nothing; `compactar check` reports it.
    }
}

std::string megabytes(std::uint64_t bytes) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return buf;
}

// Opens the database, or says on `err` why it cannot be read. The salvage open
// leaves out catalog rows that do not decode instead of failing.
std::unique_ptr<jet::Database> openOrReport(const std::string& path, std::ostream& err, bool salvage = false) {
    if (!readableDatabase(path, err)) return nullptr;
    try {
        return salvage ? jet::Database::openForSalvage(path) : jet::Database::open(path);
    } catch (const jet::JetError& e) {
        reportFailure(path, e, err);
        return nullptr;
    }
}

int info(const std::string& path, std::ostream& out, std::ostream& err) {
    const std::unique_ptr<jet::Database> db = openOrReport(path, err);
    if (!db) return kExitUnreadable;
    const jet::DatabaseHeader& h = db->header();
    const std::size_t pageSize = db->layout().pageSize;
    out << "Arquivo: " << path << "\n";
    out << "Versão: " << jet::formatVersionName(h.version) << " (" << h.engineName << ")\n";
    out << "Tamanho da página: " << pageSize << " bytes\n";
    out << "Páginas: " << db->pageCount() << " (" << db->file().fileSize() << " bytes)\n";
    if (db->file().fileSize() % pageSize != 0)
        out << "Atenção: o tamanho do arquivo não é múltiplo do tamanho da página\n";
    out << "Senha: " << (h.hasPassword ? "sim" : "não") << "\n";
    out << "Codificação: " << (h.isEncoded() ? "sim (páginas codificadas com a chave do banco)" : "não") << "\n";
    out << "Ordem de classificação: " << h.sortOrder;
    if (!h.isJet3()) out << " (versão " << static_cast<int>(h.sortOrderVersion) << ")";
    out << ", página de código " << h.codePage << "\n";

    PageCensus census;
    census.claimed.insert(0);
    census.claimed.insert(1);
    std::vector<bool> freePage(db->pageCount(), false);
    try {
        const jet::UsageMap global = db->globalFreeMap();
        for (jet::PageNumber p : global.pages()) {
            freePage[p.value] = true;
            ++census.freePages;
        }
        for (jet::PageNumber p : global.bitmapPages())
            if (!p.isNull()) census.claimed.insert(p.value);
    } catch (const jet::JetError& e) {
        err << "compactar: mapa de páginas livres ilegível: " << e.what() << "\n";
    }

    out << "\nTabelas (linhas, índices):\n";
    int failures = 0;
    for (const jet::TableEntry& t : db->tables()) {
        out << "  " << t.name() << (t.isSystem() ? " [sistema]" : "");
        if (!t.definition) {
            out << ": definição ilegível (" << t.definitionError << ")\n";
            ++failures;
            continue;
        }
        const jet::TableDefinition& def = *t.definition;
        for (jet::PageNumber p : def.tdefPages) census.claimed.insert(p.value);
        claimMap(*db, def.ownedPagesMap, census, true);
        claimMap(*db, def.freeSpaceMap, census, false);
        for (const jet::PhysicalIndex& ix : def.physicalIndexes) claimMap(*db, ix.usageMap, census, true);
        for (const jet::LongValueMaps& lv : def.longValueMaps) {
            claimMap(*db, lv.ownedPages, census, true);
            claimMap(*db, lv.freeSpacePages, census, false);
        }
        std::uint64_t rows = 0;
        try {
            // Each row's fields and long-value descriptors are decoded, so the count
            // stops where a dump of the table would.
            jet::TableCursor cursor = db->cursor(t);
            while (cursor.next()) {
                ++rows;
                const jet::RowFields& fields = cursor.fields();
                for (std::size_t i = 0; i < def.columns.size(); ++i) {
                    if (def.columns[i].storesLongValue() && fields.fields[i].present)
                        (void)jet::LongValueDescriptor::parse(fields.fields[i].bytes, {});
                }
            }
            out << ": " << rows << " linhas";
            if (rows != def.rowCount) out << " (a definição diz " << def.rowCount << ")";
        } catch (const jet::JetError& e) {
            out << ": leitura interrompida após " << rows << " linhas (" << e.what() << ")";
            ++failures;
        }
        out << ", " << def.logicalIndexCount << " índices";
        if (def.physicalIndexCount != def.logicalIndexCount) out << " (" << def.physicalIndexCount << " árvores)";
        out << "\n";
    }

    for (std::uint32_t p = 0; p < db->pageCount(); ++p)
        if (!freePage[p] && census.claimed.count(p) == 0) ++census.leakedPages;

    out << "\nPáginas livres: " << census.freePages << "\n";
    out << "Páginas perdidas (nem livres nem usadas por nenhuma estrutura): " << census.leakedPages << "\n";
    // The compactor's own layout, nothing written: what compacting would reclaim.
    try {
        const std::uint32_t compacted = jet::compactedPageCount(path);
        const std::uint64_t reclaimable =
            db->pageCount() > compacted ? std::uint64_t{db->pageCount() - compacted} * pageSize : 0;
        out << "Espaço recuperável estimado: " << megabytes(reclaimable) << " (" << reclaimable << " bytes)\n";
        out << "  a cópia compactada teria " << compacted << " das " << db->pageCount() << " páginas\n";
    } catch (const std::exception& e) {
        out << "Espaço recuperável estimado: desconhecido, a compactação recusaria o arquivo (" << e.what() << ")\n";
    }
    return failures == 0 ? kExitSuccess : kExitFailure;
}

// ---- dump -------------------------------------------------------------------

enum class DumpFormat { Tsv, Json };

void appendTsvField(std::string& line, const std::string& text) {
    for (char c : text) {
        switch (c) {
            case '\t': line += "\\t"; break;
            case '\n': line += "\\n"; break;
            case '\r': line += "\\r"; break;
            case '\\': line += "\\\\"; break;
            default: line.push_back(c);
        }
    }
}

// Writes a table's rows in `format`, the header first and the footer last.
class TableWriter {
public:
    TableWriter(const jet::TableEntry& table, DumpFormat format, std::ostream& out)
        : columns_(table.definition->columnsByNumber()), format_(format), out_(out) {
        std::string line;
        if (format_ == DumpFormat::Json) {
            line = "{\"table\":";
            jet::appendJsonString(line, table.name());
            line += ",\"columns\":[";
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                if (i) line += ',';
                line += "{\"name\":";
                jet::appendJsonString(line, columns_[i]->name);
                line += ",\"type\":";
                jet::appendJsonString(line, jet::columnTypeName(columns_[i]->resultType != 0 ? columns_[i]->resultType
                                                                                             : columns_[i]->type));
                line += '}';
            }
            line += "],\"rows\":[";
        } else {
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                if (i) line += '\t';
                appendTsvField(line, columns_[i]->name);
            }
            line += '\n';
        }
        out_ << line;
    }
    ~TableWriter() {
        if (format_ == DumpFormat::Json) out_ << (first_ ? "]}\n" : "\n]}\n");
    }

    // `valueOf(column)` gives the value of a column of the row.
    template <typename ValueOf>
    void row(ValueOf&& valueOf) {
        line_.clear();
        if (format_ == DumpFormat::Json) {
            line_ += first_ ? "\n[" : ",\n[";
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                if (i) line_ += ',';
                jet::appendJson(line_, valueOf(*columns_[i]));
            }
            line_ += ']';
        } else {
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                if (i) line_ += '\t';
                const jet::Value v = valueOf(*columns_[i]);
                if (jet::isNull(v)) line_ += "\\N";
                else appendTsvField(line_, jet::canonicalText(v));
            }
            line_ += '\n';
        }
        first_ = false;
        out_ << line_;
    }

private:
    std::vector<const jet::Column*> columns_;
    DumpFormat format_;
    std::ostream& out_;
    std::string line_;
    bool first_ = true;
};

// "a página 12 ... não é mais uma página de dados dela", or the plural.
std::string lostPages(const std::vector<jet::PageNumber>& pages) {
    const bool one = pages.size() == 1;
    std::string text = one ? "a página " : "as páginas ";
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i) text += i + 1 == pages.size() ? " e " : ", ";
        text += std::to_string(pages[i].value);
    }
    return text + (one ? " do mapa de uso da tabela não é mais uma página de dados dela; as linhas que tinha ficaram "
                         "de fora"
                       : " do mapa de uso da tabela não são mais páginas de dados dela; as linhas que tinham ficaram "
                         "de fora");
}

bool reportUnreadableDefinition(const std::string& path, const jet::TableEntry& table, std::ostream& err) {
    err << "compactar: " << path << ": a tabela " << table.name() << " não pôde ser lida: " << table.definitionError
        << "\n";
    return false;
}

// Writes one table; returns false after saying on `err`, in one line, why the
// table could not be read whole. The rows before a bad row are kept, and rows of
// a page that is no longer the table's are missing.
bool dumpTable(jet::Database& db, const std::string& path, const jet::TableEntry& table, DumpFormat format,
               std::ostream& out, std::ostream& err) {
    if (!table.definition) return reportUnreadableDefinition(path, table, err);
    std::vector<std::string> problems;
    std::uint64_t rows = 0;
    {
        TableWriter writer(table, format, out);
        std::optional<jet::TableCursor> cursor;
        const jet::Column* decoding = nullptr;  // set while a value of a sound row is read
        try {
            cursor.emplace(db.cursor(table));
            while (cursor->next()) {
                cursor->fields();  // a row that does not split is damaged as a whole
                writer.row([&](const jet::Column& c) {
                    decoding = &c;
                    return cursor->value(c.blockIndex);
                });
                decoding = nullptr;
                ++rows;
            }
        } catch (const jet::JetError& e) {
            // The engine's word for damage is only "danificado": what was being read says more.
            const bool damage = e.kind() == jet::ErrorKind::Corruption;
            std::optional<std::uint32_t> page = e.location().page;
            std::optional<int> row = e.location().row;
            std::string cause;
            if (decoding) {
                // Say where the table's row is; a long value's own rows may lie elsewhere.
                page = cursor->location().page.value;
                row = cursor->location().row;
                cause = "o valor da coluna " + decoding->name + " não pôde ser lido";
                if (!damage) cause += ": " + e.userMessage();
                else if (e.location().page && *e.location().page != *page)
                    cause += " (a página " + std::to_string(*e.location().page) + " está danificada)";
            } else {
                cause = !damage ? e.userMessage()
                        : row   ? "a linha está danificada e não pôde ser lida"
                                : "a página está danificada e não pôde ser lida";
            }
            std::string where;
            if (page) where += " na página " + std::to_string(*page);
            if (row) where += ", linha " + std::to_string(*row);
            problems.push_back("a leitura parou" + where + ", depois de " + std::to_string(rows) + " linhas: " +
                               cause + " (dump --salvage lê o que vem depois)");
        }
        if (cursor && !cursor->skippedPages().empty())
            problems.insert(problems.begin(), lostPages(cursor->skippedPages()));
    }
    if (problems.empty()) return true;
    err << "compactar: " << path << ": a tabela " << table.name() << " não foi lida inteira: ";
    for (std::size_t i = 0; i < problems.size(); ++i) err << (i ? "; " : "") << problems[i];
    err << "\n";
    return false;
}

// "compactar: ARQUIVO: tabela T, página P, linha R, coluna C: what was left out".
void reportLoss(const std::string& path, const jet::SalvageItem& item, std::ostream& err) {
    const std::string where = item.where();
    err << "compactar: " << path << ": tabela " << item.table << (where.empty() ? "" : ", ") << where << ": "
        << item.description << "\n";
}

// Writes one table read the way a repair reads it: every row that decodes, a
// Memo cut where its chain broke, other damaged long values as NULL. Returns
// false when anything was left out, each loss reported on `err`.
bool salvageTable(jet::Database& db, const std::string& path, const jet::TableEntry& table, DumpFormat format,
                  std::ostream& out, std::ostream& err) {
    if (!table.definition) return reportUnreadableDefinition(path, table, err);
    const jet::TableDefinition& def = *table.definition;
    jet::SalvageCursor cursor = jet::SalvageCursor::overTable(db.file(), db.layout(), db.values(), def);
    bool ok = true;
    try {
        TableWriter writer(table, format, out);
        while (cursor.next()) {
            writer.row([&](const jet::Column& c) -> jet::Value {
                for (const jet::DamagedLongValue& d : cursor.damagedValues())
                    if (d.column == c.blockIndex && !d.nulled) return db.values().decodeText(d.kept, c.codePage);
                return cursor.value(c.blockIndex);
            });
        }
    } catch (const jet::JetError& e) {
        // The cursor checks every row before giving it; this is a read the system refused.
        err << "compactar: " << path << ": a tabela " << table.name() << " não foi lida inteira: " << e.what() << "\n";
        ok = false;
    }
    for (const jet::SalvageItem& item : cursor.losses()) reportLoss(path, item, err);
    return ok && cursor.losses().empty();
}

int dumpUsage(std::ostream& err, const std::string& problem) {
    err << "compactar: " << problem << "\n"
        << "uso: compactar dump ARQUIVO [--table NOME] [--format tsv|json] [--output PASTA] [--salvage]\n";
    return kExitUsage;
}

}  // namespace

std::string escapeFileName(const std::string& name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool escape = c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == '%' || (i == 0 && c == '.');
        if (escape) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string unescapeFileName(const std::string& fileName) {
    auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < fileName.size(); ++i) {
        if (fileName[i] == '%' && i + 2 < fileName.size() + 0 && hexValue(fileName[i + 1]) >= 0 &&
            hexValue(fileName[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(fileName[i + 1]) * 16 + hexValue(fileName[i + 2])));
            i += 2;
        } else {
            out.push_back(fileName[i]);
        }
    }
    return out;
}

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1) {
        err << "uso: compactar info ARQUIVO\n";
        return kExitUsage;
    }
    return info(args[0], out, err);
}

int runDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string path, tableName, outputDir;
    bool haveTable = false, salvage = false;
    DumpFormat format = DumpFormat::Tsv;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* option) -> const std::string* {
            if (i + 1 >= args.size()) return nullptr;
            (void)option;
            return &args[++i];
        };
        if (a == "--table") {
            const std::string* v = value("--table");
            if (!v) return dumpUsage(err, "--table precisa de um nome");
            tableName = *v;
            haveTable = true;
        } else if (a == "--format") {
            const std::string* v = value("--format");
            if (!v || (*v != "tsv" && *v != "json")) return dumpUsage(err, "--format aceita tsv ou json");
            format = *v == "json" ? DumpFormat::Json : DumpFormat::Tsv;
        } else if (a == "--output") {
            const std::string* v = value("--output");
            if (!v) return dumpUsage(err, "--output precisa de uma pasta");
            outputDir = *v;
        } else if (a == "--salvage") {
            salvage = true;
        } else if (path.empty() && (a.empty() || a[0] != '-' || a == "-")) {
            path = a;
        } else {
            return dumpUsage(err, "argumento inesperado: " + a);
        }
    }
    if (path.empty()) return dumpUsage(err, "falta o arquivo do banco de dados");
    if (!haveTable && outputDir.empty())
        return dumpUsage(err, "indique --table NOME (saída padrão) ou --output PASTA (todas as tabelas)");

    const std::unique_ptr<jet::Database> db = openOrReport(path, err, salvage);
    if (!db) return kExitUnreadable;
    const auto dumpOne = [&](const jet::TableEntry& t, std::ostream& stream) {
        return salvage ? salvageTable(*db, path, t, format, stream, err) : dumpTable(*db, path, t, format, stream, err);
    };

    std::vector<const jet::TableEntry*> chosen;
    if (haveTable) {
        const jet::TableEntry* t = db->findTable(tableName);
        if (!t) {
            // Its catalog row may be one the salvage open left out.
            for (const jet::SalvageItem& item : db->catalogLosses()) reportLoss(path, item, err);
            err << "compactar: a tabela " << tableName << " não existe em " << path << "\n";
            return kExitFailure;
        }
        chosen.push_back(t);
    } else {
        for (const jet::TableEntry& t : db->tables()) chosen.push_back(&t);
    }
    // Catalog rows the open left out; a dump of the catalog itself lists them anyway.
    bool ok = db->catalogLosses().empty();
    const bool catalogDumped = std::any_of(chosen.begin(), chosen.end(), [](const jet::TableEntry* t) {
        return t->definition && t->definition->tdefPage == jet::PageNumber(2);
    });
    if (!catalogDumped)
        for (const jet::SalvageItem& item : db->catalogLosses()) reportLoss(path, item, err);

    if (outputDir.empty()) return dumpOne(*chosen.front(), out) && ok ? kExitSuccess : kExitFailure;

    std::error_code ec;
    std::filesystem::create_directories(outputDir, ec);
    if (ec) {
        err << "compactar: não foi possível criar a pasta " << outputDir << ": " << ec.message() << "\n";
        return kExitFailure;
    }
    const char* extension = format == DumpFormat::Json ? ".json" : ".tsv";
    for (const jet::TableEntry* t : chosen) {
        const std::filesystem::path file = std::filesystem::path(outputDir) / (escapeFileName(t->name()) + extension);
        std::ofstream stream(file, std::ios::binary | std::ios::trunc);
        if (!stream) {
            err << "compactar: não foi possível criar " << file.string() << "\n";
            ok = false;
            continue;
        }
        ok = dumpOne(*t, stream) && ok;
        stream.close();
        if (!stream) {
            err << "compactar: erro ao gravar " << file.string() << "\n";
            ok = false;
        }
    }
    return ok ? kExitSuccess : kExitFailure;
}

int runInfo(int argc, char** argv) { return runInfo(argumentsAfterName(argc, argv), std::cout, std::cerr); }
int runDump(int argc, char** argv) { return runDump(argumentsAfterName(argc, argv), std::cout, std::cerr); }

}  // namespace cli

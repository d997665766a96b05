#include "repair_commands.h"

#include <iostream>
#include <string_view>

#include "exit_status.h"
#include "jet/repair/repair.h"
#include "jet/table/value.h"
#include "readable_database.h"

namespace cli {

namespace {

std::string_view kindName(jet::RepairItem::Kind kind) {
    using Kind = jet::RepairItem::Kind;
    switch (kind) {
        case Kind::RowDropped: return "row_dropped";
        case Kind::ValueCut: return "value_cut";
        case Kind::ValueNulled: return "value_nulled";
        case Kind::TableLost: return "table_lost";
        case Kind::TableRenamed: return "table_renamed";
        case Kind::RowsSetAside: return "rows_set_aside";
        case Kind::CatalogRowLost: return "catalog_row_lost";
        case Kind::PageLost: return "page_lost";
        case Kind::RelationDropped: return "relation_dropped";
        case Kind::ColumnRetyped: return "column_retyped";
    }
    return "unknown";
}

}  // namespace

// "Clientes, página 12, linha 3, coluna Notas: ..."
std::string repairItemLine(const jet::RepairItem& item) {
    const std::string where = item.where();
    return (item.table.empty() ? std::string("(banco de dados)") : item.table) + (where.empty() ? "" : ", ") + where +
           ": " + item.description;
}

std::string repairSummaryLine(const jet::RepairReport& report) {
    std::uint32_t pagesLost = 0;
    for (const jet::RepairItem& item : report.items)
        if (item.kind == jet::RepairItem::Kind::PageLost) ++pagesLost;
    std::string line = std::to_string(report.rowsDropped()) + " linhas descartadas, " +
                       std::to_string(report.valuesChanged()) + " valores alterados";
    if (pagesLost) line += ", " + std::to_string(pagesLost) + " páginas de dados ilegíveis";
    return line + ", em " + std::to_string(report.tablesAffected()) + " tabelas";
}

namespace {

void printJson(const jet::RepairReport& report, const std::string& source, const std::string& destination,
               std::ostream& out) {
    std::string j = "{\"source\":";
    jet::appendJsonString(j, source);
    j += ",\"destination\":";
    jet::appendJsonString(j, destination);
    j += ",\"rewritten\":";
    j += report.rewritten ? "true" : "false";
    j += ",\"rows_dropped\":" + std::to_string(report.rowsDropped());
    j += ",\"values_changed\":" + std::to_string(report.valuesChanged());
    j += ",\"tables_affected\":" + std::to_string(report.tablesAffected());
    j += ",\"items\":[";
    for (std::size_t i = 0; i < report.items.size(); ++i) {
        const jet::RepairItem& item = report.items[i];
        if (i) j += ',';
        j += "{\"kind\":\"" + std::string(kindName(item.kind)) + "\",\"table\":";
        jet::appendJsonString(j, item.table);
        j += ",\"page\":" + (item.page ? std::to_string(*item.page) : std::string("null"));
        j += ",\"row\":" + (item.row ? std::to_string(*item.row) : std::string("null"));
        j += ",\"column\":";
        if (item.column.empty()) j += "null";
        else jet::appendJsonString(j, item.column);
        j += ",\"count\":" + std::to_string(item.count);
        j += ",\"description\":";
        jet::appendJsonString(j, item.description);
        j += '}';
    }
    out << j << "]}\n";
}

}  // namespace

int runRepair(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> paths;
    bool json = false;
    for (const std::string& a : args) {
        if (a == "--json") json = true;
        else paths.push_back(a);
    }
    if (paths.size() != 2 || paths[0].empty() || paths[1].empty()) {
        err << "uso: compactar repair ORIGEM DESTINO [--json]\n";
        return kExitUsage;
    }
    if (!readableDatabase(paths[0], err)) return kExitUnreadable;
    jet::RepairReport report;
    try {
        report = jet::repairDatabaseInto(paths[0], paths[1]);
    } catch (const jet::RepairError& e) {
        err << "compactar: Erro " << e.number() << " - " << e.what() << '\n';
        return e.number() == jet::error_number::UnrecognisedFormat ||
                       e.number() == jet::error_number::EncryptedOrPassword
                   ? kExitUnreadable
                   : kExitFailure;
    } catch (const std::exception& e) {
        reportFailure(paths[0], e, err);
        return kExitFailure;
    }
    if (json) {
        printJson(report, paths[0], paths[1], out);
        return kExitSuccess;
    }
    for (const jet::RepairItem& item : report.items) out << repairItemLine(item) << '\n';
    if (report.items.empty())
        out << (report.rewritten ? "Banco reparado sem perda de dados: " : "Nada a reparar além de estatísticas: ")
            << paths[1] << '\n';
    else
        out << "Banco reparado: " << paths[1] << "; " << repairSummaryLine(report) << '\n';
    return kExitSuccess;
}

int runRepair(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return runRepair(args, std::cout, std::cerr);
}

}  // namespace cli

// compactar check's outputs as scripts read them: the built program on copies of
// real Access files, its JSON read back by Python's json module (a parser of its
// own, not ours), the text summary's counts set against it, --quiet silent.
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "damaged_copy.h"
#include "program_run.h"
#include "temp_folder.h"

namespace {

using testing_support::ProgramRun;
using testing_support::runProgram;
using testing_support::TempFolder;
using testing_support::writeFile;

constexpr const char* kPython = "/usr/bin/python3";

// What the JSON says, one fact a line, tab-separated: the document is loaded
// whole by json.load, so anything that is not one valid JSON document fails here.
constexpr const char* kReadJson = R"PY(
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
s = d["summary"]
print("damaged", "yes" if d["damaged"] else "no", sep="\t")
print("summary", s["damage"], s["leak"], s["stale"], s["unverified"], sep="\t")
print("pages", d["pages"], d["free_pages"], d["leaked_pages"], sep="\t")
def show(v):
    return "-" if v is None else str(v)
for f in d["findings"]:
    print("finding", f["code"], f["class"], show(f["page"]), show(f["table"]), f["occurrences"],
          f["text"], f["line"], sep="\t")
)PY";

struct JsonFinding {
    std::string code, kind, page, table, text, line;
    std::uint64_t occurrences = 0;
};

struct CheckJson {
    bool damaged = false;
    std::map<std::string, std::uint64_t> summary;  // by class code
    std::uint64_t pages = 0, freePages = 0, leakedPages = 0;
    std::vector<JsonFinding> findings;
};

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) out.push_back(cell);
    return out;
}

// Parses `json` with Python; fails the test when it is not valid JSON of that shape.
CheckJson readCheckJson(const std::string& json, const TempFolder& scratch) {
    const std::string file = scratch / "check.json";
    const std::string script = scratch / "read_check.py";
    writeFile(file, json);
    writeFile(script, kReadJson);
    const ProgramRun py = runProgram(kPython, {script, file}, scratch);
    EXPECT_EQ(py.status, 0) << py.err << "\n" << json.substr(0, 2000);
    CheckJson out;
    std::stringstream lines(py.out);
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = fields(line);
        if (f.empty()) continue;
        if (f[0] == "damaged" && f.size() == 2) out.damaged = f[1] == "yes";
        if (f[0] == "summary" && f.size() == 5) {
            out.summary["damage"] = std::stoull(f[1]);
            out.summary["leak"] = std::stoull(f[2]);
            out.summary["stale"] = std::stoull(f[3]);
            out.summary["unverified"] = std::stoull(f[4]);
        }
        if (f[0] == "pages" && f.size() == 4) {
            out.pages = std::stoull(f[1]);
            out.freePages = std::stoull(f[2]);
            out.leakedPages = std::stoull(f[3]);
        }
        if (f[0] == "finding" && f.size() == 8)
            out.findings.push_back({f[1], f[2], f[3], f[4], f[6], f[7], std::stoull(f[5])});
    }
    return out;
}

std::uint64_t occurrencesOf(const CheckJson& j, const std::string& kind) {
    std::uint64_t n = 0;
    for (const JsonFinding& f : j.findings)
        if (f.kind == kind) n += f.occurrences;
    return n;
}

// "1 dano" / "12 danos" as the text summary writes it.
std::string counted(std::uint64_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

ProgramRun compactar(const std::vector<std::string>& arguments, const TempFolder& scratch) {
    return runProgram(COMPACTAR_BINARY, arguments, scratch);
}

class CheckOutput : public ::testing::Test {
protected:
    CheckOutput() { writeFile(source, original); }

    TempFolder scratch;
    std::string source = scratch / "loja.mdb";
    std::string original = testing_support::corpusFile("jet4/testV2003.mdb");
};

TEST_F(CheckOutput, ASoundFileGivesJsonWithoutFindingsAndExitsZero) {
    const std::string sound = scratch / "codigos.mdb";
    writeFile(sound, testing_support::corpusFile("jet3/testIndexCodesV1997.mdb"));
    const ProgramRun run = compactar({"check", sound, "--json"}, scratch);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    const CheckJson j = readCheckJson(run.out, scratch);
    EXPECT_FALSE(j.damaged);
    EXPECT_TRUE(j.findings.empty()) << j.findings.front().line;
    for (const auto& [kind, n] : j.summary) EXPECT_EQ(n, 0u) << kind;
    EXPECT_GT(j.pages, 200u);
}

TEST_F(CheckOutput, ACompactedFileHasNoDamageNorLeakNorFreePage) {
    const std::string compacted = scratch / "compacto.mdb";
    const ProgramRun compact = compactar({"compact", source, compacted}, scratch);
    ASSERT_EQ(compact.status, 0) << compact.out << compact.err;

    const ProgramRun run = compactar({"check", compacted, "--json"}, scratch);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const CheckJson j = readCheckJson(run.out, scratch);
    EXPECT_FALSE(j.damaged);
    EXPECT_EQ(j.summary.at("damage"), 0u);
    EXPECT_EQ(j.summary.at("leak"), 0u);
    // What compaction keeps on purpose: navigation-pane rows naming deleted objects.
    for (const JsonFinding& f : j.findings) EXPECT_EQ(f.code, "navpane_dangling_id") << f.line;
    EXPECT_GT(j.pages, 0u);
    EXPECT_EQ(j.freePages, 0u);
    EXPECT_EQ(j.leakedPages, 0u);
}

TEST_F(CheckOutput, TheSoundSourceGivesTheSameFindingsAsJsonAndAsText) {
    const ProgramRun json = compactar({"check", "--json", source}, scratch);
    EXPECT_EQ(json.status, 0) << json.out << json.err;
    const CheckJson j = readCheckJson(json.out, scratch);
    EXPECT_FALSE(j.damaged);
    EXPECT_EQ(j.summary.at("damage"), 0u);

    const ProgramRun text = compactar({"check", source}, scratch);
    EXPECT_EQ(text.status, 0) << text.out << text.err;
    std::string listed;
    for (const JsonFinding& f : j.findings) listed += f.line + "  {" + f.code + "}\n";
    EXPECT_EQ(text.out.substr(0, listed.size()), listed);
    EXPECT_NE(text.out.find("Nenhum dano encontrado."), std::string::npos) << text.out;
}

TEST_F(CheckOutput, ADamagedCopyNamesTheZeroedPageInJsonAndExitsOne) {
    const std::size_t victim = testing_support::aDataPageOfTheBusiestTable(original, 4096);
    ASSERT_NE(victim, 0u) << "no data page of a user table found";
    const std::string damaged = scratch / "danificado.mdb";
    writeFile(damaged, testing_support::withPageZeroed(original, victim, 4096));

    const ProgramRun run = compactar({"check", damaged, "--json"}, scratch);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    const CheckJson j = readCheckJson(run.out, scratch);
    EXPECT_TRUE(j.damaged);
    const JsonFinding* zeroed = nullptr;
    for (const JsonFinding& f : j.findings)
        if (f.code == "owned_page_not_data" && f.page == std::to_string(victim)) zeroed = &f;
    ASSERT_NE(zeroed, nullptr) << run.out.substr(0, 3000);
    EXPECT_EQ(zeroed->kind, "damage");
    EXPECT_NE(zeroed->table, "-");
    EXPECT_NE(zeroed->text.find("página zerada"), std::string::npos) << zeroed->text;
    EXPECT_EQ(zeroed->line, "[dano] tabela " + zeroed->table + ", página " + std::to_string(victim) + ": " +
                                zeroed->text);
    // The summary counts what was found, those past the listing's cap too.
    for (const char* kind : {"damage", "leak", "stale", "unverified"})
        EXPECT_EQ(j.summary.at(kind), occurrencesOf(j, kind)) << kind;
    EXPECT_GT(j.summary.at("damage"), 0u);

    const ProgramRun text = compactar({"check", damaged}, scratch);
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("Encontrados: " + counted(j.summary.at("damage"), "dano", "danos") + ", "),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("O banco de dados está danificado."), std::string::npos) << text.out;
}

// What a page's own bytes make it, as the check names it.
std::string pageKindOf(const std::string& bytes, std::size_t page) {
    const std::size_t at = page * 4096;
    switch (static_cast<unsigned char>(bytes.at(at))) {
        case 0x01: return bytes.substr(at + 4, 4) == "LVAL" ? "página de valores longos" : "página de dados";
        case 0x02: return "página de definição de tabela";
        case 0x03: return "página de índice (nó intermediário)";
        case 0x04: return "página de índice (folha)";
        case 0x05: return "página de mapa de uso";
    }
    return "página de tipo desconhecido (" + std::to_string(static_cast<unsigned char>(bytes.at(at))) + ")";
}

TEST_F(CheckOutput, TheSummaryCountsLeakedPagesPastTheListingCapAndEachIsNamedByItsType) {
    // This file, as Access left it, holds hundreds of pages no structure uses.
    const ProgramRun json = compactar({"check", "--json", source}, scratch);
    const CheckJson j = readCheckJson(json.out, scratch);
    ASSERT_GT(j.leakedPages, 300u) << json.out.substr(0, 2000);
    std::uint64_t leakedFindings = 0, listed = 0;
    for (const JsonFinding& f : j.findings) {
        if (f.code != "leaked_page") continue;
        leakedFindings += f.occurrences;
        if (f.page == "-") continue;  // the line standing for those past the cap
        ++listed;
        EXPECT_EQ(f.text, pageKindOf(original, std::stoull(f.page)) +
                              " perdida: não está livre nem é usada por nenhuma estrutura");
    }
    EXPECT_GT(leakedFindings, listed);
    EXPECT_EQ(j.summary.at("leak"), occurrencesOf(j, "leak"));

    const ProgramRun text = compactar({"check", source}, scratch);
    EXPECT_EQ(text.status, json.status);
    const std::string expected = counted(j.summary.at("leak"), "vazamento de espaço", "vazamentos de espaço") + " (" +
                                 counted(j.leakedPages, "página perdida", "páginas perdidas") + ")";
    EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out.substr(text.out.size() - 600);
    EXPECT_NE(text.out.find("mais " + std::to_string(leakedFindings - listed) +
                            " ocorrências deste problema não foram listadas  {leaked_page}"),
              std::string::npos);
}

TEST_F(CheckOutput, QuietPrintsNothingAndKeepsTheExitStatus) {
    ProgramRun run = compactar({"check", "--quiet", source}, scratch);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");

    const std::string damaged = scratch / "danificado.mdb";
    writeFile(damaged, testing_support::withADataPageZeroed(original, 4096));
    run = compactar({"check", damaged, "--quiet"}, scratch);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");

    const std::string text = scratch / "texto.mdb";
    writeFile(text, std::string(10000, 'x'));
    run = compactar({"check", "--quiet", text}, scratch);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
}

TEST_F(CheckOutput, BadUsageExitsTwoOnStandardError) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"check", source, "--json", "--quiet"},
             {"check", source, "--csv"},
             {"check"},
             {"check", source, source},
         }) {
        const ProgramRun run = compactar(args, scratch);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_EQ(run.out, "") << args.back();
        EXPECT_NE(run.err.find("uso: compactar check ARQUIVO [--json | --quiet]"), std::string::npos) << run.err;
    }
}

}  // namespace

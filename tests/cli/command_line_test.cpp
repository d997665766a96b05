// compactar's command line and its terminal sink, in-process.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "command_line.h"
#include "terminal_sink.h"

namespace {

using cli::CommandLine;

struct Outcome {
    int status;
    std::string out;
    std::string err;
    std::vector<std::string> ranPaths;
};

// Records what a subcommand was called with.
std::vector<std::string> g_subcommandArguments;

int recordArguments(int argc, char** argv) {
    g_subcommandArguments.assign(argv, argv + argc);
    return 7;
}

const cli::Subcommand kTable[] = {
    {"info", "info ARQUIVO", "mostra o cabeçalho do arquivo", recordArguments},
};

Outcome dispatch(std::vector<std::string> arguments, std::span<const cli::Subcommand> table = kTable) {
    Outcome outcome{};
    std::ostringstream out;
    std::ostringstream err;
    CommandLine commandLine(
        table,
        [&](const std::string& path) {
            outcome.ranPaths.push_back(path);
            return 1;
        },
        out, err);
    arguments.insert(arguments.begin(), "compactar");
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    outcome.status = commandLine.dispatch(static_cast<int>(arguments.size()), argv.data());
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

TEST(CommandLineTest, APathRunsTheProcedureOnIt) {
    const auto o = dispatch({"/dados/loja.mdb"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.ranPaths, std::vector<std::string>{"/dados/loja.mdb"});
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(dispatch({""}).ranPaths, std::vector<std::string>{""});
    EXPECT_EQ(dispatch({"-"}).ranPaths, std::vector<std::string>{"-"});
}

TEST(CommandLineTest, DoubleDashTakesAnyPathLiterally) {
    EXPECT_EQ(dispatch({"--", "--help"}).ranPaths, std::vector<std::string>{"--help"});
    EXPECT_EQ(dispatch({"--", "info"}).ranPaths, std::vector<std::string>{"info"});
    EXPECT_EQ(dispatch({"--"}).status, cli::kExitUsage);
    EXPECT_EQ(dispatch({"--", "a", "b"}).status, cli::kExitUsage);
}

TEST(CommandLineTest, BadUsageExitsWithTwoAndRunsNothing) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{{}, {"-x"}, {"--verbose", "a.mdb"}, {"a.mdb", "b.mdb"}}) {
        const auto o = dispatch(arguments);
        EXPECT_EQ(o.status, cli::kExitUsage);
        EXPECT_TRUE(o.ranPaths.empty());
        EXPECT_EQ(o.out, "");
        EXPECT_NE(o.err.find("Uso: compactar CAMINHO"), std::string::npos) << o.err;
    }
    EXPECT_NE(dispatch({"-x"}).err.find("opção desconhecida: -x"), std::string::npos);
}

TEST(CommandLineTest, HelpExplainsOnStandardOutputAndListsSubcommands) {
    for (const char* flag : {"--help", "-h"}) {
        const auto o = dispatch({flag});
        EXPECT_EQ(o.status, 0);
        EXPECT_TRUE(o.ranPaths.empty());
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.out.rfind("Uso: compactar CAMINHO\n", 0), 0u);
        EXPECT_NE(o.out.find("compactar info ARQUIVO"), std::string::npos);
        EXPECT_NE(o.out.find("  info\tmostra o cabeçalho do arquivo"), std::string::npos);
        EXPECT_NE(o.out.find("compactar CAMINHO: 0 concluído, 1 o arquivo não pôde ser reparado/compactado,\n"
                             "    2 uso incorreto, 128 mais o número do sinal (130 para Ctrl-C)"),
                  std::string::npos);
        EXPECT_NE(o.out.find("check: 0 nenhum dano encontrado, 1 danos encontrados, 2 uso incorreto,\n"
                             "    3 o arquivo não pode ser aberto ou não é um banco de dados."),
                  std::string::npos);
    }
    EXPECT_EQ(dispatch({"--help"}, {}).out.find("Subcomandos"), std::string::npos);
}

TEST(CommandLineTest, SubcommandsGetTheirOwnArguments) {
    g_subcommandArguments.clear();
    const auto o = dispatch({"info", "/dados/loja.mdb", "--tudo"});
    EXPECT_EQ(o.status, 7);
    EXPECT_TRUE(o.ranPaths.empty());
    EXPECT_EQ(g_subcommandArguments, (std::vector<std::string>{"info", "/dados/loja.mdb", "--tudo"}));
}

TEST(TerminalSinkTest, StatusOnErrorStreamMessagesOnOutputEndMeansSuccess) {
    std::ostringstream out;
    std::ostringstream err;
    cli::TerminalSink sink("/dados/loja.mdb", out, err);
    EXPECT_EQ(sink.readPathBox(), "/dados/loja.mdb");
    sink.setBusyPointer();
    sink.setStatus("Fazendo Copia de Seguranca para /p/compac01.mdb");
    sink.repaint();
    sink.showMessage("Processo Concluido.");
    sink.setStatus("");
    sink.setNormalPointer();
    EXPECT_FALSE(sink.ended());
    sink.endProgram();
    EXPECT_TRUE(sink.ended());
    EXPECT_EQ(err.str(), "Fazendo Copia de Seguranca para /p/compac01.mdb\n");
    EXPECT_EQ(out.str(), "Processo Concluido.\n");
}

}  // namespace

#include "command_line.h"

#include <string_view>
#include <utility>

namespace cli {

CommandLine::CommandLine(std::span<const Subcommand> subcommands, PathRunner runPath, std::ostream& out,
                         std::ostream& err)
    : subcommands_(subcommands), runPath_(std::move(runPath)), out_(out), err_(err) {}

int CommandLine::dispatch(int argc, char** argv) {
    if (argc < 2) return usageError("falta o caminho do banco de dados.");
    const std::string_view first = argv[1];
    if (first == "--help" || first == "-h") {
        printHelp(out_);
        return kExitSuccess;
    }
    if (first == "--") {
        if (argc != 3) return usageError("depois de -- vem exatamente um caminho.");
        return runPath_(argv[2]);
    }
    for (const Subcommand& subcommand : subcommands_) {
        if (first == subcommand.name) return subcommand.run(argc - 1, argv + 1);
    }
    if (first.size() > 1 && first.front() == '-') {
        return usageError("opção desconhecida: " + std::string(first));
    }
    if (argc != 2) return usageError("um banco de dados por vez.");
    return runPath_(argv[1]);
}

int CommandLine::usageError(const std::string& problem) {
    err_ << "compactar: " << problem << "\n";
    err_ << "Uso: compactar CAMINHO   (compactar --help explica)\n";
    return kExitUsage;
}

void CommandLine::printHelp(std::ostream& stream) const {
    stream << "Uso: compactar CAMINHO\n"
              "     compactar -- CAMINHO\n";
    for (const Subcommand& subcommand : subcommands_) stream << "     compactar " << subcommand.usage << "\n";
    stream << "     compactar --help\n"
              "\n"
              "Repara e compacta o banco de dados Access/Jet em CAMINHO (.mdb, .accdb), com a\n"
              "mesma sequência protegida do botão \"Compactar\" da janela: apaga os arquivos\n"
              "temporários compac01.mdb, compac02.mdb e compac03.mdb da pasta do programa, faz\n"
              "a cópia de segurança em compac01.mdb, move o banco para compac02.mdb, repara-o,\n"
              "compacta-o em compac03.mdb e o move de volta para CAMINHO. Em qualquer falha a\n"
              "cópia de segurança volta para CAMINHO.\n"
              "\n"
              "A pasta do programa é a pasta deste executável; quando ela não pode ser escrita\n"
              "ou é a de um programa instalado (em /usr, /opt, /bin, /sbin, ou de outro\n"
              "usuário), é $XDG_DATA_HOME/compactador (ou ~/.local/share/compactador).\n"
              "\n"
              "O andamento sai em linhas no erro padrão; as mensagens, na saída padrão. Nada é\n"
              "perguntado. Use -- antes de um CAMINHO que comece com - ou tenha o nome de um\n"
              "subcomando.\n";
    if (!subcommands_.empty()) {
        stream << "\nSubcomandos:\n";
        for (const Subcommand& subcommand : subcommands_) {
            stream << "  " << subcommand.name << "\t" << subcommand.summary << "\n";
        }
    }
    stream << "\n"
              "Estado de saída:\n"
              "  compactar CAMINHO: 0 concluído, 1 o arquivo não pôde ser reparado/compactado,\n"
              "    2 uso incorreto, 128 mais o número do sinal (130 para Ctrl-C) quando SIGINT,\n"
              "    SIGTERM, SIGHUP ou SIGQUIT interrompeu o processo; se o banco de dados já\n"
              "    estava fora do seu lugar, a cópia de segurança voltou para CAMINHO antes.\n"
              "  check: 0 nenhum dano encontrado, 1 danos encontrados, 2 uso incorreto,\n"
              "    3 o arquivo não pode ser aberto ou não é um banco de dados.\n"
              "  info, dump, compact: 0 concluído, 1 falhou ou foi feito só em parte (uma tabela\n"
              "    ilegível, a compactação recusada), 2 uso incorreto, 3 o arquivo não pode ser\n"
              "    aberto ou não é um banco de dados. dump sai com 1 quando uma tabela não pôde\n"
              "    ser lida inteira (uma linha no erro padrão por tabela diz onde e por quê; as\n"
              "    outras tabelas são exportadas mesmo assim); com --salvage, quando alguma\n"
              "    linha, página ou valor ficou de fora (cada perda numa linha do erro padrão).\n"
              "  repair: 0 nada a reparar ou reparado (o que não pôde ser mantido é listado),\n"
              "    1 nada pôde ser salvo, 2 uso incorreto, 3 o arquivo não pode ser aberto ou não\n"
              "    é um banco de dados.\n"
              "Os erros saem no erro padrão. Só arquivos comuns são abertos: uma pasta, um pipe,\n"
              "um dispositivo ou um socket é recusado logo, com o estado 3.\n";
}

}  // namespace cli

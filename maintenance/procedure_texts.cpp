#include "procedure_texts.h"

#include <cstdio>

namespace maintenance::texts {

std::string sourceMissing(const std::string& source) {
    return "O Arquivo " + source + " Não Existe. Selecione Outro.";
}

std::string scratchNotRemovable(int number) {
    return "O Arquivo Temporario " + std::to_string(number) +
           " Não pode ser apagado para inicio do processo. Pode estar em uso por outro processo.";
}

std::string backingUp(const std::string& backup) { return "Fazendo Copia de Seguranca para " + backup; }

std::string backupNotCreated() {
    return "O Arquivo de Segurança Não Pode Ser Criado. O Arquivo Principal pode estar em uso.";
}

std::string settingAside(const std::string& setAside) { return "Renoemando Arquivo para " + setAside; }

std::string notSetAside() {
    return "Erro No Processo. O arquivo Não Pode Ser Renomeado.(1) O Arquivo Principal pode estar sendo udado "
           "em algum processo.";
}

std::string repairing(const std::string& setAside) { return "Reparando Banco de Dados" + setAside; }

std::string repairFailed(std::int32_t number, const std::string& description) {
    return "Erro ao Reparar Banco de dados : " + std::to_string(number) + " - " + description + " . Voltando o Backup";
}

std::string restoringBackup() { return "Voltando Backup"; }

std::string compacting(const std::string& setAside) { return "Compactando Banco de Dados" + setAside; }

std::string notCompacted() { return "Erro No Processo. O arquivo Não Foi Compactado. Voltando o Backup"; }

std::string reinstating() { return "Restaurando Arquivo."; }

std::string notReinstated(const std::string& compacted) {
    return "Erro No Processo. O arquivo " + compacted + " Não Pode Ser Renoemado. . Voltando o Backup.";
}

std::string finished() { return "Processo Concluido."; }

std::string repairLostData(const RepairLosses& losses, const std::string& backup) {
    std::string counts = std::to_string(losses.rows) + " linhas descartadas e " + std::to_string(losses.values) +
                         " valores alterados";
    if (losses.pages != 0) counts += ", além das linhas de " + std::to_string(losses.pages) + " páginas ilegíveis";
    return "O reparo não conseguiu manter todos os dados como estavam: " + counts + ", em " +
           std::to_string(losses.tables) + " tabelas (" + std::to_string(losses.items) +
           " itens ao todo). A lista está na tabela MSysCompactError do banco de dados. O banco como estava antes "
           "do reparo ficou na cópia de segurança " + backup + ", que a próxima execução apaga: guarde-a se precisar.";
}

std::string failed() { return "O Arquivo Não pode ser Reparado/Compactado."; }

std::string programFolderUnknown() {
    return "A Pasta do Programa Não Pode Ser Encontrada. Os Arquivos Temporarios Não Podem Ser Criados.";
}

std::string sourceIsScratch(const std::string& source, const std::string& scratch) {
    return "O Arquivo " + source + " é o arquivo temporário " + scratch +
           " deste programa e não pode ser compactado. Selecione Outro.";
}

std::string sourceMayBeScratch(const std::string& source) {
    return "Não foi possível verificar se o Arquivo " + source +
           " é um dos arquivos temporários deste programa. Selecione Outro.";
}

std::string backupHoldsDatabase(const std::string& backup, const std::string& source) {
    return "O Arquivo de Segurança " + backup + " guarda o banco de dados " + source +
           ", que não está no seu lugar. Copie-o de volta ou para um lugar seguro antes de iniciar outro processo.";
}

std::string backupMayHoldDatabase(const std::string& backup, const std::string& note) {
    return "O Arquivo de Segurança " + backup + " pode guardar um banco de dados que não está no seu lugar (veja " +
           note + "). Copie-o de volta ou para um lugar seguro antes de iniciar outro processo.";
}

std::string noteNotWritten(const std::string& note) {
    return "O Arquivo de Controle " + note + " Não Pode Ser Criado. O Arquivo Principal Não Foi Alterado.";
}

std::string restoreFailed(const std::string& source, const std::string& backup) {
    return "A Cópia de Segurança Não Pode Ser Restaurada em " + source + ". O banco de dados está guardado em " +
           backup + ".";
}

std::string interrupted(const std::string& signalName) {
    return "O Processo Foi Interrompido (sinal " + signalName + ").";
}

std::string backupPutBack(const std::string& backup, const std::string& source) {
    return "Um processo anterior foi interrompido com o banco de dados fora do seu lugar: o Arquivo de Segurança " +
           backup + " foi copiado de volta para " + source + ".";
}

namespace {

std::string megabytes(std::uint64_t bytes) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace

std::string notEnoughSpace(const std::string& folder, std::uint64_t needed, std::uint64_t available) {
    return "Não Há Espaço Livre Suficiente em " + folder + ": o processo precisa de " + megabytes(needed) + " (" +
           std::to_string(needed) + " bytes) e há " + megabytes(available) + " (" + std::to_string(available) +
           " bytes) livres. O Arquivo Principal Não Foi Alterado.";
}

}  // namespace maintenance::texts

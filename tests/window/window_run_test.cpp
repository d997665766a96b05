// "Compactar" through the window: the real procedure on real temporary files,
// with a scripted engine, scripted message boxes and a recorded program end.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "main_window.h"
#include "maintenance/procedure.h"
#include "paint_recorder.h"
#include "recorded_program_end.h"
#include "scripted_engine.h"
#include "scripted_file_dialog.h"
#include "scripted_message_boxes.h"

namespace {

namespace fs = std::filesystem;
using window::MainWindow;
using window_test::ScriptedEngine;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class RunThroughWindow : public ::testing::Test {
protected:
    RunThroughWindow()
        : procedure(
              [this]() -> std::unique_ptr<maintenance::DatabaseEngine> {
                  ++enginesMade;
                  return std::make_unique<ScriptedEngine>(script, form, seen);
              },
              [this] { return programFolder.string(); }),
          form([this](maintenance::StatusSink& sink) { procedure.run(sink); },
               MainWindow::Seams{&messages, &dialog, &programEnd}) {
        messages.watch(&form);
    }

    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        programFolder = fs::path(temp.path().toStdString()) / "programa";
        dataFolder = fs::path(temp.path().toStdString()) / "dados";
        fs::create_directories(programFolder);
        fs::create_directories(dataFolder);
        database = dataFolder / "loja.mdb";
        writeFile(database, "original database bytes");

        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        QApplication::processEvents();  // the first showing is painted before the run
    }

    std::string scratch(int number) const {
        return (programFolder / ("compac0" + std::to_string(number) + ".mdb")).string();
    }

    void clickCompactar() { QTest::mouseClick(form.command1(), Qt::LeftButton); }

    QTemporaryDir temp;
    fs::path programFolder;
    fs::path dataFolder;
    fs::path database;

    ScriptedEngine::Script script;
    std::vector<ScriptedEngine::Seen> seen;
    int enginesMade = 0;
    window_test::ScriptedMessageBoxes messages;
    window_test::ScriptedFileDialog dialog;
    window_test::RecordedProgramEnd programEnd;
    maintenance::Procedure procedure;
    MainWindow form;
};

TEST_F(RunThroughWindow, SuccessfulRunShowsEachStatusAtItsRepaintAndEndsTheProgram) {
    form.text1()->setText(QString::fromStdString(database.string()));
    window_test::PaintRecorder painted(form.label1(0));

    clickCompactar();

    // No event was processed during the run: every paint below came from a
    // repaint the run asked for, in order.
    const QStringList expected{
        QString::fromStdString("Fazendo Copia de Seguranca para " + scratch(1)),
        QString::fromStdString("Renoemando Arquivo para " + scratch(2)),
        QString::fromStdString("Reparando Banco de Dados" + scratch(2)),
        QString::fromStdString("Compactando Banco de Dados" + scratch(2)),
        "Restaurando Arquivo.",
    };
    EXPECT_EQ(painted.painted, expected);

    // The hourglass while the engine worked, with the status already on screen.
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].call, "repair " + scratch(2));
    EXPECT_EQ(seen[0].status, expected[2]);
    EXPECT_EQ(seen[0].pointer, Qt::WaitCursor);
    EXPECT_EQ(seen[1].call, "compact " + scratch(2) + " " + scratch(3));
    EXPECT_EQ(seen[1].status, expected[3]);
    EXPECT_EQ(seen[1].pointer, Qt::WaitCursor);

    // One box, over the last status and the hourglass; then the arrow and the end.
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].text, "Processo Concluido.");
    EXPECT_EQ(messages.boxes[0].status, "Restaurando Arquivo.");
    EXPECT_EQ(messages.boxes[0].pointer, Qt::WaitCursor);
    EXPECT_EQ(programEnd.ends, 1);
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);

    EXPECT_EQ(readFile(database), std::string(ScriptedEngine::kCompactedMarker) + "original database bytes");
    EXPECT_EQ(readFile(scratch(1)), "original database bytes");
    EXPECT_TRUE(fs::exists(scratch(2)));
    EXPECT_FALSE(fs::exists(scratch(3)));
}

TEST_F(RunThroughWindow, MissingDatabaseLeavesTheWindowReadyWithTheArrowAndAnEmptyStatus) {
    const QString missing = QString::fromStdString((dataFolder / "nao_existe.mdb").string());
    form.text1()->setText(missing);
    form.setStatus("texto antigo");

    clickCompactar();

    EXPECT_EQ(messages.texts(), (std::vector<QString>{
                                    "O Arquivo " + missing + " Não Existe. Selecione Outro.",
                                    "O Arquivo Não pode ser Reparado/Compactado.",
                                }));
    EXPECT_EQ(messages.boxes[0].pointer, Qt::WaitCursor);
    EXPECT_TRUE(messages.boxes[1].status.isEmpty()) << "the status is emptied before the last box";
    EXPECT_EQ(programEnd.ends, 0);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.label1(0)->text().isEmpty());
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(form.testAttribute(Qt::WA_SetCursor));
    EXPECT_EQ(form.text1()->text(), missing);
    EXPECT_TRUE(form.command1()->isEnabled());
    EXPECT_EQ(enginesMade, 0);
    EXPECT_TRUE(fs::is_empty(programFolder));
}

TEST_F(RunThroughWindow, FailedRepairRestoresTheBackupAndTheNextRunReusesTheEngine) {
    form.text1()->setText(QString::fromStdString(database.string()));
    script.repairError = std::make_pair(-1017, std::string("Formato de banco de dados não reconhecido"));
    window_test::PaintRecorder painted(form.label1(0));

    clickCompactar();

    EXPECT_EQ(messages.texts(),
              (std::vector<QString>{
                  QString::fromUtf8("Erro ao Reparar Banco de dados : -1017 - Formato de banco de dados "
                                    "não reconhecido . Voltando o Backup"),
                  "O Arquivo Não pode ser Reparado/Compactado.",
              }));
    ASSERT_FALSE(painted.painted.isEmpty());
    EXPECT_EQ(painted.painted.back(), "Voltando Backup");
    EXPECT_EQ(readFile(database), "original database bytes");
    EXPECT_EQ(programEnd.ends, 0);
    EXPECT_TRUE(form.label1(0)->text().isEmpty());
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(form.text1()->text(), QString::fromStdString(database.string()));

    // Another run in the same program life, this time a good one.
    script.repairError.reset();
    messages.boxes.clear();
    clickCompactar();
    EXPECT_EQ(messages.texts(), std::vector<QString>{"Processo Concluido."});
    EXPECT_EQ(programEnd.ends, 1);
    EXPECT_EQ(enginesMade, 1) << "the engine made by the first run serves the second";
}

TEST_F(RunThroughWindow, CompactionThatWritesNothingIsReportedAndTheBackupPutBack) {
    form.text1()->setText(QString::fromStdString(database.string()));
    script.compactWritesOutput = false;

    clickCompactar();

    EXPECT_EQ(messages.texts(), (std::vector<QString>{
                                    "Erro No Processo. O arquivo Não Foi Compactado. Voltando o Backup",
                                    "O Arquivo Não pode ser Reparado/Compactado.",
                                }));
    EXPECT_EQ(messages.boxes[0].status, QString::fromStdString("Compactando Banco de Dados" + scratch(2)));
    EXPECT_EQ(readFile(database), "original database bytes");
    EXPECT_EQ(programEnd.ends, 0);
    EXPECT_TRUE(form.label1(0)->text().isEmpty());
}

TEST_F(RunThroughWindow, PlaceholderFromAnEmptyDialogStopsAtTheFirstCheck) {
    dialog.answer("");
    QTest::mouseClick(form.command2(), Qt::LeftButton);
    ASSERT_EQ(form.text1()->text(), "<<Nenhum Arquivo Selecionado>>");

    clickCompactar();

    EXPECT_EQ(messages.texts(), (std::vector<QString>{
                                    "O Arquivo <<Nenhum Arquivo Selecionado>> Não Existe. Selecione Outro.",
                                    "O Arquivo Não pode ser Reparado/Compactado.",
                                }));
    EXPECT_EQ(form.text1()->text(), "<<Nenhum Arquivo Selecionado>>");
}

TEST_F(RunThroughWindow, PathPickedWithTheDialogIsTheOneCompacted) {
    dialog.answer(QString::fromStdString(database.string()));
    QTest::mouseClick(form.command2(), Qt::LeftButton);

    clickCompactar();

    EXPECT_EQ(messages.texts(), std::vector<QString>{"Processo Concluido."});
    EXPECT_EQ(readFile(database), std::string(ScriptedEngine::kCompactedMarker) + "original database bytes");
}

}  // namespace

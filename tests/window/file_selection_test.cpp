// The "..." button with a scripted dialog: what lands in the path box.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "file_selection.h"
#include "main_window.h"
#include "recorded_program_end.h"
#include "scripted_file_dialog.h"
#include "scripted_message_boxes.h"

namespace {

using window::MainWindow;

class FileSelectionOnForm : public ::testing::Test {
protected:
    FileSelectionOnForm()
        : form([](maintenance::StatusSink&) {}, MainWindow::Seams{&messages, &dialog, &programEnd}) {}

    void SetUp() override {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    void clickBrowse() { QTest::mouseClick(form.command2(), Qt::LeftButton); }

    window_test::ScriptedMessageBoxes messages;
    window_test::ScriptedFileDialog dialog;
    window_test::RecordedProgramEnd programEnd;
    MainWindow form;
};

TEST_F(FileSelectionOnForm, PickedPathReplacesWhatThePathBoxHeld) {
    form.text1()->setText("/antigo/caminho.mdb");
    dialog.answer("/home/ana/Dados/loja.mdb");
    clickBrowse();
    EXPECT_EQ(form.text1()->text(), "/home/ana/Dados/loja.mdb");
    EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(FileSelectionOnForm, EmptyResultWritesThePlaceholder) {
    form.text1()->setText("/home/ana/Dados/loja.mdb");
    dialog.answer("");
    clickBrowse();
    EXPECT_EQ(form.text1()->text(), "<<Nenhum Arquivo Selecionado>>");
    EXPECT_EQ(form.readPathBox(), "<<Nenhum Arquivo Selecionado>>");
}

TEST_F(FileSelectionOnForm, EveryClickStartsFromTheMdbPatternAgain) {
    dialog.answer("/a/um.mdb");
    dialog.answer("");
    dialog.answer("/b/dois.mdb");
    clickBrowse();
    clickBrowse();
    clickBrowse();
    EXPECT_EQ(dialog.initialNames, (std::vector<QString>{"*.mdb", "*.mdb", "*.mdb"}));
    EXPECT_EQ(form.text1()->text(), "/b/dois.mdb");
}

TEST_F(FileSelectionOnForm, PathOfFiveHundredCharactersIsTaken) {
    const QString path = "/" + QString(495, QChar('d')) + ".mdb";
    ASSERT_EQ(path.size(), 500);
    dialog.answer(path);
    clickBrowse();
    EXPECT_EQ(form.text1()->text(), path);
    EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(FileSelectionOnForm, LongerPathIsRefusedWithAMessageAndThePathBoxKept) {
    form.text1()->setText("/home/ana/Dados/loja.mdb");
    const QString path = "/" + QString(496, QChar('d')) + ".mdb";
    ASSERT_EQ(path.size(), 501);
    dialog.answer(path);
    clickBrowse();
    EXPECT_EQ(form.text1()->text(), "/home/ana/Dados/loja.mdb");
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].text, window::FileSelection::pathTooLongText());
    EXPECT_TRUE(messages.boxes[0].text.contains("500 caracteres"));
    EXPECT_EQ(programEnd.ends, 0) << "a long name does not end the program";
}

TEST_F(FileSelectionOnForm, LengthIsCountedInCharactersNotUtf16Units) {
    // 305 characters, 300 of them outside the Basic Multilingual Plane: 605
    // UTF-16 units, yet well within the capacity.
    QString path = "/";
    for (int i = 0; i < 300; ++i)
        path += QString::fromUcs4(U"\U0001F5C4");
    path += ".mdb";
    ASSERT_EQ(path.toUcs4().size(), 305);
    ASSERT_GT(path.size(), 500);
    dialog.answer(path);
    clickBrowse();
    EXPECT_EQ(form.text1()->text(), path);
}

}  // namespace

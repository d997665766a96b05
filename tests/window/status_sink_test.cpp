// The window as the run's StatusSink, operation by operation.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "main_window.h"
#include "paint_recorder.h"
#include "recorded_program_end.h"
#include "scripted_file_dialog.h"
#include "scripted_message_boxes.h"

namespace {

using window::MainWindow;

class FormAsSink : public ::testing::Test {
protected:
    FormAsSink()
        : form([this](maintenance::StatusSink& sink) {
                  if (procedure)
                      procedure(sink);
              },
              MainWindow::Seams{&messages, &dialog, &programEnd}) {
        messages.watch(&form);
    }

    void SetUp() override {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    window_test::ScriptedMessageBoxes messages;
    window_test::ScriptedFileDialog dialog;
    window_test::RecordedProgramEnd programEnd;
    std::function<void(maintenance::StatusSink&)> procedure;
    MainWindow form;
};

TEST_F(FormAsSink, BusyPointerIsTheHourglassOverTheWholeWindow) {
    form.setBusyPointer();
    EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(form.text1()->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(form.command1()->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(form.label1(0)->cursor().shape(), Qt::WaitCursor);
}

TEST_F(FormAsSink, NormalPointerIsTheArrowSetExplicitly) {
    EXPECT_FALSE(form.testAttribute(Qt::WA_SetCursor)) << "at start: the default pointer";
    form.setBusyPointer();
    form.setNormalPointer();
    EXPECT_TRUE(form.testAttribute(Qt::WA_SetCursor)) << "the arrow, not the default";
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(form.command1()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(form.text1()->cursor().shape(), Qt::IBeamCursor);
}

TEST_F(FormAsSink, ReadsThePathBoxAsUtf8) {
    form.text1()->setText(QString::fromUtf8("/dados/Coração 1.mdb"));
    EXPECT_EQ(form.readPathBox(), "/dados/Coração 1.mdb");
    form.text1()->clear();
    EXPECT_EQ(form.readPathBox(), "");
}

TEST_F(FormAsSink, SetStatusReplacesOnlyTheStatusLabelAsPlainText) {
    form.setStatus("Reparando Banco de Dados/tmp/compac02.mdb");
    EXPECT_EQ(form.label1(0)->text(), "Reparando Banco de Dados/tmp/compac02.mdb");
    form.setStatus("<<Nenhum Arquivo Selecionado>> <b>não</b>");
    EXPECT_EQ(form.label1(0)->text(), "<<Nenhum Arquivo Selecionado>> <b>não</b>");
    EXPECT_EQ(form.label1(0)->textFormat(), Qt::PlainText);
    form.setStatus("");
    EXPECT_TRUE(form.label1(0)->text().isEmpty());
    EXPECT_EQ(form.label1(1)->text(), "Arquivo:");
}

TEST_F(FormAsSink, RepaintPaintsTheNewStatusBeforeItReturns) {
    QApplication::processEvents();  // settle the first showing
    window_test::PaintRecorder recorder(form.label1(0));
    form.setStatus("Restaurando Arquivo.");
    EXPECT_TRUE(recorder.painted.isEmpty()) << "setting the text alone paints nothing yet";
    form.repaint();
    EXPECT_EQ(recorder.painted, QStringList{"Restaurando Arquivo."});
}

TEST_F(FormAsSink, ShowMessageAndEndProgramGoThroughTheirSeams) {
    form.showMessage("Processo Concluido.");
    form.showMessage("O Arquivo Não pode ser Reparado/Compactado.");
    EXPECT_EQ(messages.texts(), (std::vector<QString>{"Processo Concluido.",
                                                      "O Arquivo Não pode ser Reparado/Compactado."}));
    EXPECT_EQ(programEnd.ends, 0);
    form.endProgram();
    EXPECT_EQ(programEnd.ends, 1);
}

TEST_F(FormAsSink, AClickDuringAMessageBoxDoesNotStartASecondRun) {
    int runs = 0;
    procedure = [&](maintenance::StatusSink& sink) {
        ++runs;
        sink.showMessage("first");
    };
    messages.onShow([&] { form.command1()->click(); });
    form.command1()->click();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(messages.texts(), std::vector<QString>{"first"});
    messages.onShow(nullptr);
    form.command1()->click();
    EXPECT_EQ(runs, 2) << "the window is ready again once the run has ended";
}

}  // namespace

// Form1 as it opens: geometry from the twip layout, names, texts, fonts, focus.
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "main_window.h"
#include "recorded_program_end.h"
#include "scripted_file_dialog.h"
#include "scripted_message_boxes.h"
#include "twips.h"

namespace {

using window::MainWindow;

class FormAtRest : public ::testing::Test {
protected:
    FormAtRest()
        : form([this](maintenance::StatusSink&) { ++runs; },
               MainWindow::Seams{&messages, &dialog, &programEnd}) {}

    void showAndActivate() {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    window_test::ScriptedMessageBoxes messages;
    window_test::ScriptedFileDialog dialog;
    window_test::RecordedProgramEnd programEnd;
    int runs = 0;
    MainWindow form;
};

TEST(Twips, FifteenTwipsToAPixelAt96DpiAndScaledElsewhere) {
    EXPECT_EQ(window::twipsToPixels(7485, 96), 499);
    EXPECT_EQ(window::twipsToPixels(15, 96), 1);
    EXPECT_EQ(window::twipsToPixels(7, 96), 0);
    EXPECT_EQ(window::twipsToPixels(8, 96), 1);   // rounds to the nearest pixel
    EXPECT_EQ(window::twipsToPixels(1710, 192), 228);
    EXPECT_EQ(window::twipsToPixels(795, 144), 80);  // 79.5 rounds up
    EXPECT_EQ(window::twipsToPixels(3195, 120), 266);  // 266.25
    EXPECT_EQ(window::twipsToPixels(0, 120), 0);
}

TEST_F(FormAtRest, ControlsSitAtTheirTwipPlacesInPixelsAt96Dpi) {
    ASSERT_EQ(form.logicalDpiX(), 96) << "the pixel figures below hold at 96 DPI";
    ASSERT_EQ(form.logicalDpiY(), 96);
    showAndActivate();

    EXPECT_EQ(form.size(), QSize(499, 213));  // client area 7485 x 3195 twips
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the layout is fixed";
    EXPECT_EQ(form.command1()->geometry(), QRect(114, 158, 279, 53));
    EXPECT_EQ(form.label1(1)->geometry(), QRect(4, 4, 91, 21));
    EXPECT_EQ(form.text1()->geometry(), QRect(96, 2, 357, 25));
    EXPECT_EQ(form.command2()->geometry(), QRect(464, 4, 29, 23));
    EXPECT_EQ(form.label1(0)->geometry(), QRect(6, 52, 487, 67));
}

TEST_F(FormAtRest, ControlsKeepTheirNamesAsObjectNames) {
    EXPECT_EQ(form.objectName(), "Form1");
    EXPECT_EQ(form.findChild<QPushButton*>("Command1"), form.command1());
    EXPECT_EQ(form.findChild<QPushButton*>("Command2"), form.command2());
    EXPECT_EQ(form.findChild<QLineEdit*>("Text1"), form.text1());
    EXPECT_EQ(form.findChild<QLabel*>("Label1_0"), form.label1(0));
    EXPECT_EQ(form.findChild<QLabel*>("Label1_1"), form.label1(1));
    EXPECT_EQ(form.label1(2), nullptr);
    EXPECT_EQ(form.label1(-1), nullptr);
}

TEST(FormDialogControl, RealDialogIsAnInvisibleChildNamedCaixaAbrirArquivo) {
    MainWindow form([](maintenance::StatusSink&) {});
    QObject* box = form.findChild<QObject*>("CaixaAbrirArquivo");
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isWidgetType()) << "not visible at run time";
}

TEST_F(FormAtRest, CaptionTextsAndIcon) {
    EXPECT_EQ(form.windowTitle(), "Compactador de Banco de Dados");
    EXPECT_EQ(form.command1()->text(), "Compactar");
    EXPECT_EQ(form.command2()->text(), "...");
    EXPECT_EQ(form.label1(1)->text(), "Arquivo:");
    EXPECT_TRUE(form.text1()->text().isEmpty());
    EXPECT_TRUE(form.label1(0)->text().isEmpty());
    EXPECT_FALSE(form.text1()->isReadOnly());

    const QIcon icon = form.windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
    const QImage image = icon.pixmap(QSize(32, 32)).toImage();
    EXPECT_EQ(image.size(), QSize(32, 32));
    EXPECT_LE(image.convertToFormat(QImage::Format_Indexed8).colorCount(), 256);
}

TEST_F(FormAtRest, ArialTwelvePointBoldWhereGivenToolkitDefaultElsewhere) {
    for (QWidget* widget : {static_cast<QWidget*>(form.command1()),
                            static_cast<QWidget*>(form.label1(0)),
                            static_cast<QWidget*>(form.label1(1))}) {
        SCOPED_TRACE(widget->objectName().toStdString());
        EXPECT_EQ(widget->font().family(), "Arial");
        EXPECT_EQ(widget->font().pointSize(), 12);
        EXPECT_TRUE(widget->font().bold());
        // fonts-liberation gives Arial's metrics under the name Liberation Sans.
        const QString resolved = QFontInfo(widget->font()).family();
        EXPECT_TRUE(resolved == "Arial" || resolved == "Liberation Sans") << resolved.toStdString();
        EXPECT_TRUE(QFontInfo(widget->font()).bold());
    }
    for (QWidget* widget : {static_cast<QWidget*>(form.text1()),
                            static_cast<QWidget*>(form.command2())}) {
        SCOPED_TRACE(widget->objectName().toStdString());
        EXPECT_EQ(widget->font(), QApplication::font(widget));
        EXPECT_FALSE(widget->font().bold());
    }
}

TEST_F(FormAtRest, StatusLabelIsCentredAndWrapsLongTextInsideItsBox) {
    QLabel* status = form.label1(0);
    EXPECT_TRUE(status->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(status->wordWrap());
    EXPECT_TRUE(form.label1(1)->alignment() & Qt::AlignLeft);
    showAndActivate();

    const QRect box = status->geometry();
    const std::string longText =
        "Fazendo Copia de Seguranca para /home/usuario/programas/compactador/bin/compac01.mdb";
    form.setStatus(longText);
    EXPECT_EQ(status->geometry(), box) << "the label does not grow";
    const QFontMetrics metrics(status->font());
    ASSERT_GT(metrics.horizontalAdvance(status->text()), box.width()) << "the text needs wrapping";
    EXPECT_GT(status->heightForWidth(box.width()), metrics.lineSpacing()) << "more than one line";
    EXPECT_LE(status->heightForWidth(box.width()), box.height()) << "and it fits in the box";
}

TEST_F(FormAtRest, CompactarHoldsTheFocusAndTabFollowsTheControlNumbers) {
    showAndActivate();
    EXPECT_EQ(QApplication::focusWidget(), form.command1());

    // The focus chain in the numbered order, the labels included.
    std::vector<QWidget*> chain;
    QWidget* w = form.command1();
    for (int i = 0; i < 5; ++i) {
        chain.push_back(w);
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(chain, (std::vector<QWidget*>{form.command1(), form.label1(1), form.text1(),
                                            form.command2(), form.label1(0)}));

    // Tab walks the controls that take the focus, in that order.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.text1());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.command2());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.command1());
}

TEST_F(FormAtRest, NoButtonIsTheDefaultButton) {
    EXPECT_FALSE(form.command1()->isDefault());
    EXPECT_FALSE(form.command1()->autoDefault());
    EXPECT_FALSE(form.command2()->isDefault());
    EXPECT_FALSE(form.command2()->autoDefault());
    showAndActivate();
    form.text1()->setFocus();
    QTest::keyClicks(form.text1(), "/tmp/x.mdb");
    QTest::keyClick(form.text1(), Qt::Key_Return);
    EXPECT_EQ(runs, 0) << "Enter in the path box runs nothing";
    EXPECT_EQ(form.text1()->text(), "/tmp/x.mdb");
}

TEST_F(FormAtRest, ClickingCompactarRunsTheProcedureWithTheWindowAsSink) {
    showAndActivate();
    QTest::mouseClick(form.command1(), Qt::LeftButton);
    EXPECT_EQ(runs, 1);
    form.command1()->setFocus();
    QTest::keyClick(form.command1(), Qt::Key_Space);
    EXPECT_EQ(runs, 2);
}

}  // namespace

// The layout at 144 DPI (150 %). Runs for real in its own test, on an offscreen
// screen of 144 DPI with Qt's own scaling off, so that the window maps the
// twips itself; elsewhere it is skipped.
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "main_window.h"
#include "recorded_program_end.h"
#include "scripted_file_dialog.h"
#include "scripted_message_boxes.h"

namespace {

using window::MainWindow;

TEST(HighDpi, LayoutKeepsItsProportionsAt144Dpi) {
    window_test::ScriptedMessageBoxes messages;
    window_test::ScriptedFileDialog dialog;
    window_test::RecordedProgramEnd programEnd;
    MainWindow form([](maintenance::StatusSink&) {}, MainWindow::Seams{&messages, &dialog, &programEnd});
    if (form.logicalDpiX() != 144)
        GTEST_SKIP() << "needs a 144 DPI screen; this one has " << form.logicalDpiX();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    // Half as large again as at 96 DPI, to the nearest pixel.
    EXPECT_EQ(form.size(), QSize(749, 320));
    EXPECT_EQ(form.command1()->geometry(), QRect(171, 237, 419, 80));
    EXPECT_EQ(form.label1(1)->geometry(), QRect(6, 6, 137, 32));
    EXPECT_EQ(form.text1()->geometry(), QRect(144, 3, 536, 38));
    EXPECT_EQ(form.command2()->geometry(), QRect(696, 6, 44, 35));
    EXPECT_EQ(form.label1(0)->geometry(), QRect(9, 78, 731, 101));
    // 12 points are 24 pixels at this DPI.
    EXPECT_EQ(QFontInfo(form.command1()->font()).pixelSize(), 24);
}

}  // namespace

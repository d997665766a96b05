// Runs the window tests inside one QApplication. Without a display of their own
// they use Qt's offscreen platform; the X server run sets QT_QPA_PLATFORM=xcb.
#include <QApplication>
#include <gtest/gtest.h>

#include "main_window.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(window::MainWindow::applicationTitle());
    return RUN_ALL_TESTS();
}

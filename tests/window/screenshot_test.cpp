// Pictures of the window, at rest and during a run, grabbed from the screen the
// window is on (under Xvfb: the X server's own pixels). They are written to
// $COMPACTADOR_SCREENSHOT_DIR when it is set (`make screenshot` uses docs/).
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "main_window.h"
#include "maintenance/procedure.h"
#include "recorded_program_end.h"
#include "scripted_engine.h"
#include "scripted_file_dialog.h"
#include "scripted_message_boxes.h"

namespace {

namespace fs = std::filesystem;
using window::MainWindow;

QImage grab(const MainWindow& form) {
    return form.screen()->grabWindow(form.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels inside `area` that differ from the area's top-left pixel: zero for an
// empty label, many once text is drawn there.
int markedPixels(const QImage& image, const QRect& area) {
    const QRgb background = image.pixel(area.topLeft());
    int marked = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            marked += image.pixel(x, y) != background ? 1 : 0;
    return marked;
}

void save(const QImage& image, const char* name) {
    const QString folder = qEnvironmentVariable("COMPACTADOR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    ASSERT_TRUE(image.save(QDir(folder).filePath(name), "PNG")) << name;
}

TEST(Screenshots, WindowAtRestAndDuringARun) {
    QTemporaryDir temp(QDir::tempPath() + "/compactador-XXXXXX");
    ASSERT_TRUE(temp.isValid());
    const fs::path root = temp.path().toStdString();
    fs::create_directories(root / "programa");
    fs::create_directories(root / "dados");
    const fs::path database = root / "dados" / "loja.mdb";
    std::ofstream(database, std::ios::binary) << "database bytes";

    window_test::ScriptedMessageBoxes messages;
    window_test::ScriptedFileDialog dialog;
    window_test::RecordedProgramEnd programEnd;
    std::vector<window_test::ScriptedEngine::Seen> seen;
    QImage running;
    window_test::ScriptedEngine::Script script;
    MainWindow* formPointer = nullptr;
    script.duringRepair = [&] { running = grab(*formPointer); };
    maintenance::Procedure procedure(
        [&]() -> std::unique_ptr<maintenance::DatabaseEngine> {
            return std::make_unique<window_test::ScriptedEngine>(script, *formPointer, seen);
        },
        [&] { return (root / "programa").string(); });
    MainWindow form([&](maintenance::StatusSink& sink) { procedure.run(sink); },
                    MainWindow::Seams{&messages, &dialog, &programEnd});
    formPointer = &form;

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::qWait(200);  // let the first showing reach the screen
    const QImage atRest = grab(form);
    const qreal ratio = form.devicePixelRatioF();
    ASSERT_EQ(atRest.size(), form.size() * ratio);
    const QRect statusArea(form.label1(0)->geometry().topLeft() * ratio,
                           form.label1(0)->geometry().size() * ratio);
    EXPECT_EQ(markedPixels(atRest, statusArea), 0) << "the status label starts empty";
    save(atRest, "window.png");

    form.text1()->setText(QString::fromStdString(database.string()));
    QTest::mouseClick(form.command1(), Qt::LeftButton);

    ASSERT_EQ(messages.texts(), std::vector<QString>{"Processo Concluido."});
    ASSERT_EQ(running.size(), atRest.size()) << "the run was pictured during the repair";
    EXPECT_GT(markedPixels(running, statusArea), 200) << "the status text is on the screen";
    save(running, "window_running.png");
}

}  // namespace

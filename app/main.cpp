// The window program: creates Form1, shows it and runs the event loop. It reads
// no command line and no settings.
#include <QApplication>

#include "main_window.h"
#include "maintenance/procedure.h"
#include "maintenance/program_engine.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("compactador"));
    QApplication::setApplicationDisplayName(window::MainWindow::applicationTitle());
    QGuiApplication::setDesktopFileName(QStringLiteral("compactador"));
    QApplication::setWindowIcon(window::MainWindow::icon());

    // Created before the window and destroyed after it: the engine it creates on
    // first use lives until the program ends.
    maintenance::Procedure procedure(maintenance::programEngineFactory());
    window::MainWindow form1([&procedure](maintenance::StatusSink& sink) { procedure.run(sink); });
    form1.show();
    return QApplication::exec();
}

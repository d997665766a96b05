// The installed face of the program: its .desktop entry and its icon agree with
// the program and the window.
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QTextStream>
#include <gtest/gtest.h>

#include "main_window.h"
#include "qstring_printer.h"

namespace {

// Keys of the [Desktop Entry] group; fails the test on a malformed line.
QMap<QString, QString> readDesktopEntry(const QString& path) {
    QMap<QString, QString> keys;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text)) << path.toStdString();
    QTextStream in(&file);
    QString group;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            EXPECT_TRUE(line.endsWith(']')) << line.toStdString();
            if (group.isEmpty())
                EXPECT_EQ(line, "[Desktop Entry]") << "the first group";
            group = line;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        EXPECT_GT(equals, 0) << line.toStdString();
        if (group == "[Desktop Entry]" && equals > 0) {
            const QString key = line.left(equals).trimmed();
            EXPECT_FALSE(keys.contains(key)) << "repeated key " << key.toStdString();
            keys.insert(key, line.mid(equals + 1).trimmed());
        }
    }
    return keys;
}

TEST(DesktopEntry, LaunchesTheProgramWithItsIconAndTheWindowsCaption) {
    const QMap<QString, QString> entry = readDesktopEntry(COMPACTADOR_DESKTOP_FILE);
    EXPECT_EQ(entry.value("Type"), "Application");
    EXPECT_EQ(entry.value("Name"), window::MainWindow::caption());
    EXPECT_EQ(entry.value("Exec"), COMPACTADOR_PROGRAM_NAME);
    EXPECT_EQ(entry.value("Icon"), QFileInfo(COMPACTADOR_ICON_FILE).completeBaseName());
    EXPECT_EQ(entry.value("Terminal"), "false");
    EXPECT_TRUE(entry.value("Categories").endsWith(';'));
    EXPECT_FALSE(entry.value("Comment").isEmpty());
}

TEST(DesktopEntry, IconIsThirtyTwoSquareIn256ColoursAndTheWindowShowsTheSame) {
    const QImage installed(COMPACTADOR_ICON_FILE);
    ASSERT_FALSE(installed.isNull());
    EXPECT_EQ(installed.size(), QSize(32, 32));
    EXPECT_EQ(installed.format(), QImage::Format_Indexed8);
    EXPECT_LE(installed.colorCount(), 256);
    EXPECT_TRUE(installed.hasAlphaChannel());

    // The window's icon is built from the same file, byte for byte.
    ASSERT_FALSE(window::MainWindow::icon().isNull());
    QFile shown(":/compactador/compactador.png");
    QFile source(COMPACTADOR_ICON_FILE);
    ASSERT_TRUE(shown.open(QIODevice::ReadOnly));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    EXPECT_EQ(shown.readAll(), source.readAll());
}

}  // namespace

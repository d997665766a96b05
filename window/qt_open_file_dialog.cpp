#include "qt_open_file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QWidget>

namespace window {

QtOpenFileDialog::QtOpenFileDialog(QWidget* parent) : QObject(parent), parentWidget_(parent) {
    setObjectName(QStringLiteral("CaixaAbrirArquivo"));
}

QString QtOpenFileDialog::open(const QString& fileName) {
    // A name with wildcards is a pattern: the toolkit's dialog lists matching
    // files through its filter, not through the name field.
    const bool pattern = fileName.contains(QLatin1Char('*')) || fileName.contains(QLatin1Char('?'));
    const QString filter = pattern ? fileName : QString();
    const QString start = pattern ? lastFolder_
                                  : (lastFolder_.isEmpty() ? fileName
                                                           : lastFolder_ + QLatin1Char('/') + fileName);
    const QString chosen = QFileDialog::getOpenFileName(parentWidget_, QString(), start, filter);
    if (!chosen.isEmpty())
        lastFolder_ = QFileInfo(chosen).absolutePath();
    return chosen;
}

}  // namespace window

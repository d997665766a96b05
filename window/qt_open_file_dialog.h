#pragma once

#include <QObject>
#include <QString>

#include "open_file_dialog.h"

class QWidget;

namespace window {

// The toolkit's open-file dialog, as the form's CaixaAbrirArquivo control. Like
// a dialog control it keeps what it learnt from an earlier showing: it opens in
// the folder of the last file chosen.
class QtOpenFileDialog final : public QObject, public OpenFileDialog {
    Q_OBJECT

public:
    explicit QtOpenFileDialog(QWidget* parent);

    QString open(const QString& fileName) override;

private:
    QWidget* parentWidget_;
    QString lastFolder_;
};

}  // namespace window

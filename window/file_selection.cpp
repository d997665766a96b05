#include "file_selection.h"

#include <QLineEdit>

#include "message_boxes.h"
#include "open_file_dialog.h"

namespace window {

FileSelection::FileSelection(OpenFileDialog& dialog, MessageBoxes& messages)
    : dialog_(dialog), messages_(messages) {}

QString FileSelection::initialFileName() {
    return QStringLiteral("*.mdb");
}

QString FileSelection::noFileText() {
    return QStringLiteral("<<Nenhum Arquivo Selecionado>>");
}

QString FileSelection::pathTooLongText() {
    return QStringLiteral("O Nome do Arquivo Selecionado tem mais de 500 caracteres e "
                          "Não pode ser usado. Selecione Outro.");
}

void FileSelection::run(QLineEdit& pathBox) {
    // Every showing starts from the pattern again, whatever was picked before.
    const QString chosen = dialog_.open(initialFileName());
    if (chosen.isEmpty()) {
        pathBox.setText(noFileText());
        return;
    }
    // Counted in characters, not UTF-16 units. A longer name does not fit the
    // dialog's name buffer: say so and keep the path box as it was.
    if (chosen.toUcs4().size() > kFileNameCapacity) {
        messages_.show(pathTooLongText());
        return;
    }
    pathBox.setText(chosen);
}

}  // namespace window

#pragma once

#include <QString>

namespace window {

// The file-open dialog that "..." shows (the form's CaixaAbrirArquivo). A seam so
// that tests can answer the dialog without a person in front of the screen.
class OpenFileDialog {
public:
    virtual ~OpenFileDialog() = default;

    // Shows the dialog modally with `fileName` as its initial file name (a
    // pattern such as "*.mdb" lists the matching files) and returns the chosen
    // file's full path, or an empty string when the user chose nothing.
    virtual QString open(const QString& fileName) = 0;
};

}  // namespace window

#pragma once

#include <QString>

class QLineEdit;

namespace window {

class MessageBoxes;
class OpenFileDialog;

// What the "..." button does: shows the open-file dialog pre-set to "*.mdb" and
// writes the chosen path, or a placeholder when nothing was chosen, into the
// path box.
class FileSelection {
public:
    // The longest path the dialog may hand back, in characters.
    static constexpr int kFileNameCapacity = 500;

    FileSelection(OpenFileDialog& dialog, MessageBoxes& messages);

    void run(QLineEdit& pathBox);

    static QString initialFileName();  // "*.mdb"
    static QString noFileText();       // the placeholder for "nothing chosen"
    static QString pathTooLongText();  // told instead of taking an over-long path

private:
    OpenFileDialog& dialog_;
    MessageBoxes& messages_;
};

}  // namespace window

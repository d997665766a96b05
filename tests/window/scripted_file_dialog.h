#pragma once

#include <QString>
#include <deque>
#include <vector>

#include "qstring_printer.h"
#include "open_file_dialog.h"

namespace window_test {

// Hands back scripted answers, one per showing, and remembers the file name
// each showing started from.
class ScriptedFileDialog final : public window::OpenFileDialog {
public:
    void answer(const QString& path) { answers_.push_back(path); }

    QString open(const QString& fileName) override {
        initialNames.push_back(fileName);
        if (answers_.empty())
            return {};
        QString next = answers_.front();
        answers_.pop_front();
        return next;
    }

    std::vector<QString> initialNames;

private:
    std::deque<QString> answers_;
};

}  // namespace window_test

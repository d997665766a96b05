#pragma once

#include <QCursor>
#include <QLabel>
#include <QString>
#include <functional>
#include <vector>

#include "qstring_printer.h"
#include "main_window.h"
#include "message_boxes.h"

namespace window_test {

// Answers every message box at once and remembers what the window looked like
// while it was up.
class ScriptedMessageBoxes final : public window::MessageBoxes {
public:
    struct Shown {
        QString text;
        QString status;           // the status label's text behind the box
        Qt::CursorShape pointer;  // the window's pointer behind the box
    };

    void watch(const window::MainWindow* form) { form_ = form; }

    // Runs while a box is up, as a person could act then.
    void onShow(std::function<void()> action) { action_ = std::move(action); }

    void show(const QString& text) override {
        Shown shown{text, {}, Qt::ArrowCursor};
        if (form_ != nullptr) {
            shown.status = form_->label1(0)->text();
            shown.pointer = form_->cursor().shape();
        }
        boxes.push_back(shown);
        if (action_)
            action_();
    }

    std::vector<QString> texts() const {
        std::vector<QString> out;
        for (const Shown& s : boxes)
            out.push_back(s.text);
        return out;
    }

    std::vector<Shown> boxes;

private:
    const window::MainWindow* form_ = nullptr;
    std::function<void()> action_;
};

}  // namespace window_test

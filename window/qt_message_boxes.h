#pragma once

#include "message_boxes.h"

class QWidget;

namespace window {

// Message boxes shown with QMessageBox: application-modal over `parent`, one
// OK button, no icon, the application's title as caption.
class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent) : parent_(parent) {}

    void show(const QString& text) override;

private:
    QWidget* parent_;
};

}  // namespace window

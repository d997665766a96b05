#pragma once

#include <QString>

namespace window {

// Modal message boxes with one OK button. A seam so that tests can read and
// dismiss them.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // Shows `text` and returns when the user has dismissed it.
    virtual void show(const QString& text) = 0;
};

}  // namespace window

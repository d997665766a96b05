#pragma once

#include <QEvent>
#include <QLabel>
#include <QObject>
#include <QStringList>

namespace window_test {

// Records the text a label holds each time it is painted: what the screen
// showed, paint by paint.
class PaintRecorder final : public QObject {
public:
    explicit PaintRecorder(QLabel* label) : label_(label) { label_->installEventFilter(this); }
    ~PaintRecorder() override { label_->removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == label_ && event->type() == QEvent::Paint)
            painted.append(label_->text());
        return false;
    }

    QStringList painted;

private:
    QLabel* label_;
};

}  // namespace window_test

#include "qt_message_boxes.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace window {

void QtMessageBoxes::show(const QString& text) {
    // The program gives the box no caption of its own: the application's title.
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, parent_);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace window

#include "qt_program_end.h"

#include <QCoreApplication>

namespace window {

void QtProgramEnd::end() {
    QCoreApplication::exit(0);
}

}  // namespace window

// The toolkit's own message box and file dialog, answered as a person would.
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

#include "main_window.h"
#include "qt_message_boxes.h"
#include "qt_open_file_dialog.h"
#include "qt_program_end.h"

namespace {

// Runs `answer` on the modal dialog of type T once it is up; gives up after a
// few seconds so that a dialog that never shows fails the test instead of
// hanging it.
template <typename T>
void whenShown(const std::function<void(T*)>& answer, bool* answered) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, answered, tries] {
        T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->isVisible()) {
            timer->stop();
            timer->deleteLater();
            *answered = true;
            answer(dialog);
        } else if (++*tries > 500) {
            timer->stop();
            timer->deleteLater();
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        }
    });
    timer->start(10);
}

TEST(QtMessageBoxes, ModalBoxWithTheTextOneOkButtonNoIconAndTheApplicationTitle) {
    QWidget parent;
    parent.show();
    window::QtMessageBoxes boxes(&parent);

    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    int buttons = 0;
    Qt::WindowModality modality = Qt::NonModal;
    bool answered = false;
    whenShown<QMessageBox>(
        [&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = static_cast<int>(box->buttons().size());
            modality = box->windowModality();
            QPushButton* ok = qobject_cast<QPushButton*>(box->button(QMessageBox::Ok));
            ASSERT_NE(ok, nullptr);
            ok->click();
        },
        &answered);
    boxes.show(QString::fromUtf8("O Arquivo de Segurança Não Pode Ser Criado."));

    ASSERT_TRUE(answered) << "no message box came up";
    EXPECT_EQ(text, QString::fromUtf8("O Arquivo de Segurança Não Pode Ser Criado."));
    EXPECT_EQ(title, QGuiApplication::applicationDisplayName());
    EXPECT_EQ(title, "Compactador");
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(modality, Qt::ApplicationModal);
}

class QtFileDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        for (const char* name : {"loja.mdb", "notas.txt"}) {
            QFile file(folder.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        parent.show();
    }

    QTemporaryDir folder;
    QWidget parent;
};

TEST_F(QtFileDialog, ListsMdbFilesReturnsTheChosenPathAndOpensThereNextTime) {
    window::QtOpenFileDialog dialog(&parent);
    EXPECT_EQ(dialog.objectName(), "CaixaAbrirArquivo");
    EXPECT_EQ(dialog.parent(), &parent);

    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool answered = false;
    whenShown<QFileDialog>(
        [&](QFileDialog* shown) {
            filters = shown->nameFilters();
            mode = shown->fileMode();
            shown->setDirectory(folder.path());
            shown->selectFile(folder.filePath("loja.mdb"));
            static_cast<QDialog*>(shown)->accept();  // as the Open button does
        },
        &answered);
    const QString chosen = dialog.open("*.mdb");
    ASSERT_TRUE(answered) << "no file dialog came up";
    EXPECT_EQ(filters, QStringList{"*.mdb"});
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_EQ(QDir::cleanPath(chosen), QDir::cleanPath(folder.filePath("loja.mdb")));

    // The next showing starts in the folder of the file chosen before, again
    // listing *.mdb; closing it without a choice gives an empty name.
    QString directory;
    answered = false;
    whenShown<QFileDialog>(
        [&](QFileDialog* shown) {
            directory = shown->directory().absolutePath();
            filters = shown->nameFilters();
            shown->reject();
        },
        &answered);
    EXPECT_TRUE(dialog.open("*.mdb").isEmpty());
    ASSERT_TRUE(answered);
    EXPECT_EQ(QDir(directory).canonicalPath(), QDir(folder.path()).canonicalPath());
    EXPECT_EQ(filters, QStringList{"*.mdb"});
}

// Counts the close events a widget receives.
class CloseCounter final : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close)
            ++closes;
        return false;
    }
    int closes = 0;
};

TEST(QtProgramEnd, RunThatEndsTheProgramEndsTheEventLoopWithoutClosingEvents) {
    window::QtProgramEnd programEnd;
    int runs = 0;
    window::MainWindow form(
        [&](maintenance::StatusSink& sink) {
            ++runs;
            sink.endProgram();
        },
        window::MainWindow::Seams{nullptr, nullptr, &programEnd});
    CloseCounter counter;
    form.installEventFilter(&counter);
    form.show();

    // The click arrives through the event loop, as a person's would.
    QTimer::singleShot(0, form.command1(), [&] { form.command1()->click(); });
    QTimer fallback;  // ends a loop that would otherwise never return
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    fallback.start(10000);
    const int status = QApplication::exec();
    fallback.stop();

    EXPECT_EQ(status, 0);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(counter.closes, 0);
    form.removeEventFilter(&counter);
}

}  // namespace

#include "main_window.h"

#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "file_selection.h"
#include "qt_message_boxes.h"
#include "qt_open_file_dialog.h"
#include "qt_program_end.h"
#include "twips.h"

// The icon lives in this library's resources; a static library's resource
// initialiser is only linked in when something names it.
static void initWindowResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(window);
        return true;
    }();
    (void)registered;
}

namespace window {

namespace {

// A control's place in twips, relative to the client area.
struct TwipRect {
    int left;
    int top;
    int width;
    int height;
};

constexpr int kClientWidth = 7485;
constexpr int kClientHeight = 3195;
constexpr TwipRect kCommand1{1710, 2370, 4185, 795};
constexpr TwipRect kLabel1Caption{60, 60, 1365, 315};
constexpr TwipRect kText1{1440, 30, 5355, 375};
constexpr TwipRect kCommand2{6960, 60, 435, 345};
constexpr TwipRect kLabel1Status{90, 780, 7305, 1005};

QFont captionFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(12);
    font.setBold(true);
    return font;
}

}  // namespace

MainWindow::MainWindow(Procedure procedure, Seams seams, QWidget* parent)
    : QWidget(parent), procedure_(std::move(procedure)) {
    initWindowResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(caption());
    setWindowIcon(icon());

    if (seams.messages == nullptr) {
        ownMessages_ = std::make_unique<QtMessageBoxes>(this);
        seams.messages = ownMessages_.get();
    }
    if (seams.fileDialog == nullptr)
        seams.fileDialog = new QtOpenFileDialog(this);  // owned as a child object
    if (seams.programEnd == nullptr) {
        ownProgramEnd_ = std::make_unique<QtProgramEnd>();
        seams.programEnd = ownProgramEnd_.get();
    }
    messages_ = seams.messages;
    fileDialog_ = seams.fileDialog;
    programEnd_ = seams.programEnd;

    buildControls();
    placeControls();
}

MainWindow::~MainWindow() = default;

QString MainWindow::caption() {
    return QStringLiteral("Compactador de Banco de Dados");
}

QString MainWindow::applicationTitle() {
    return QStringLiteral("Compactador");
}

QIcon MainWindow::icon() {
    initWindowResources();
    return QIcon(QStringLiteral(":/compactador/compactador.png"));
}

QLabel* MainWindow::label1(int index) const {
    return index == 0 || index == 1 ? label1_[index] : nullptr;
}

void MainWindow::buildControls() {
    command1_ = new QPushButton(QStringLiteral("Compactar"), this);
    command1_->setObjectName(QStringLiteral("Command1"));
    command1_->setFont(captionFont());

    label1_[1] = new QLabel(QStringLiteral("Arquivo:"), this);
    label1_[1]->setObjectName(QStringLiteral("Label1_1"));
    label1_[1]->setFont(captionFont());
    label1_[1]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label1_[1]->setTextFormat(Qt::PlainText);

    text1_ = new QLineEdit(this);
    text1_->setObjectName(QStringLiteral("Text1"));

    command2_ = new QPushButton(QStringLiteral("..."), this);
    command2_->setObjectName(QStringLiteral("Command2"));

    label1_[0] = new QLabel(this);
    label1_[0]->setObjectName(QStringLiteral("Label1_0"));
    label1_[0]->setFont(captionFont());
    label1_[0]->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label1_[0]->setWordWrap(true);
    // Paths are shown as they are: "<<...>>" is text, not markup.
    label1_[0]->setTextFormat(Qt::PlainText);

    // Neither button is a default or cancel button: Enter does not press one.
    for (QPushButton* button : {command1_, command2_}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    // Tab order as the controls were numbered; the chain starts at "Compactar",
    // which holds the focus when the window opens.
    QWidget::setTabOrder(command1_, label1_[1]);
    QWidget::setTabOrder(label1_[1], text1_);
    QWidget::setTabOrder(text1_, command2_);
    QWidget::setTabOrder(command2_, label1_[0]);
    command1_->setFocus(Qt::OtherFocusReason);

    connect(command1_, &QPushButton::clicked, this, &MainWindow::compactar);
    connect(command2_, &QPushButton::clicked, this, &MainWindow::selectFile);
}

void MainWindow::placeControls() {
    // Twips to pixels at this screen's logical DPI: 15 twips a pixel at 96.
    const int dpiX = logicalDpiX();
    const int dpiY = logicalDpiY();
    const auto place = [dpiX, dpiY](QWidget* widget, const TwipRect& r) {
        widget->setGeometry(twipsToPixels(r.left, dpiX), twipsToPixels(r.top, dpiY),
                            twipsToPixels(r.width, dpiX), twipsToPixels(r.height, dpiY));
    };
    place(command1_, kCommand1);
    place(label1_[1], kLabel1Caption);
    place(text1_, kText1);
    place(command2_, kCommand2);
    place(label1_[0], kLabel1Status);
    // Nothing reacts to a change of size, so the size is fixed.
    setFixedSize(twipsToPixels(kClientWidth, dpiX), twipsToPixels(kClientHeight, dpiY));
}

void MainWindow::compactar() {
    // A run holds the thread; a click that reaches the window through a modal
    // box's event loop must not start a second one.
    if (running_)
        return;
    running_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{running_};
    procedure_(*this);
}

void MainWindow::selectFile() {
    FileSelection(*fileDialog_, *messages_).run(*text1_);
}

void MainWindow::setBusyPointer() {
    // The whole window, including the path box, which has a pointer of its own.
    setCursor(Qt::WaitCursor);
    text1_->setCursor(Qt::WaitCursor);
}

void MainWindow::setNormalPointer() {
    // The arrow, set explicitly rather than the window's default pointer; the
    // path box goes back to its text pointer.
    setCursor(Qt::ArrowCursor);
    text1_->setCursor(Qt::IBeamCursor);
}

std::string MainWindow::readPathBox() {
    return text1_->text().toStdString();
}

void MainWindow::setStatus(const std::string& text) {
    label1_[0]->setText(QString::fromStdString(text));
}

void MainWindow::repaint() {
    // Paints the window and its controls now, without going through the event
    // loop, which the run holds.
    QWidget::repaint();
}

void MainWindow::showMessage(const std::string& text) {
    messages_->show(QString::fromStdString(text));
}

void MainWindow::endProgram() {
    programEnd_->end();
}

}  // namespace window

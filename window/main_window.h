#pragma once

#include <QIcon>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "maintenance/status_sink.h"
#include "window_seams.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace window {

class MessageBoxes;
class OpenFileDialog;
class ProgramEnd;

// Form1, the program's only window: the path box with its "..." button, the
// "Compactar" button that runs the repair-and-compact procedure, and the status
// label in which the run reports its progress. The window is also what the
// run reports through (its StatusSink).
class MainWindow final : public QWidget, public maintenance::StatusSink {
    Q_OBJECT

public:
    // What a click on "Compactar" runs; the window hands itself as the sink.
    using Procedure = std::function<void(maintenance::StatusSink&)>;

    using Seams = WindowSeams;

    explicit MainWindow(Procedure procedure, Seams seams = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    static QString caption();           // "Compactador de Banco de Dados"
    static QString applicationTitle();  // what message boxes show as their caption
    static QIcon icon();                // the window's and the program's 32x32 icon

    // The controls, by their names.
    QPushButton* command1() const { return command1_; }
    QPushButton* command2() const { return command2_; }
    QLineEdit* text1() const { return text1_; }
    QLabel* label1(int index) const;  // 0: status label, 1: "Arquivo:"

    // StatusSink
    void setBusyPointer() override;
    void setNormalPointer() override;
    std::string readPathBox() override;
    void setStatus(const std::string& text) override;
    void repaint() override;
    void showMessage(const std::string& text) override;
    void endProgram() override;

private:
    void buildControls();
    void placeControls();
    void compactar();
    void selectFile();

    Procedure procedure_;
    std::unique_ptr<MessageBoxes> ownMessages_;
    std::unique_ptr<ProgramEnd> ownProgramEnd_;
    MessageBoxes* messages_;
    OpenFileDialog* fileDialog_;
    ProgramEnd* programEnd_;

    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QLineEdit* text1_ = nullptr;
    QLabel* label1_[2] = {nullptr, nullptr};
    bool running_ = false;
};

}  // namespace window

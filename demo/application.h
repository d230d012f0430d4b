// The application object: names the program and holds the main-window reference.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace chiroscope {

class ChiroscopeApplication : public QApplication {
    Q_OBJECT

public:
    // Qt reads its own options (-platform, -style, ...) from argv, so give it only the program
    // name: Chiroscope takes nothing from its command line.
    ChiroscopeApplication(int& argc, char** argv);

    static ChiroscopeApplication* instance();

    // The window that stands for the program while it runs (the readout dialog), or nullptr.
    QWidget* mainWindow() const { return mainWindow_; }
    void setMainWindow(QWidget* window) { mainWindow_ = window; }

private:
    QPointer<QWidget> mainWindow_;
};

}  // namespace chiroscope

#include "application.h"

#include "resources.h"

namespace chiroscope {

ChiroscopeApplication::ChiroscopeApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The application title, which also titles the message box.
    setApplicationName(QStringLiteral("Chiroscope"));
    setApplicationDisplayName(QStringLiteral("Chiroscope"));
    setApplicationVersion(QStringLiteral("1.0.0.1"));
    // Lets Wayland compositors match the windows to chiroscope.desktop and its icon.
    setDesktopFileName(QStringLiteral("chiroscope"));
}

ChiroscopeApplication* ChiroscopeApplication::instance() {
    return qobject_cast<ChiroscopeApplication*>(QCoreApplication::instance());
}

}  // namespace chiroscope

#include "startup.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

#include "application.h"
#include "chirolink.h"
#include "readout_dialog.h"

namespace chiroscope {

Startup::Startup() : Startup({"COM1", "COM2"}) {}

Startup::Startup(std::vector<std::string> ports) : ports_(std::move(ports)) {}

bool Startup::initInstance() {
    if (!openGlove()) {
        reportNoGlove();
        return false;
    }
    // Controls get their bevelled look from Qt's widget style; nothing to switch on.
    runReadout();
    return false;
}

bool Startup::openGlove() const {
    for (const std::string& port : ports_) {
        if (GloveInit(port.c_str()) != 0) {
            return true;
        }
    }
    return false;
}

void Startup::reportNoGlove() {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(),
                    QStringLiteral("Unable to initialise glove\n"), QMessageBox::Ok);
    box.exec();
}

void Startup::runReadout() {
    ReadoutDialog dialog(&GloveGetDataPtr);
    auto* app = ChiroscopeApplication::instance();
    if (app != nullptr) {
        app->setMainWindow(&dialog);
    }
    dialog.exec();
    if (app != nullptr) {
        app->setMainWindow(nullptr);
    }
}

}  // namespace chiroscope

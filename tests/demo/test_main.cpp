// Runs the tests inside Chiroscope's own application object, on Qt's offscreen platform unless
// the environment chooses another.
#include <gtest/gtest.h>

#include <QtGlobal>

#include "application.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    chiroscope::ChiroscopeApplication app(qtArgc, qtArgv);
    return RUN_ALL_TESTS();
}

// Chiroscope: shows the glove's seven sensor values live.
//
// chiroscope [PORT...]: the glove is looked for on the ports named, in that order ("COM3",
// "/dev/ttyUSB0"); without arguments on COM1, then COM2.
#include "application.h"
#include "startup.h"

int main(int argc, char** argv) {
    // Qt would take options such as -platform from argv; it sees only the program name.
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    chiroscope::ChiroscopeApplication app(qtArgc, qtArgv);

    chiroscope::Startup startup =
        argc > 1 ? chiroscope::Startup({argv + 1, argv + argc}) : chiroscope::Startup();
    startup.initInstance();
    // The readout dialog has run (or the message box was dismissed): the program ends here,
    // and the glove link ends with the process.
    return 0;
}

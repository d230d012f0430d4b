// Start-up: finds the glove on COM1, then COM2 (or on the ports given), and runs the readout
// window, or tells the user that no glove answered.
#pragma once

#include <string>
#include <vector>

namespace chiroscope {

class Startup {
public:
    Startup();
    // Other ports to try in the given order: the command line's, or device paths in tests.
    explicit Startup(std::vector<std::string> ports);

    // Runs the start-up once and returns when the readout window has closed or the message box
    // has been dismissed. Always false: the program ends afterwards, without an event loop.
    bool initInstance();

private:
    bool openGlove() const;
    static void reportNoGlove();
    static void runReadout();

    std::vector<std::string> ports_;
};

}  // namespace chiroscope

// chirolink: shows, records and streams data gloves on serial ports from the command line.
#include <cstdio>
#include <exception>

#include "commands.h"
#include "options.h"
#include "session.h"

int main(int argc, char** argv) {
    using namespace chirolink::cli;
    // Before any thread starts, so that stop requests come to it and to no other thread.
    Console console;
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& e) {
        complain(e.what);
        return 2;
    }
    if (options.version) {
        std::puts("chirolink " CHIROLINK_VERSION);
        return 0;
    }
    if (options.help) {
        std::fputs(usageText(options.command), stdout);
        return 0;
    }
    try {
        switch (*options.command) {
            case Command::show:
                return show(options, console);
            case Command::record:
                return record(options, console);
            case Command::stream:
                return stream(options, console);
            case Command::info:
                return info(options, console);
            case Command::calibrate:
                return calibrate(options, console);
            case Command::ports:
                return ports(options, console);
            case Command::scan:
                return scan(options, console);
        }
    } catch (const std::exception& e) {
        complain(e.what());
    }
    return 1;
}

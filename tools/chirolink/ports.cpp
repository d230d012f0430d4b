// chirolink ports: the machine's serial ports, one a line, without opening any.
#include <cstdio>

#include "commands.h"
#include "port_list.h"

namespace chirolink::cli {
namespace {

// The name to open first: a script takes the first field.
std::string describePort(const PortInfo& port) {
    std::string line = port.name;
    if (!port.stableName.empty()) {
        line += "  " + port.stableName;
    }
    if (port.usb) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", port.usb->vendor, port.usb->product);
        line += std::string("  USB ") + ids;
        if (!port.serialNumber.empty()) {
            line += " serial " + port.serialNumber;
        }
    }
    if (!port.description.empty()) {
        line += "  " + port.description;
    }
    return line;
}

}  // namespace

int ports(const Options&, Console&) {
    auto found = systemPorts();
    sortByName(found);
    for (const auto& port : found) {
        std::printf("%s\n", describePort(port).c_str());
    }
    if (found.empty()) {
        complain("no serial ports on this machine");
    }
    return 0;
}

}  // namespace chirolink::cli

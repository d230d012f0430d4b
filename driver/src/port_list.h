// The machine's serial ports, as chirolink_list_ports reports them. The system's part is one
// file per operating system (platform/posix_port_list.cpp, platform/win32_port_list.cpp);
// port_list.cpp sorts the list and hands it out through the C API.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace chirolink {

struct UsbIds {
    unsigned vendor = 0;
    unsigned product = 0;
};

struct PortInfo {
    std::string name;         ///< what to open: "/dev/ttyUSB0", "COM7"
    std::string stableName;   ///< udev's /dev/serial/by-id link, or empty
    std::string description;  ///< for people
    std::string serialNumber;
    std::optional<UsbIds> usb;
};

/// The machine's serial ports, in no particular order. Throws std::system_error when the
/// system's list cannot be read at all.
std::vector<PortInfo> systemPorts();

#ifndef _WIN32
/// The serial ports that the sysfs tree at `sysRoot` ("/sys") knows, with the names they
/// have under `devRoot` ("/dev"), where udev's by-id links are looked for too. A tree without
/// a class/tty directory has no ports.
std::vector<PortInfo> portsUnder(const std::string& sysRoot, const std::string& devRoot);
#endif

/// Orders ports by name with numbers by value: COM2 before COM10, ttyS2 before ttyS10.
void sortByName(std::vector<PortInfo>& ports);

}  // namespace chirolink

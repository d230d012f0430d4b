// Linux's serial ports, read from sysfs: every tty with a device behind it, the USB details of
// the adapter it sits on, and the by-id links udev made for it. Runs on the caller's thread and
// opens no port.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>

#include "port_list.h"

namespace chirolink {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without its line end and surrounding blanks; empty when
// there is none.
std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    const auto first = line.find_first_not_of(" \t\r\n");
    const auto last = line.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

std::optional<unsigned> hexAttribute(const fs::path& file) {
    const std::string text = attribute(file);
    unsigned value = 0;
    int used = 0;
    if (text.empty() || std::sscanf(text.c_str(), "%x%n", &value, &used) != 1 ||
        used != static_cast<int>(text.size()) || value > 0xFFFF) {
        return std::nullopt;
    }
    return value;
}

// The tty name each by-id link points at ("ttyUSB0"), with the link's path.
std::map<std::string, std::string> byIdLinks(const fs::path& dir) {
    std::map<std::string, std::string> links;
    std::error_code error;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        std::error_code unreadable;
        const fs::path target = fs::read_symlink(it->path(), unreadable);
        if (!unreadable) {
            links.emplace(target.filename().string(), it->path().string());
        }
    }
    return links;
}

// The UART kinds of the kernel's serial core (the tty's `type` attribute) that PCs and boards
// commonly have.
std::string uartKind(const std::string& type) {
    static const std::map<std::string, std::string> kinds{
        {"1", "8250"},   {"2", "16450"},   {"3", "16550"},  {"4", "16550A"},
        {"6", "16650"},  {"7", "16650V2"}, {"8", "16750"},  {"10", "16C950/954"},
        {"11", "16654"}, {"12", "16850"},  {"83", "PL011"}, {"84", "8250 (OMAP)"}};
    const auto kind = kinds.find(type);
    return kind != kinds.end() ? kind->second + " UART" : "UART (type " + type + ")";
}

// The USB device above a tty's device: the first directory upwards with an idVendor, within
// the sysfs tree.
std::optional<fs::path> usbDeviceAbove(fs::path device, const fs::path& root) {
    for (; device.has_relative_path() && device != root; device = device.parent_path()) {
        std::error_code error;
        if (fs::exists(device / "idVendor", error)) {
            return device;
        }
    }
    return std::nullopt;
}

void describeUsb(const fs::path& usb, PortInfo& port) {
    const auto vendor = hexAttribute(usb / "idVendor");
    const auto product = hexAttribute(usb / "idProduct");
    if (vendor && product) {
        port.usb = UsbIds{*vendor, *product};
    }
    port.serialNumber = attribute(usb / "serial");
    const std::string maker = attribute(usb / "manufacturer");
    const std::string name = attribute(usb / "product");
    port.description = name.empty() ? "USB serial port" : name;
    if (!maker.empty()) {
        port.description += " (" + maker + ")";
    }
}

}  // namespace

std::vector<PortInfo> portsUnder(const std::string& sysRoot, const std::string& devRoot) {
    std::vector<PortInfo> ports;
    std::error_code error;
    const fs::path root = fs::canonical(sysRoot, error);
    if (error) {
        return ports;
    }
    const auto links = byIdLinks(fs::path(devRoot) / "serial" / "by-id");
    for (fs::directory_iterator it(root / "class" / "tty", error), end; !error && it != end;
         it.increment(error)) {
        const std::string tty = it->path().filename().string();
        std::error_code missing;
        // Virtual terminals and pseudo-terminals have no device.
        const fs::path device = fs::canonical(it->path() / "device", missing);
        if (missing) {
            continue;
        }
        // A port of the serial core whose UART was not found: a legacy ttyS node that the
        // kernel makes whether or not a UART is there, and whose open fails with EIO.
        const std::string type = attribute(it->path() / "type");
        if (type == "0") {
            continue;
        }
        PortInfo port;
        port.name = devRoot + "/" + tty;
        if (const auto link = links.find(tty); link != links.end()) {
            port.stableName = link->second;
        }
        if (const auto usb = usbDeviceAbove(device, root)) {
            describeUsb(*usb, port);
        } else if (!type.empty()) {
            port.description = uartKind(type);
        } else {
            const std::string driver = fs::read_symlink(device / "driver", missing).filename();
            port.description = missing ? "serial port" : "serial port (" + driver + ")";
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

std::vector<PortInfo> systemPorts() {
    struct stat info {};
    if (stat("/sys/class/tty", &info) != 0) {
        throw std::system_error(errno, std::generic_category(), "/sys/class/tty");
    }
    return portsUnder("/sys", "/dev");
}

}  // namespace chirolink

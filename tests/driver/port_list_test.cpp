// The port listing on sysfs trees made here, and chirolink_list_ports on this machine.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "chirolink_glove.h"
#include "port_list.h"
#include "support.h"

namespace chirolink {
namespace {

namespace fs = std::filesystem;

// A sysfs tree and a /dev directory, made of plain files, directories and links.
class Tree {
public:
    std::string sys() const { return dir_ / "sys"; }
    std::string dev() const { return dir_ / "dev"; }

    void file(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(dir_.path() + "/" + path).parent_path());
        std::ofstream(dir_ / path) << text << "\n";
    }
    // A link at `path` (under the tree) to `target`, relative as sysfs and udev make them.
    void link(const std::string& path, const std::string& target) {
        fs::create_directories(fs::path(dir_.path() + "/" + path).parent_path());
        fs::create_symlink(target, dir_ / path);
    }
    // A tty that sysfs lists with the device at `device` (under sys/devices), or none.
    void tty(const std::string& name, const std::string& device = {}) {
        fs::create_directories(dir_ / ("sys/class/tty/" + name));
        if (!device.empty()) {
            fs::create_directories(dir_ / ("sys/devices/" + device));
            link("sys/class/tty/" + name + "/device", "../../../devices/" + device);
        }
    }

private:
    testing::TempDir dir_;
};

const PortInfo* named(const std::vector<PortInfo>& ports, const std::string& name) {
    for (const auto& port : ports) {
        if (port.name == name) {
            return &port;
        }
    }
    return nullptr;
}

// A PC with an FTDI adapter on USB, its own UART at ttyS0, the legacy ttyS1 with no UART
// behind it, and the virtual terminals that every Linux has.
TEST(PortList, ListsUsbAdaptersAndUartsButNotEmptyLegacyNodes) {
    Tree tree;
    const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-2";
    tree.file("sys/devices/" + usb + "/idVendor", "0403");
    tree.file("sys/devices/" + usb + "/idProduct", "6001");
    tree.file("sys/devices/" + usb + "/serial", "A50285BI");
    tree.file("sys/devices/" + usb + "/manufacturer", "FTDI");
    tree.file("sys/devices/" + usb + "/product", "FT232R USB UART");
    tree.tty("ttyUSB0", usb + "/1-2:1.0/ttyUSB0");
    tree.link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
    tree.tty("ttyS0", "pnp0/00:05");
    tree.file("sys/class/tty/ttyS0/type", "4");
    tree.tty("ttyS1", "platform/serial8250");
    tree.file("sys/class/tty/ttyS1/type", "0");
    tree.tty("tty0");
    tree.tty("ptmx");

    const auto ports = portsUnder(tree.sys(), tree.dev());
    ASSERT_EQ(ports.size(), 2u);
    const PortInfo* adapter = named(ports, tree.dev() + "/ttyUSB0");
    ASSERT_NE(adapter, nullptr);
    EXPECT_EQ(adapter->stableName,
              tree.dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(adapter->description, "FT232R USB UART (FTDI)");
    EXPECT_EQ(adapter->serialNumber, "A50285BI");
    ASSERT_TRUE(adapter->usb.has_value());
    EXPECT_EQ(adapter->usb->vendor, 0x0403u);
    EXPECT_EQ(adapter->usb->product, 0x6001u);

    const PortInfo* uart = named(ports, tree.dev() + "/ttyS0");
    ASSERT_NE(uart, nullptr);
    EXPECT_EQ(uart->description, "16550A UART");
    EXPECT_EQ(uart->stableName, "");
    EXPECT_FALSE(uart->usb.has_value());
}

TEST(PortList, AMachineWithoutSerialPortsHasNone) {
    Tree onlyTerminals;
    onlyTerminals.tty("tty0");
    onlyTerminals.tty("console");
    EXPECT_TRUE(portsUnder(onlyTerminals.sys(), onlyTerminals.dev()).empty());
    Tree noTtyClass;
    noTtyClass.file("sys/kernel/uevent_seqnum", "1");
    EXPECT_TRUE(portsUnder(noTtyClass.sys(), noTtyClass.dev()).empty());
}

TEST(PortList, SortsNumbersByValue) {
    std::vector<PortInfo> ports;
    for (const char* name :
         {"COM10", "/dev/ttyUSB0", "COM2", "/dev/ttyS10", "/dev/ttyS2", "COM1"}) {
        ports.push_back({name, {}, {}, {}, {}});
    }
    sortByName(ports);
    std::vector<std::string> names;
    for (const auto& port : ports) {
        names.push_back(port.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0", "COM1",
                                               "COM2", "COM10"}));
}

// The C call on this machine's own ports, however many it has.
TEST(PortList, CallerSizedArrayGetsTheCountAndAsManyPortsAsFit) {
    int32_t count = -1;
    ASSERT_EQ(chirolink_list_ports(nullptr, 0, &count), CHIROLINK_OK);
    ASSERT_GE(count, 0);
    std::vector<chirolink_port_info> all(static_cast<std::size_t>(count) + 2);
    int32_t again = -1;
    ASSERT_EQ(chirolink_list_ports(all.data(), count + 2, &again), CHIROLINK_OK);
    EXPECT_EQ(again, count);
    for (int32_t i = 0; i < count; ++i) {
        EXPECT_EQ(std::string(all[i].name).rfind("/dev/", 0), 0u) << all[i].name;
        EXPECT_EQ(all[i].usb_vendor_id < 0, all[i].usb_product_id < 0) << all[i].name;
    }
    if (count > 0) {
        chirolink_port_info one[2]{};
        std::memset(&one[1], 0x5A, sizeof one[1]);
        ASSERT_EQ(chirolink_list_ports(one, 1, &again), CHIROLINK_OK);
        EXPECT_EQ(again, count);
        EXPECT_STREQ(one[0].name, all[0].name);
        EXPECT_EQ(one[1].name[0], 0x5A) << "written past the capacity";
    }
    EXPECT_EQ(chirolink_list_ports(nullptr, 1, &count), CHIROLINK_ERR_ARG);
    EXPECT_EQ(chirolink_list_ports(all.data(), -1, &count), CHIROLINK_ERR_ARG);
    EXPECT_EQ(chirolink_list_ports(all.data(), 1, nullptr), CHIROLINK_ERR_ARG);
}

}  // namespace
}  // namespace chirolink

// Windows' serial ports: the devices of the Ports class from SetupAPI, with their friendly
// names and USB ids, then every other port in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (ports of
// drivers that install no device of that class, and Wine's). Runs on the caller's thread and
// opens no port.
#include <windows.h>
// windows.h first: SetupAPI's header needs its types.
#include <setupapi.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "port_list.h"

namespace chirolink {
namespace {

// GUID_DEVCLASS_PORTS: serial and parallel ports.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// A string (or the first string of a list) from a registry value, without its terminator.
std::wstring registryString(const wchar_t* data, DWORD bytes) {
    std::wstring text(data, bytes / sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    return text;
}

std::wstring deviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[512] = {};
    DWORD type = 0;
    DWORD bytes = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                           &bytes) ||
        (type != REG_SZ && type != REG_MULTI_SZ)) {
        return {};
    }
    return registryString(buffer, bytes);
}

std::wstring portNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    wchar_t buffer[64] = {};
    DWORD type = 0;
    DWORD bytes = sizeof buffer - 2;
    const LONG read =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_SZ ? registryString(buffer, bytes) : std::wstring();
}

// The four hexadecimal digits after `tag` ("VID_") in a hardware id, in any letter case.
std::optional<unsigned> hexAfter(std::wstring id, const std::wstring& tag) {
    std::transform(id.begin(), id.end(), id.begin(), [](wchar_t c) { return std::towupper(c); });
    const auto at = id.find(tag);
    if (at == std::wstring::npos || id.size() < at + tag.size() + 4) {
        return std::nullopt;
    }
    const std::wstring digits = id.substr(at + tag.size(), 4);
    if (!std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return std::iswxdigit(c); })) {
        return std::nullopt;
    }
    return static_cast<unsigned>(std::wcstoul(digits.c_str(), nullptr, 16));
}

// The USB serial number in a device instance id: "USB\VID_0403&PID_6001\A50285BI"; ids made up
// by Windows for a device without one hold '&'. FTDI's own bus: "FTDIBUS\VID_0403+PID_6001+
// A50285BIA\0000", the serial number followed by the port's letter.
std::wstring serialNumberOf(const std::wstring& instance) {
    const auto first = instance.find(L'\\');
    const auto second = instance.find(L'\\', first == std::wstring::npos ? first : first + 1);
    if (first == std::wstring::npos || second == std::wstring::npos) {
        return {};
    }
    const std::wstring bus = instance.substr(0, first);
    if (_wcsicmp(bus.c_str(), L"USB") == 0) {
        const std::wstring serial = instance.substr(second + 1);
        return serial.find(L'&') == std::wstring::npos ? serial : std::wstring();
    }
    if (_wcsicmp(bus.c_str(), L"FTDIBUS") == 0) {
        const std::wstring ids = instance.substr(first + 1, second - first - 1);
        const auto plus = ids.rfind(L'+');
        if (plus != std::wstring::npos && ids.size() > plus + 2) {
            return ids.substr(plus + 1, ids.size() - plus - 2);
        }
    }
    return {};
}

bool isComName(const std::wstring& name) {
    return name.size() > 3 && _wcsnicmp(name.c_str(), L"COM", 3) == 0;
}

void addClassDevices(std::vector<PortInfo>& ports) {
    const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const std::wstring name = portNameOf(set, device);
        if (!isComName(name)) {
            continue;  // a printer port
        }
        PortInfo port;
        port.name = utf8(name);
        std::wstring description = deviceProperty(set, device, SPDRP_FRIENDLYNAME);
        port.description =
            utf8(description.empty() ? deviceProperty(set, device, SPDRP_DEVICEDESC) : description);
        const std::wstring hardware = deviceProperty(set, device, SPDRP_HARDWAREID);
        const auto vendor = hexAfter(hardware, L"VID_");
        const auto product = hexAfter(hardware, L"PID_");
        if (vendor && product) {
            port.usb = UsbIds{*vendor, *product};
            wchar_t instance[512] = {};
            if (SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr)) {
                port.serialNumber = utf8(serialNumberOf(instance));
            }
        }
        ports.push_back(std::move(port));
    }
    SetupDiDestroyDeviceInfoList(set);
}

void addDeviceMap(std::vector<PortInfo>& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t device[256] = {};
        wchar_t name[64] = {};
        DWORD deviceLength = 255;
        DWORD bytes = sizeof name - 2;
        DWORD type = 0;
        const LONG read = RegEnumValueW(key, index, device, &deviceLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &bytes);
        if (read == ERROR_NO_MORE_ITEMS) {
            break;
        }
        const std::wstring port =
            read == ERROR_SUCCESS && type == REG_SZ ? registryString(name, bytes) : std::wstring();
        const std::string utf8Name = utf8(port);
        if (!isComName(port) || std::any_of(ports.begin(), ports.end(), [&](const PortInfo& known) {
                return _stricmp(known.name.c_str(), utf8Name.c_str()) == 0;
            })) {
            continue;
        }
        ports.push_back({utf8Name, {}, "serial port (" + utf8(device) + ")", {}, std::nullopt});
    }
    RegCloseKey(key);
}

}  // namespace

std::vector<PortInfo> systemPorts() {
    std::vector<PortInfo> ports;
    addClassDevices(ports);
    addDeviceMap(ports);
    return ports;
}

}  // namespace chirolink

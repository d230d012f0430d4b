// chirolink_list_ports: the system's ports, sorted and copied into the caller's array. Runs on
// the caller's thread.
#include "port_list.h"

#include <algorithm>
#include <cstring>

#include "chirolink_glove.h"

namespace chirolink {
namespace {

static_assert(sizeof(chirolink_port_info) == 904, "a fixed layout, as bindings declare it");

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The run of digits at `at` as a number's digits without leading zeros; moves `at` past it.
std::string numberAt(const std::string& text, std::size_t& at) {
    const std::size_t start = at;
    while (at < text.size() && isDigit(text[at])) {
        ++at;
    }
    std::string digits = text.substr(start, at - start);
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    return digits;
}

// Compares runs of digits by value and everything else character by character.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::string numberA = numberAt(a, i);
            const std::string numberB = numberAt(b, j);
            if (numberA != numberB) {
                // The longer run is the larger number.
                return numberA.size() != numberB.size() ? numberA.size() < numberB.size()
                                                        : numberA < numberB;
            }
        } else if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        } else {
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// Copies `text` into a field of `size` bytes, zero-terminated; a text too long is cut before
// the UTF-8 character that does not fit.
template <std::size_t size>
void copyText(char (&field)[size], const std::string& text) {
    std::size_t length = std::min(text.size(), size - 1);
    if (length < text.size()) {
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

}  // namespace

void sortByName(std::vector<PortInfo>& ports) {
    std::sort(ports.begin(), ports.end(),
              [](const PortInfo& a, const PortInfo& b) { return naturalLess(a.name, b.name); });
}

}  // namespace chirolink

using namespace chirolink;

extern "C" CHIROLINK_API int32_t CHIROLINK_CALL chirolink_list_ports(chirolink_port_info* ports,
                                                                     int32_t capacity,
                                                                     int32_t* count) {
    if (count == nullptr || capacity < 0 || (ports == nullptr && capacity > 0)) {
        return CHIROLINK_ERR_ARG;
    }
    *count = 0;
    try {
        std::vector<PortInfo> found = systemPorts();
        // A name that would be cut could not be opened.
        std::erase_if(found, [](const PortInfo& port) {
            return port.name.size() >= CHIROLINK_PORT_NAME_SIZE;
        });
        sortByName(found);
        const auto total = static_cast<int32_t>(std::min<std::size_t>(found.size(), INT32_MAX));
        for (int32_t i = 0; i < std::min(total, capacity); ++i) {
            const PortInfo& port = found[static_cast<std::size_t>(i)];
            chirolink_port_info& out = ports[i];
            std::memset(&out, 0, sizeof out);
            copyText(out.name, port.name);
            copyText(out.stable_name, port.stableName);
            copyText(out.description, port.description);
            copyText(out.serial_number, port.serialNumber);
            out.usb_vendor_id = port.usb ? static_cast<int32_t>(port.usb->vendor) : -1;
            out.usb_product_id = port.usb ? static_cast<int32_t>(port.usb->product) : -1;
        }
        *count = total;
        return CHIROLINK_OK;
    } catch (...) {
        return CHIROLINK_ERR_SYSTEM;
    }
}

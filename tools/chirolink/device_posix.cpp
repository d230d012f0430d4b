#include "device.h"

#include "platform/platform.h"

namespace chirolink::cli {

std::string deviceOf(const std::string& port) {
    return platform::devicePath(port.c_str());
}

}  // namespace chirolink::cli

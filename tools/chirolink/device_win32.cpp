#include "device.h"

namespace chirolink::cli {

// Windows opens a port by its own name ("COM1" as \\.\COM1): there is nothing more to show.
std::string deviceOf(const std::string& port) {
    return port;
}

}  // namespace chirolink::cli

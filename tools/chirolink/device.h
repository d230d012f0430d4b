// What a port name stands for on this system, for messages: device_posix.cpp, device_win32.cpp.
#pragma once

#include <string>

namespace chirolink::cli {

// The device a port name opens ("COM1": /dev/ttyS0 on Linux); the name itself where the system
// opens it as it is.
std::string deviceOf(const std::string& port);

}  // namespace chirolink::cli

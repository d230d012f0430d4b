// Frames as OSC messages over UDP (liblo): /chirolink/<n>/frame with the arguments
// iiiiiiiihd: finger 1 to 5, roll, pitch, checksum good (1/0), sequence, monotonic seconds.
#pragma once

#include <lo/lo.h>

#include <string>

#include "glove_link.h"

namespace chirolink::cli {

// The numeric address of `host` for UDP, or an error text (host unknown, ...).
struct Resolved {
    std::string address;
    std::string error;
};
Resolved resolveHost(const std::string& host, const std::string& port);

// Sends the frames of glove number `n` (1 for the first port given). One per thread.
class OscSender {
public:
    OscSender(const std::string& address, const std::string& port, int n);
    ~OscSender();
    OscSender(const OscSender&) = delete;
    OscSender& operator=(const OscSender&) = delete;

    // False when the message could not be sent.
    bool send(const StampedFrame& frame);

private:
    lo_address target_;
    std::string path_;
};

}  // namespace chirolink::cli

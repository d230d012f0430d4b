// A serial port's receive buffer: what one read took from the driver beyond what was asked
// for, served to the next reads, and how much of the answer under way is still to come.
#pragma once

#include <cstddef>
#include <cstdint>

namespace chirolink::platform {

class ReceiveBuffer {
public:
    // As many as the terminal layer holds for a reader, so that a hunt through a burst of
    // junk takes a read or two.
    static constexpr std::size_t kSize = 4096;

    /// Hands up to `size` pending bytes to a reader; how many.
    std::size_t take(std::uint8_t* data, std::size_t size);
    /// Reads whatever the driver holds for `fd` into the buffer, which must be empty. False
    /// when the device is gone.
    bool fill(int fd);
    bool empty() const { return begin_ == end_; }

    /// The answer to what was just written has `bytes` bytes in all.
    void expect(std::size_t bytes) { expected_ = bytes; }
    /// Bytes of the announced answer that no reader has taken yet.
    std::size_t expected() const { return expected_; }

private:
    std::size_t expected_ = 0;
    // Received, not yet asked for, oldest first: pending_[begin_, end_).
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint8_t pending_[kSize];
};

}  // namespace chirolink::platform

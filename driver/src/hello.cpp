// The hello and the start-up handshake. Runs on whichever thread starts or reopens a link.
#include "hello.h"

#include "protocol.h"
#include "sample_buffer.h"

namespace chirolink {

bool HelloResult::gloveAnswered() const {
    return count == 1 && answer == protocol::kHelloAnswer;
}

HelloResult sayHello(platform::Handle port, const platform::Wakeup* wakeup) {
    using platform::Transfer;
    const auto sent = platform::writePort(port, &protocol::kHello, 1, wakeup);
    if (sent.status == Transfer::failed || sent.status == Transfer::woken) {
        return {sent.status, 0, 0};
    }
    if (wakeup == nullptr) {
        platform::sleepMilliseconds(protocol::kHelloPauseMs);
    } else if (platform::waitForWakeup(*wakeup, protocol::kHelloPauseMs)) {
        return {Transfer::woken, 0, 0};
    }
    // The answer is one byte. Bytes before it can only be the rest of an answer to a request
    // of the port's previous user, in flight when the port was opened: they are read past, a
    // few at most, each under the usual limit, until 0x55 comes or the line goes quiet.
    HelloResult result{Transfer::timedOut, 0, 0};
    for (int read = 0; read < protocol::kHelloReadLimit; ++read) {
        std::uint8_t byte = 0;
        const auto got = platform::readPort(port, &byte, 1, wakeup);
        result.status = got.status;
        if (got.count == 1) {
            result.count = 1;
            result.answer = byte;
        }
        if (got.count != 1 || byte == protocol::kHelloAnswer) {
            break;
        }
    }
    return result;
}

bool handshake(std::uint64_t& sample, platform::Handle port) {
    for (int attempt = 0; attempt < protocol::kHelloAttempts; ++attempt) {
        const HelloResult hello = sayHello(port, nullptr);
        if (hello.count == 1) {
            auto bytes = loadSample(sample);
            bytes[0] = hello.answer;
            publishSample(sample, bytes);
        }
        if (hello.gloveAnswered()) {
            return true;
        }
        if (hello.status == platform::Transfer::failed) {
            return false;  // the device is gone: no answer can come
        }
        platform::sleepMilliseconds(protocol::kHelloPauseMs);
    }
    return false;
}

}  // namespace chirolink

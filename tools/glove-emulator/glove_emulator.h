// Glove emulator: plays the glove's side of the serial line on a pseudo-terminal so that the
// driver, its tests and the demo can run without the hardware.
//
// The host opens path() like a serial port. The emulator answers a hello byte (0x41) with 0x55
// and a request byte (0x43) with a 0x80 header and an 8-byte frame: Finger1..Finger5, Roll,
// Pitch and the XOR of those seven bytes. Other bytes are logged and ignored.
//
// Timing: by default the line is paced like 19200 baud 8N1 (one byte = 10 bit times =
// 0.5208 ms). An answer starts one byte time after the byte that asked for it was read (the time
// that byte took on the wire) and each answer byte is handed to the host one byte time after the
// previous one, so a request/frame exchange takes about 5.2 ms. In instant mode answers are
// written in one piece as soon as the request is read.
//
// Replay: replay() makes the emulator serve a recorded session instead of its own values. Its
// clock starts at the first request after the call; from then on every request is answered with
// the latest recorded frame whose offset has passed (the first frame until then, the last one
// after the end), checksum byte as recorded.
//
// Fault counters (answerHelloFrom, corruptChecksumEvery, dropReplyEvery, stopAfterFrames) count
// from the moment they are set; set them before the host starts talking for whole-session counts.
#pragma once

#include <termios.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace chirolink::tools {

// One frame of a recording: when it came, counted from the recording's first frame, and its
// seven values and checksum byte as they were received (good or not).
struct RecordedFrame {
    std::chrono::nanoseconds offset{};
    std::array<std::uint8_t, 8> bytes{};
};

struct ReceivedByte {
    std::chrono::steady_clock::time_point at;
    std::uint8_t value;
};

class GloveEmulator {
public:
    using Clock = std::chrono::steady_clock;
    // Receives one line of the emulator's own log ("rx 0x43", "unplugged", ...). Called on the
    // emulator thread (or on the thread that called unplug()/plug()), never with locks held.
    using EventSink = std::function<void(Clock::time_point at, std::string_view what)>;

    static constexpr std::uint8_t kHello = 0x41;
    static constexpr std::uint8_t kHelloAnswer = 0x55;
    static constexpr std::uint8_t kRequest = 0x43;
    static constexpr std::uint8_t kHeader = 0x80;
    static constexpr std::size_t kSensorCount = 7;
    static constexpr std::size_t kFrameSize = kSensorCount + 1;
    // 10 bit times at 19200 baud.
    static constexpr std::chrono::nanoseconds kByteTime{520833};

    // XOR of the sensor bytes: the checksum byte of a correct frame.
    static std::uint8_t checksum(const std::array<std::uint8_t, kSensorCount>& values);

    // Opens a pseudo-terminal in raw mode, keeps a slave fd of its own open (so the master never
    // sees a hang-up while the host has the port closed) and starts answering on its own thread.
    // linkPath: when not empty, a symlink there always points at the current slave.
    // Throws std::system_error when the pseudo-terminal or the link cannot be set up.
    explicit GloveEmulator(std::string linkPath = {});
    ~GloveEmulator();
    GloveEmulator(const GloveEmulator&) = delete;
    GloveEmulator& operator=(const GloveEmulator&) = delete;

    std::string slavePath() const;  // the current /dev/pts/N (empty while unplugged)
    std::string path() const;       // the link path when given, else slavePath()
    Clock::time_point startedAt() const { return started_; }

    // Behaviour; thread-safe, may change while running.
    void setInstant(bool instant);
    void setFixedValues(std::array<std::uint8_t, kSensorCount> values);
    void setAnimated();
    // Serves `frames` (offsets in ascending order) from the next request on; empty: back to
    // the emulator's own values.
    void replay(std::vector<RecordedFrame> frames);
    void setSilent(bool silent);
    void setHelloAnswer(std::uint8_t answer);
    // Bytes sent before every hello answer, as the rest of an answer to an earlier host's
    // request would arrive.
    void setBeforeHelloAnswer(std::vector<std::uint8_t> bytes);
    void answerHelloFrom(int n);
    void setNoiseBeforeHeader(std::vector<std::uint8_t> noise);
    void corruptChecksumEvery(int n);
    void dropReplyEvery(int n);
    void stopAfterFrames(int n);
    // Schedules an unplug `seconds` from now and, when replugAfterSeconds >= 0, a plug that long
    // after the unplug. A new call replaces the schedule.
    void unplugAfter(double seconds, double replugAfterSeconds);
    // Closes the master and the emulator's own slave fd and removes the link: a host holding the
    // slave open sees POLLHUP, read() returns 0 and write() fails with EIO (Linux hang-up
    // semantics); reopening the old slave path fails. Bytes not yet sent are lost.
    void unplug();
    // New pseudo-terminal in raw mode behind the same link. No-op while plugged.
    void plug();
    bool plugged() const;
    bool waitForPlugged(bool plugged, std::chrono::milliseconds timeout) const;
    // Bytes to the host unasked, paced like answers.
    void sendRaw(std::vector<std::uint8_t> bytes);
    void setEventSink(EventSink sink);

    // Observation.
    std::vector<ReceivedByte> received() const;
    std::size_t countReceived(std::uint8_t value) const;
    bool waitForReceived(std::uint8_t value, std::size_t count,
                         std::chrono::milliseconds timeout) const;
    std::size_t framesSent() const;
    bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    std::array<std::uint8_t, kFrameSize> lastFrame() const;
    void clearLog();
    bool lineSettings(termios& out) const;
    int masterFd() const;

private:
    struct Outgoing {
        Clock::time_point due;
        std::uint8_t value;
        bool endsFrame;  // the checksum byte: the frame counts as sent once it is written
        std::array<std::uint8_t, kFrameSize> frame;
    };
    using Events = std::vector<std::pair<Clock::time_point, std::string>>;

    void run();
    void openLine();                 // requires the lock and !plugged_
    void closeLine(Events& events);  // requires the lock and plugged_
    void updateLink();
    void removeLink();
    void wake();
    void emit(Events& events) const;
    void readFromHost(Clock::time_point now, Events& events);
    void handleByte(std::uint8_t value, Clock::time_point now, Events& events);
    void queueAnswer(const std::vector<std::uint8_t>& bytes, Clock::time_point readAt, bool isFrame,
                     const std::array<std::uint8_t, kFrameSize>& frame);
    void writeDue(Clock::time_point now);
    void runTimers(Clock::time_point now, Events& events);
    std::optional<Clock::time_point> nextDeadline() const;
    std::array<std::uint8_t, kSensorCount> currentValues(Clock::time_point now) const;
    std::array<std::uint8_t, kFrameSize> replayedFrame(Clock::time_point now, Events& events);

    const std::string linkPath_;
    const Clock::time_point started_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;

    // Line; guarded by mutex_. Every read, write and close of these fds happens under the lock.
    bool plugged_ = false;
    int master_ = -1;
    int ownSlave_ = -1;
    std::string slavePath_;
    unsigned generation_ = 0;  // bumped on every unplug/plug so stale poll results are ignored
    bool masterBroken_ = false;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    bool stopping_ = false;
    unsigned linkCounter_ = 0;

    // Behaviour; guarded by mutex_.
    bool instant_ = false;
    std::optional<std::array<std::uint8_t, kSensorCount>> fixed_;
    std::vector<RecordedFrame> replay_;
    std::optional<Clock::time_point> replayStart_;
    bool replayEnded_ = false;
    bool silent_ = false;
    std::uint8_t helloAnswer_ = kHelloAnswer;
    std::vector<std::uint8_t> beforeHelloAnswer_;
    int answerHelloFrom_ = 1;
    std::vector<std::uint8_t> noise_;
    int corruptEvery_ = 0;
    int dropEvery_ = 0;
    int stopAfter_ = -1;
    std::optional<Clock::time_point> unplugAt_;
    std::optional<Clock::time_point> replugAt_;
    double replugAfter_ = -1.0;
    EventSink sink_;

    // Counters since the matching setter; guarded by mutex_.
    std::size_t hellos_ = 0;
    std::size_t requests_ = 0;
    std::size_t framesForCorruption_ = 0;
    std::size_t framesForStop_ = 0;

    // Output pacing and observation; guarded by mutex_.
    std::deque<Outgoing> outgoing_;
    Clock::time_point txFreeAt_{};
    std::vector<ReceivedByte> log_;
    std::array<std::size_t, 256> counts_{};
    std::size_t framesSent_ = 0;
    std::array<std::uint8_t, kFrameSize> lastFrame_{};

    std::thread thread_;
};

}  // namespace chirolink::tools

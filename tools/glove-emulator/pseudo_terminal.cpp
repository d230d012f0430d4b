// The emulator's line: the pseudo-terminal in raw mode, the symlink that follows it, and
// unplugging and plugging it (at once or on a schedule the emulator thread keeps).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fd.h"
#include "glove_emulator.h"

namespace chirolink::tools {

void GloveEmulator::openLine() {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        throwErrno("posix_openpt");
    }
    auto fail = [&](const char* what) {
        const int saved = errno;
        ::close(master);
        errno = saved;
        throwErrno(what);
    };
    if (::grantpt(master) != 0) {
        fail("grantpt");
    }
    if (::unlockpt(master) != 0) {
        fail("unlockpt");
    }
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        fail("ptsname_r");
    }
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::fcntl(master, F_SETFD, FD_CLOEXEC) != 0) {
        fail("fcntl");
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        fail("open slave");
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0) {
        ::close(slave);
        fail("tcgetattr");
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    if (::tcsetattr(slave, TCSANOW, &tio) != 0) {
        ::close(slave);
        fail("tcsetattr");
    }
    master_ = master;
    ownSlave_ = slave;
    slavePath_ = name;
    plugged_ = true;
    masterBroken_ = false;
    ++generation_;
    txFreeAt_ = Clock::time_point{};
    try {
        updateLink();
    } catch (...) {
        Events ignored;
        closeLine(ignored);
        throw;
    }
    changed_.notify_all();
}

void GloveEmulator::closeLine(Events& events) {
    closeFd(master_);
    closeFd(ownSlave_);
    removeLink();
    slavePath_.clear();
    plugged_ = false;
    ++generation_;
    outgoing_.clear();
    changed_.notify_all();
    events.emplace_back(Clock::now(), "unplugged");
}

void GloveEmulator::updateLink() {
    if (linkPath_.empty()) {
        return;
    }
    const std::string temp =
        linkPath_ + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++linkCounter_);
    ::unlink(temp.c_str());
    if (::symlink(slavePath_.c_str(), temp.c_str()) != 0) {
        throwErrno("symlink");
    }
    if (::rename(temp.c_str(), linkPath_.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        throwErrno("rename");
    }
}

void GloveEmulator::removeLink() {
    if (linkPath_.empty()) {
        return;
    }
    struct stat st {};
    if (::lstat(linkPath_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        ::unlink(linkPath_.c_str());
    }
}

std::string GloveEmulator::slavePath() const {
    std::lock_guard lock(mutex_);
    return slavePath_;
}

std::string GloveEmulator::path() const {
    return linkPath_.empty() ? slavePath() : linkPath_;
}

void GloveEmulator::unplugAfter(double seconds, double replugAfterSeconds) {
    {
        std::lock_guard lock(mutex_);
        unplugAt_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(std::max(seconds, 0.0)));
        replugAt_.reset();
        replugAfter_ = replugAfterSeconds;
    }
    wake();
}

void GloveEmulator::unplug() {
    Events events;
    {
        std::lock_guard lock(mutex_);
        if (!plugged_) {
            return;
        }
        closeLine(events);
    }
    wake();
    emit(events);
}

void GloveEmulator::plug() {
    Events events;
    {
        std::lock_guard lock(mutex_);
        if (plugged_) {
            return;
        }
        openLine();
        events.emplace_back(Clock::now(), "plugged " + slavePath_);
    }
    wake();
    emit(events);
}

bool GloveEmulator::plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

bool GloveEmulator::waitForPlugged(bool plugged, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return plugged_ == plugged; });
}

bool GloveEmulator::lineSettings(termios& out) const {
    std::lock_guard lock(mutex_);
    return plugged_ && ::tcgetattr(master_, &out) == 0;
}

int GloveEmulator::masterFd() const {
    std::lock_guard lock(mutex_);
    return master_;
}

void GloveEmulator::runTimers(Clock::time_point now, Events& events) {
    if (unplugAt_ && *unplugAt_ <= now) {
        unplugAt_.reset();
        if (plugged_) {
            closeLine(events);
        }
        if (replugAfter_ >= 0) {
            replugAt_ = now + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(replugAfter_));
        }
    }
    if (replugAt_ && *replugAt_ <= now) {
        replugAt_.reset();
        if (!plugged_) {
            try {
                openLine();
                events.emplace_back(now, "plugged " + slavePath_);
            } catch (const std::system_error& e) {
                events.emplace_back(now, std::string("replug failed: ") + e.what());
            }
        }
    }
}

}  // namespace chirolink::tools

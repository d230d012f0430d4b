// A program the tests run as a real process, with its standard output and error captured.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace chirolink::tools::test {

class Process {
public:
    // Starts `program` with `args`. Standard output goes to `stdoutFd` when given (a terminal),
    // else into out(); standard error into err().
    Process(const std::string& program, const std::vector<std::string>& args, int stdoutFd = -1) {
        int outPipe[2] = {-1, -1};
        int errPipe[2];
        EXPECT_EQ(::pipe2(errPipe, O_CLOEXEC), 0);
        if (stdoutFd < 0) {
            EXPECT_EQ(::pipe2(outPipe, O_CLOEXEC), 0);
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, stdoutFd >= 0 ? stdoutFd : outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        if (stdoutFd < 0) {
            ::close(outPipe[1]);
            outFd_ = outPipe[0];
        }
        ::close(errPipe[1]);
        errFd_ = errPipe[0];
        reader_ = std::thread([this] { drain(); });
    }
    ~Process() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            wait(std::chrono::seconds(10));
        }
        if (reader_.joinable()) {
            reader_.join();
        }
    }

    void signal(int number) { ::kill(pid_, number); }

    // The exit status, -1 when it did not exit normally within `timeout` (then it is killed).
    int wait(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                status = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        exited_ = true;
        reader_.join();
        return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Complete once wait() returned.
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

private:
    void drain() {
        pollfd fds[2] = {{errFd_, POLLIN, 0}, {outFd_, POLLIN, 0}};
        std::string* into[2] = {&err_, &out_};
        int open = outFd_ >= 0 ? 2 : 1;
        while (open > 0 && ::poll(fds, outFd_ >= 0 ? 2 : 1, -1) > 0) {
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd >= 0 && fds[i].revents != 0) {
                    char buffer[4096];
                    const auto n = ::read(fds[i].fd, buffer, sizeof buffer);
                    if (n > 0) {
                        into[i]->append(buffer, static_cast<std::size_t>(n));
                    } else {
                        ::close(fds[i].fd);
                        fds[i].fd = -1;
                        --open;
                    }
                }
            }
        }
    }

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    bool exited_ = false;
    std::string out_, err_;
    std::thread reader_;
};

// Runs `program` to its end (at most 30 s).
struct Finished {
    int status;
    std::string out, err;
};
inline Finished runToEnd(const std::string& program, const std::vector<std::string>& args) {
    Process process(program, args);
    const int status = process.wait(std::chrono::seconds(30));
    return {status, process.out(), process.err()};
}

}  // namespace chirolink::tools::test

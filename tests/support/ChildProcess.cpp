#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace {

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env) {
    int fds[2];
    if (pipe(fds) != 0) return;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return;
    }
    pid_ = pid;
    fd_ = fds[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
}

void ChildProcess::readAvailable(int timeoutMs) {
    if (fd_ < 0) return;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n > 0) {
        output_.append(buffer, static_cast<size_t>(n));
    } else {
        close(fd_);
        fd_ = -1;
    }
}

bool ChildProcess::waitForOutput(const std::string& text, int timeoutMs, size_t from) {
    const int64_t deadline = nowMs() + timeoutMs;
    const auto found = [&] {
        return output_.size() >= from && output_.find(text, from) != std::string::npos;
    };
    while (!found()) {
        const int64_t left = deadline - nowMs();
        if (left <= 0 || fd_ < 0) return found();
        readAvailable(static_cast<int>(std::min<int64_t>(left, 50)));
    }
    return true;
}

int ChildProcess::wait(int timeoutMs) {
    const int64_t deadline = nowMs() + timeoutMs;
    while (status_ < 0 && pid_ > 0) {
        readAvailable(20);
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (nowMs() > deadline) return -1;
    }
    while (fd_ >= 0) readAvailable(100);
    return status_;
}

void ChildProcess::signal(int sig) {
    if (pid_ > 0 && status_ < 0) kill(pid_, sig);
}

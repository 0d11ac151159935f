// A child process for end-to-end tests: started with arguments and extra
// environment, its standard output (and error) read through a pipe while it
// runs, killed and reaped when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Reads output until `text` has appeared (at or after offset `from`) or
    // `timeoutMs` has passed.
    bool waitForOutput(const std::string& text, int timeoutMs, size_t from = 0);
    // Waits for the exit; returns the exit code (128 + signal when killed),
    // or -1 after `timeoutMs`.
    int wait(int timeoutMs);
    void signal(int sig);
    const std::string& output() const { return output_; }

  private:
    void readAvailable(int timeoutMs);

    pid_t pid_ = -1;
    int fd_ = -1;
    int status_ = -1;
    std::string output_;
};

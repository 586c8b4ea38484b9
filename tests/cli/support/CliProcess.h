#pragma once

// kanaliko-cli as a child process of a test: its arguments, its standard output
// and error in files, its exit status, signals, and waits for what it prints.

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace clitest {

// The built program and a file of the source tree.
std::string Cli();
std::string Source(const std::string& path);
std::string ReadFile(const std::string& path);

// A child process whose standard output and error go to files.
class CChild
{
public:
    explicit CChild(const std::vector<std::string>& argv);
    ~CChild(); // kills a child that is still running
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    // The exit status (128 + signal when a signal ended it), or -1 when it did
    // not end in time (it keeps running then).
    int Wait(std::chrono::milliseconds limit);
    // True once the condition holds for the output (Out() + Err()); false when
    // the limit passed or the child ended without it.
    bool WaitForOutput(const std::function<bool(const std::string&)>& condition,
                       std::chrono::milliseconds limit);
    bool WaitForText(const std::string& text, std::chrono::milliseconds limit);
    void Signal(int signal);
    std::string Out() const;
    std::string Err() const;

private:
    pid_t m_pid = -1;
    bool m_done = false;
    int m_status = -1;
    std::string m_out;
    std::string m_err;
};

// How many times text occurs in output.
int Count(const std::string& output, const std::string& text);

} // namespace clitest

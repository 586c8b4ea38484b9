#include "cli/support/CliProcess.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace clitest {

using namespace std::chrono_literals;

std::string Cli()
{
    return std::string(std::getenv("KANALIKO_BINARY_DIR")) + "/cli/kanaliko-cli";
}

std::string Source(const std::string& path)
{
    return std::string(std::getenv("KANALIKO_SOURCE_DIR")) + "/" + path;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int Count(const std::string& output, const std::string& text)
{
    int count = 0;
    for (std::size_t at = output.find(text); at != std::string::npos;
         at = output.find(text, at + text.size()))
        ++count;
    return count;
}

CChild::CChild(const std::vector<std::string>& argv)
{
    static int counter = 0;
    const std::string stem = ::testing::TempDir() + "cli_" + std::to_string(getpid()) + "_" +
                             std::to_string(counter++);
    m_out = stem + ".out";
    m_err = stem + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

CChild::~CChild()
{
    if (m_pid > 0 && !m_done) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    std::remove(m_out.c_str());
    std::remove(m_err.c_str());
}

int CChild::Wait(std::chrono::milliseconds limit)
{
    if (m_done)
        return m_status;
    if (m_pid <= 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_done = true;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return m_status;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(10ms);
    }
}

bool CChild::WaitForOutput(const std::function<bool(const std::string&)>& condition,
                           std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition(Out() + Err()))
            return true;
        if (std::chrono::steady_clock::now() >= deadline || Wait(0ms) != -1)
            return condition(Out() + Err());
        std::this_thread::sleep_for(10ms);
    }
}

bool CChild::WaitForText(const std::string& text, std::chrono::milliseconds limit)
{
    return WaitForOutput(
        [&text](const std::string& output) { return output.find(text) != std::string::npos; },
        limit);
}

void CChild::Signal(int signal)
{
    if (m_pid > 0 && !m_done)
        ::kill(m_pid, signal);
}

std::string CChild::Out() const
{
    return ReadFile(m_out);
}

std::string CChild::Err() const
{
    return ReadFile(m_err);
}

} // namespace clitest

#pragma once

// What the raw-socket helper's tests share: an unprivileged test user, the
// helper installed as the package installs it (group-owned, mode 0750,
// cap_net_raw=ep), and child processes run as that user.
//
// The user and the groups are numeric ids that no account or group of the
// machine uses; the kernel needs no name for them, so the tests never edit
// /etc/passwd or /etc/group and cannot clash with a kanaliko group that a real
// installation created. Everything the user runs is copied into a scratch folder
// that the user can reach (a build tree under /root cannot be) on a file system
// that honours file capabilities (not nosuid).

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace rawsocktest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string BinaryDir()
{
    return std::getenv("KANALIKO_BINARY_DIR");
}

inline std::string BuiltHelper()
{
    return BinaryDir() + "/rawsock/kanaliko-rawsock";
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Whether every folder on the way to path may be entered by anyone.
inline bool ReachableByAnyone(const fs::path& path)
{
    for (fs::path p = fs::absolute(path); !p.empty(); p = p.parent_path()) {
        struct stat status
        {};
        if (::stat(p.c_str(), &status) != 0 || (status.st_mode & S_IXOTH) == 0)
            return false;
        if (p == p.root_path())
            break;
    }
    return true;
}

inline bool HonoursFileCapabilities(const fs::path& path)
{
    struct statvfs info
    {};
    return ::statvfs(path.c_str(), &info) == 0 && (info.f_flag & ST_NOSUID) == 0;
}

// An id that no account and no group of this machine has.
inline unsigned FreeId(unsigned start)
{
    for (unsigned id = start;; ++id) {
        if (::getpwuid(id) == nullptr && ::getgrgid(id) == nullptr)
            return id;
    }
}

// The scratch installation: a user (uid), the helper's group (group) and another
// group (otherGroup), kanaliko-cli with its library, and helper copies.
class CScratchInstall
{
public:
    CScratchInstall()
    {
        if (::geteuid() != 0) {
            m_whyNot = "needs root to install the helper with a capability and to run children "
                       "as another user (CI runs as root)";
            return;
        }
        const unsigned base = 0x6B000000u + (static_cast<unsigned>(::getpid()) & 0xFFFFu) * 4;
        uid = FreeId(base);
        group = FreeId(uid + 1);
        otherGroup = FreeId(group + 1);
        for (const fs::path& candidate :
             {fs::path(::testing::TempDir()), fs::path(BinaryDir()) / "test-state"}) {
            std::error_code ignored;
            fs::create_directories(candidate, ignored);
            if (ReachableByAnyone(candidate) && HonoursFileCapabilities(candidate)) {
                std::string pattern = (candidate / "kanaliko-rawsock-XXXXXX").string();
                if (::mkdtemp(pattern.data()) != nullptr) {
                    m_root = pattern;
                    break;
                }
            }
        }
        if (m_root.empty()) {
            m_whyNot = "no scratch folder that other users can reach on a file system that "
                       "honours file capabilities";
            return;
        }
        fs::permissions(m_root, fs::perms(0755));
        fs::create_directories(m_root / "lib");
        fs::create_directories(m_root / "home");
        ::chown((m_root / "home").c_str(), uid, uid);
        fs::copy_file(BinaryDir() + "/cli/kanaliko-cli", m_root / "kanaliko-cli");
        // The program's own shared libraries, under their sonames.
        for (const char* library : {"ferrox", "markuptree"}) {
            const fs::path soname =
                fs::path(BinaryDir()) / library / ("lib" + std::string(library) + ".so.0");
            if (fs::exists(soname))
                fs::copy_file(fs::canonical(soname), m_root / "lib" / soname.filename());
        }
        // As the package's postinst leaves it: group first (chown clears file
        // capabilities), then the mode, then the capability.
        capableHelper = Helper("kanaliko-rawsock", true);
        plainHelper = Helper("kanaliko-rawsock-plain", false);
        if (capableHelper.empty())
            m_whyNot = "setcap (libcap2-bin) could not give the helper copy cap_net_raw";
    }
    ~CScratchInstall()
    {
        if (!m_root.empty()) {
            std::error_code ignored;
            fs::remove_all(m_root, ignored);
        }
    }
    CScratchInstall(const CScratchInstall&) = delete;
    CScratchInstall& operator=(const CScratchInstall&) = delete;

    bool Ready() const { return m_whyNot.empty(); }
    const std::string& WhyNot() const { return m_whyNot; }
    std::string Path(const std::string& name) const { return (m_root / name).string(); }

    // Writes a file the user can read.
    std::string Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(m_root / name, std::ios::binary) << text;
        fs::permissions(m_root / name, fs::perms(0644));
        return Path(name);
    }

    // The command that runs argv as the test user, with only the given groups
    // and no capabilities whatsoever (the bounding set stays, as for any user,
    // so that the helper's file capability can take effect), in namespace ns
    // (empty: this one). helper is what KANALIKO_RAWSOCK names.
    std::vector<std::string> AsUser(const std::string& ns, const std::vector<unsigned>& groups,
                                    const std::string& helper,
                                    const std::vector<std::string>& argv) const
    {
        std::vector<std::string> command;
        if (!ns.empty())
            command = {"ip", "netns", "exec", ns};
        std::string groupList;
        for (unsigned g : groups)
            groupList += (groupList.empty() ? "" : ",") + std::to_string(g);
        command.insert(command.end(),
                       {"setpriv", "--reuid=" + std::to_string(uid),
                        "--regid=" + std::to_string(uid),
                        groups.empty() ? "--clear-groups" : "--groups=" + groupList,
                        "--inh-caps=-all", "--ambient-caps=-all", "env", "HOME=" + Path("home"),
                        "XDG_CONFIG_HOME=" + Path("home"), "XDG_STATE_HOME=" + Path("home"),
                        "LD_LIBRARY_PATH=" + Path("lib"), "KANALIKO_RAWSOCK=" + helper});
        command.insert(command.end(), argv.begin(), argv.end());
        return command;
    }

    unsigned uid = 0;
    unsigned group = 0;
    unsigned otherGroup = 0;
    std::string capableHelper; // root:group 0750 cap_net_raw=ep
    std::string plainHelper;   // root:group 0750, no capability

private:
    std::string Helper(const std::string& name, bool capable)
    {
        const fs::path path = m_root / name;
        fs::copy_file(BuiltHelper(), path);
        if (::chown(path.c_str(), 0, group) != 0 || ::chmod(path.c_str(), 0750) != 0)
            return {};
        if (capable && std::system(("setcap cap_net_raw=ep '" + path.string() + "'").c_str()) != 0)
            return {};
        return path.string();
    }

    fs::path m_root;
    std::string m_whyNot;
};

// A child process whose standard output and error go to files.
class CChild
{
public:
    explicit CChild(const std::vector<std::string>& argv)
    {
        static int counter = 0;
        const std::string stem = ::testing::TempDir() + "rawsock_" + std::to_string(::getpid()) +
                                 "_" + std::to_string(counter++);
        m_out = stem + ".out";
        m_err = stem + ".err";
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                           0644);
        ::posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                           0644);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (::posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            m_pid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
    }
    ~CChild()
    {
        if (m_pid > 0 && !m_done) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        std::remove(m_out.c_str());
        std::remove(m_err.c_str());
    }
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    // The exit status, or -1 when it did not end in time (it is killed then).
    int Wait(std::chrono::seconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_pid > 0 && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_done = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }
    // Waits until the standard output holds `text` `count` times.
    bool WaitForOutput(const std::string& text, int count, std::chrono::seconds limit) const
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string out = Out();
            int seen = 0;
            for (auto at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
                ++seen;
            if (seen >= count)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    void Signal(int signal) const { ::kill(m_pid, signal); }
    std::string Out() const { return ReadText(m_out); }
    std::string Err() const { return ReadText(m_err); }

private:
    pid_t m_pid = -1;
    bool m_done = false;
    std::string m_out;
    std::string m_err;
};

} // namespace rawsocktest

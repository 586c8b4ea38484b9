#include "ferrox/system/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex g_nameLock;
std::string g_programName;

std::string home_folder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/tmp";
}
} // namespace

void ferrox_set_program_name(const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_nameLock);
    g_programName = name;
}

std::string ferrox_program_name()
{
    std::lock_guard<std::mutex> lock(g_nameLock);
    if (!g_programName.empty())
        return g_programName;
    return program_invocation_short_name ? program_invocation_short_name : "ferrox";
}

std::string ferrox_state_folder()
{
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        base = state;
    else
        base = home_folder() + "/.local/state";
    return base + "/" + ferrox_program_name();
}

bool ferrox_create_folders(const std::string& path)
{
    if (path.empty())
        return false;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st
    {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ferrox_state_path(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    return ferrox_state_folder() + "/" + path;
}

#include "OptionsLocation.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/system/Paths.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace core {

namespace {

constexpr const char* kFolderName = "Kanaliko";
constexpr const char* kFileName = "options.xml";

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    // No HOME in the environment (a service, a stripped environment): ask the
    // password database.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry
    {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return found->pw_dir;
    return std::string();
}

} // namespace

std::string OptionsFolderPath()
{
    // A relative $XDG_CONFIG_HOME is invalid and is ignored, as the base
    // directory rules ask.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return std::string(config) + "/" + kFolderName;
    const std::string home = HomeFolder();
    if (home.empty())
        return std::string();
    return home + "/.config/" + kFolderName;
}

std::string PrepareOptionsFilePath()
{
    const std::string folder = OptionsFolderPath();
    if (folder.empty())
        return std::string();
    struct stat st
    {};
    const bool exists = ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!exists && !ferrox_create_folders(folder) && Error.GetEnabled()) {
        TDebugStreamSession session(Error);
        session << "Не удалось создать дирректорию для хранения настроек приложения\n";
    }
    return folder + "/" + kFileName;
}

} // namespace core

#pragma once

#include <string>

namespace core {

// Where the per-user options file lives: the folder "Kanaliko" in the user's
// configuration folder ($XDG_CONFIG_HOME when it is an absolute path, else
// ~/.config), and in it "options.xml".

// The folder, or "" when no configuration folder can be determined (no usable
// $XDG_CONFIG_HOME, no home folder).
std::string OptionsFolderPath();

// The options file's path, "" when the folder cannot be determined. Creates
// the folder (and missing parents) when it does not exist; when that fails,
// writes "Не удалось создать дирректорию для хранения настроек приложения\n"
// to the Error stream and still returns the path. Called once at start-up.
std::string PrepareOptionsFilePath();

} // namespace core

#pragma once

#include "ferrox/FerroxApi.h"

#include <string>

// The per-user state folder of the program: $XDG_STATE_HOME (else ~/.local/state)
// joined with the program's name. It holds error.log and the "Dumps" reports.
FERROX_API std::string ferrox_state_folder();
// The name used for that folder; defaults to the executable's file name.
FERROX_API void ferrox_set_program_name(const std::string& name);
FERROX_API std::string ferrox_program_name();
// Creates a folder and its missing parents; true when it exists afterwards.
FERROX_API bool ferrox_create_folders(const std::string& path);
// A relative path resolved against the state folder; an absolute one unchanged.
FERROX_API std::string ferrox_state_path(const std::string& path);

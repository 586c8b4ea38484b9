#pragma once

#include <QString>

namespace app {

// The program's version: the CMake project version (version/Version.h).
QString ProgramVersion();

} // namespace app

#pragma once

#include <QString>

namespace app {

// The program's version: the CMake project version, compiled in.
QString ProgramVersion();

} // namespace app

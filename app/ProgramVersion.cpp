#include "app/ProgramVersion.h"

#ifndef KANALIKO_VERSION
#error "KANALIKO_VERSION comes from app/CMakeLists.txt"
#endif

namespace app {

QString ProgramVersion()
{
    return QStringLiteral(KANALIKO_VERSION);
}

} // namespace app

#include "app/ProgramVersion.h"

#include "version/Version.h"

namespace app {

QString ProgramVersion()
{
    return QString::fromUtf8(product::kVersion);
}

} // namespace app

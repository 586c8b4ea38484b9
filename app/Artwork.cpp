#include "app/Artwork.h"

// The resources live in a static library: nothing references their
// registration, so it has to be asked for by name (outside any namespace).
static void InitKanalikoResources()
{
    Q_INIT_RESOURCE(kanaliko);
}

namespace app {

void InitArtwork()
{
    static const bool done = [] {
        InitKanalikoResources();
        return true;
    }();
    (void)done;
}

QString ArtworkPath(const QString& name)
{
    InitArtwork();
    return QStringLiteral(":/kanaliko/") + name + QStringLiteral(".svg");
}

QIcon ArtworkIcon(const QString& name)
{
    return QIcon(ArtworkPath(name));
}

QIcon AppIcon()
{
    return ArtworkIcon(QStringLiteral("app"));
}

} // namespace app

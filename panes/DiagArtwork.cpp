#include "panes/DiagArtwork.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resources live in a static library: nothing references their
// registration, so it has to be asked for by name (outside any namespace).
static void InitDiagResources()
{
    Q_INIT_RESOURCE(diag);
}

namespace panes {

QIcon DiagIcon(const QString& name)
{
    static const bool registered = [] {
        InitDiagResources();
        return true;
    }();
    (void)registered;
    static QHash<QString, QIcon> cache;
    if (const auto it = cache.constFind(name); it != cache.constEnd())
        return *it;
    QSvgRenderer renderer(QStringLiteral(":/kanaliko-diag/") + name + QStringLiteral(".svg"));
    QIcon icon;
    if (renderer.isValid()) {
        for (const int side : {16, 24, 32, 48}) {
            QPixmap picture(side, side);
            picture.fill(Qt::transparent);
            QPainter painter(&picture);
            renderer.render(&painter);
            painter.end();
            icon.addPixmap(picture);
        }
    }
    cache.insert(name, icon);
    return icon;
}

} // namespace panes

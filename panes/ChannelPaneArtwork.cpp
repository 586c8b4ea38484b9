#include "panes/ChannelPaneArtwork.h"

#include "core/CPortRows.h"
#include "core/CServerRows.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resources live in a static library: nothing references their
// registration, so it has to be asked for by name (outside any namespace).
static void InitChannelPaneResources()
{
    Q_INIT_RESOURCE(channel_panes);
}

namespace panes {

namespace {

QIcon RenderIcon(const QString& name)
{
    static const bool registered = [] {
        InitChannelPaneResources();
        return true;
    }();
    (void)registered;
    static QHash<QString, QIcon> cache;
    const auto found = cache.constFind(name);
    if (found != cache.constEnd())
        return *found;
    QSvgRenderer renderer(QStringLiteral(":/panes/channels/") + name + QStringLiteral(".svg"));
    QIcon icon;
    if (renderer.isValid()) {
        for (int size : {16, 32}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            renderer.render(&painter);
            painter.end();
            icon.addPixmap(pixmap);
        }
    }
    cache.insert(name, icon);
    return icon;
}

} // namespace

QIcon ClientStateIcon(int image)
{
    using I = core::CPortRows;
    switch (image) {
    case I::ImagePairAnswered: return RenderIcon(QStringLiteral("client-pair-answered"));
    case I::ImageStreamAnswered: return RenderIcon(QStringLiteral("client-stream-answered"));
    case I::ImageStreamSent: return RenderIcon(QStringLiteral("client-stream-sent"));
    case I::ImageConnected: return RenderIcon(QStringLiteral("client-connected"));
    case I::ImageDatagramAnswered: return RenderIcon(QStringLiteral("client-datagram-answered"));
    case I::ImageDatagramSent: return RenderIcon(QStringLiteral("client-datagram-sent"));
    case I::ImageFailed: return RenderIcon(QStringLiteral("client-failed"));
    case I::ImageInternalError: return RenderIcon(QStringLiteral("client-internal-error"));
    case I::ImagePairIncomplete: return RenderIcon(QStringLiteral("client-pair-incomplete"));
    default: return {};
    }
}

QIcon ServerStateIcon(int image)
{
    using I = core::CServerRows;
    switch (image) {
    case I::ImageOpen: return RenderIcon(QStringLiteral("server-open"));
    case I::ImageBusy: return RenderIcon(QStringLiteral("server-busy"));
    case I::ImageFailed: return RenderIcon(QStringLiteral("server-failed"));
    default: return {};
    }
}

QIcon PaneCommandIcon(const QString& name)
{
    return RenderIcon(name);
}

} // namespace panes

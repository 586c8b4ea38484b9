#include "dialogs/DialogLook.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QWidget>

#include <algorithm>

// Resources of a static library are not registered by themselves: nothing
// refers to their object file, so the linker leaves it out unless this runs.
static void InitDialogResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(dialogs);
        return true;
    }();
    (void)done;
}

namespace dialogs {

void PrepareDialogWindow(QWidget& dialog)
{
    InitDialogResources();
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull())
        dialog.setWindowIcon(icon);
}

void CentreOnParent(QWidget& dialog)
{
    const QWidget* parent = dialog.parentWidget();
    if (!parent)
        return;
    const QWidget* window = parent->window();
    QRect place = dialog.frameGeometry();
    place.moveCenter(window->frameGeometry().center());
    // A parent near a screen edge must not push the dialog off the screen.
    if (const QScreen* screen = window->screen()) {
        const QRect area = screen->availableGeometry();
        place.moveLeft(std::max(area.left(), std::min(place.left(), area.right() - place.width())));
        place.moveTop(std::max(area.top(), std::min(place.top(), area.bottom() - place.height())));
    }
    dialog.move(place.topLeft());
}

QPixmap DialogPicture(const QString& resource, QSize size, const QWidget* forWidget)
{
    InitDialogResources();
    QSvgRenderer renderer(resource);
    if (!renderer.isValid())
        return {};
    const qreal ratio = forWidget ? forWidget->devicePixelRatioF() : qApp->devicePixelRatio();
    QPixmap picture(size * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return picture;
}

} // namespace dialogs

#pragma once

// What every dialog of the program does when it is shown: the application's
// icon as its window icon (when the application has one), and its place
// centred on its parent. And the pictures the dialogs draw from their SVG
// resources, rendered here so that no image plug-in is needed at run time.
//
// Threads: the GUI thread only.

#include <QPixmap>
#include <QSize>
#include <QString>

class QWidget;

namespace dialogs {

// Call once from the constructor.
void PrepareDialogWindow(QWidget& dialog);
// Moves a top-level dialog so that its centre is its parent window's centre
// (nothing without a parent). Called from showEvent.
void CentreOnParent(QWidget& dialog);
// A dialog resource (":/dialogs/...svg") rendered at the size in device-
// independent pixels for the screen of the widget; a null pixmap when missing.
QPixmap DialogPicture(const QString& resource, QSize size, const QWidget* forWidget);

} // namespace dialogs

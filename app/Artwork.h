#pragma once

// The program's own artwork (app/resources/*.svg, built in as Qt resources):
// the application icon, the error dialog's side picture and the ribbon's
// command icons. Scalable, so they stay sharp at any screen scale.
//
// Threads: the GUI thread only.

#include <QIcon>
#include <QString>

namespace app {

// Makes the built-in resources available; safe to call more than once. The
// functions below call it themselves.
void InitArtwork();

// ":/kanaliko/<name>.svg".
QString ArtworkPath(const QString& name);
QIcon ArtworkIcon(const QString& name);
QIcon AppIcon();

} // namespace app

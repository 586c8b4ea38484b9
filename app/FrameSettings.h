#pragma once

// Where the GUI keeps its state: QSettings of the organisation and application
// "Kanaliko" (the file ~/.config/Kanaliko/Kanaliko.conf, beside options.xml),
// group "Settings". The folder is looked up at each call, so a changed
// $XDG_CONFIG_HOME (a test's temporary folder) is followed.
//
// Threads: the GUI thread only.

#include <QSettings>

#include <memory>

namespace app {

// The settings, already inside the group "Settings".
std::unique_ptr<QSettings> OpenFrameSettings();

} // namespace app

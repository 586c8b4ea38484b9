#include "app/FrameSettings.h"

#include "core/OptionsLocation.h"

namespace app {

std::unique_ptr<QSettings> OpenFrameSettings()
{
    const QString folder = QString::fromStdString(core::OptionsFolderPath());
    std::unique_ptr<QSettings> settings;
    if (folder.isEmpty()) {
        settings = std::make_unique<QSettings>(QStringLiteral("Kanaliko"), QStringLiteral("Kanaliko"));
    } else {
        // The same file QSettings("Kanaliko", "Kanaliko") names, without its
        // once-per-process cache of the configuration folder.
        settings = std::make_unique<QSettings>(folder + QStringLiteral("/Kanaliko.conf"),
                                               QSettings::IniFormat);
    }
    settings->beginGroup(QStringLiteral("Settings"));
    return settings;
}

} // namespace app

#pragma once

// "Настройки": the four probing options in the group "Настройки сети".
//
// For the main window ("Настройки" of the channel category):
//
//   if (auto options = dialogs::COptionsDlg::Edit(mainWindow,
//   dialogs::COptionsDlg::CurrentOf(settings)))
//       dialogs::COptionsDlg::Apply(settings, *options);   // stores and writes options.xml
//
// Each option has a spin box with its range; a value outside it cannot be
// entered (a typed number below the minimum becomes the minimum when it is
// committed). "Применить" commits what is typed but not yet taken by a spin box
// and returns the four values; "Отмена" (or closing) returns nothing.
//
//   "Тайм-аут (мс)"                 TimeOut        10..30000
//   "Количество попыток"            MaxSendCount   1..10000
//   "Размер сообщения (байт)"       SendDataSize   10..1024
//   "Интервал между попытками (с)"  TimeSendDelay  1..600
//
// Threads: the GUI thread only.

#include "channel/ProbeOptions.h"

#include <QDialog>

#include <optional>

class QSpinBox;

namespace core {
class CAppSettings;
}

namespace dialogs {

class COptionsDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int MinTimeOut = 10, MaxTimeOut = 30000;
    static constexpr int MinSendCount = 1, MaxSendCount = 10000;
    static constexpr int MinDataSize = 10, MaxDataSize = 1024;
    static constexpr int MinSendDelay = 1, MaxSendDelay = 600;

    // Runs the dialog modally over parent with the current values; the edited
    // values on "Применить", nullopt on "Отмена".
    static std::optional<channel::ProbeOptions> Edit(QWidget* parent,
                                                     const channel::ProbeOptions& current);
    // The settings' four options.
    static channel::ProbeOptions CurrentOf(const core::CAppSettings& settings);
    // Stores the options in the settings and writes them to its options path
    // (CAppSettings::SetOptions); throws EGeneric when the file cannot be written.
    static void Apply(core::CAppSettings& settings, const channel::ProbeOptions& options);

    explicit COptionsDlg(const channel::ProbeOptions& current, QWidget* parent = nullptr);

    // The values, after the dialog was accepted.
    const channel::ProbeOptions& Options() const { return m_options; }

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    channel::ProbeOptions m_options;
    QSpinBox* m_timeOut = nullptr;
    QSpinBox* m_sendCount = nullptr;
    QSpinBox* m_dataSize = nullptr;
    QSpinBox* m_sendDelay = nullptr;
};

} // namespace dialogs

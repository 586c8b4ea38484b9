#pragma once

// The dialogs the main window opens from its ribbon, as seams: each is set by
// the dialog's own code in app/ProgramParts.cpp, one line each. A dialog that is
// not set leaves its command enabled (by the command table) and doing nothing.
//
// Every function runs on the GUI thread, modally, with the main window as
// parent, and returns what the user applied.

#include "channel/ProbeOptions.h"
#include "channel/SchemeGroup.h"

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace core {
class CAppLogic;
}

namespace app {

struct FrameDialogs
{
    // "Редактировать схему" and "&Создать": the scheme editor with copies of the
    // groups (none for a new scheme); the edited groups on "Применить",
    // nothing on "Отмена".
    std::function<std::optional<std::vector<channel::SchemeGroup>>(
        QWidget* parent, std::vector<channel::SchemeGroup> groups)>
        schemeEditor;
    // "Настройки": the options dialog with the four current values; the edited
    // values on "Применить" (the frame stores and writes them).
    std::function<std::optional<channel::ProbeOptions>(QWidget* parent,
                                                       channel::ProbeOptions options)>
        optionsDialog;
    // "О программе".
    std::function<void(QWidget* parent)> aboutDialog;
    // "Проверить связь с СД": the access-server check dialog. The frame asks
    // first, stops the servers before and starts them again after it.
    std::function<void(QWidget* parent, core::CAppLogic& logic)> accessServerDialog;
};

} // namespace app

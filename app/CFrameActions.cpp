#include "app/CFrameActions.h"

#include "app/Artwork.h"
#include "app/CommandIds.h"

#include <QAction>
#include <QKeySequence>
#include <QWidget>

namespace app {

namespace {

struct CommandInfo
{
    int id;
    const char* name;
    const char* caption; // UTF-8
    const char* icon;    // artwork name, or null
    bool checkable;
    QKeySequence::StandardKey shortcut;
};

using SK = QKeySequence::StandardKey;

// The command table: identifiers and captions as the ribbon shows them.
const CommandInfo kCommands[] = {
    {cmd::ID_FILE_NEW, "ID_FILE_NEW", "&Создать", "new", false, SK::New},
    {cmd::ID_FILE_OPEN, "ID_FILE_OPEN", "&Открыть...", "open", false, SK::Open},
    {cmd::ID_FILE_SAVE, "ID_FILE_SAVE", "Со&хранить", "save", false, SK::Save},
    {cmd::ID_FILE_SAVE_AS, "ID_FILE_SAVE_AS", "Сохранить &как...", nullptr, false, SK::SaveAs},
    {cmd::ID_APP_EXIT, "ID_APP_EXIT", "В&ыход", nullptr, false, SK::Quit},
    {cmd::ID_APP_ABOUT, "ID_APP_ABOUT", "О программе", "about", false, SK::UnknownKey},
    {cmd::IDC_CMB_ADDR_CL, "IDC_CMB_ADDR_CL", "IP адрес", nullptr, false, SK::UnknownKey},
    {cmd::IDC_BTN_START_CL, "IDC_BTN_START_CL", "Старт", "start", false, SK::UnknownKey},
    {cmd::IDC_BTN_STOP_CL, "IDC_BTN_STOP_CL", "Стоп", "stop", false, SK::UnknownKey},
    {cmd::IDC_BTN_SETTINGS_CL, "IDC_BTN_SETTINGS_CL", "Настройки", "settings", false,
     SK::UnknownKey},
    {cmd::IDC_BTN_SCHEMA, "IDC_BTN_SCHEMA", "Редактировать схему", "scheme", false,
     SK::UnknownKey},
    {cmd::IDC_BTN_CC, "IDC_BTN_CC", "Проверить связь с СД", "access", false, SK::UnknownKey},
    {cmd::ID_VIEW_CLIENT, "ID_VIEW_CLIENT", "Каналы связи", "view-client", true, SK::UnknownKey},
    {cmd::ID_VIEW_EVENTS, "ID_VIEW_EVENTS", "События", "view-events", true, SK::UnknownKey},
    {cmd::IDC_CMB_ADDR_PING, "IDC_CMB_ADDR_PING", "IP адрес", nullptr, false, SK::UnknownKey},
    {cmd::IDC_BTN_START_PING, "IDC_BTN_START_PING", "Старт", "start", false, SK::UnknownKey},
    {cmd::IDC_BTN_STOP_PING, "IDC_BTN_STOP_PING", "Стоп", "stop", false, SK::UnknownKey},
    {cmd::ID_VIEW_SETTINGS_PING, "ID_VIEW_SETTINGS_PING", "Настройки", "view-settings", true,
     SK::UnknownKey},
    {cmd::IDC_CMB_ADDR_TR, "IDC_CMB_ADDR_TR", "IP адрес", nullptr, false, SK::UnknownKey},
    {cmd::IDC_BTN_START_TR, "IDC_BTN_START_TR", "Старт", "start", false, SK::UnknownKey},
    {cmd::IDC_BTN_STOP_TR, "IDC_BTN_STOP_TR", "Стоп", "stop", false, SK::UnknownKey},
    {cmd::ID_VIEW_SETTINGS_TR, "ID_VIEW_SETTINGS_TR", "Настройки", "view-settings", true,
     SK::UnknownKey},
};

QAction* MakeAction(QWidget* owner, const QString& text, const char* name)
{
    auto* action = new QAction(text, owner);
    action->setObjectName(QString::fromLatin1(name));
    // Shortcuts work anywhere in the window, also while the focus is in a dock.
    action->setShortcutContext(Qt::WindowShortcut);
    owner->addAction(action);
    return action;
}

} // namespace

CFrameActions::CFrameActions(QWidget* owner)
{
    for (const CommandInfo& info : kCommands) {
        QAction* action = MakeAction(owner, QString::fromUtf8(info.caption), info.name);
        action->setData(info.id);
        if (info.icon)
            action->setIcon(ArtworkIcon(QString::fromLatin1(info.icon)));
        action->setCheckable(info.checkable);
        if (info.shortcut != SK::UnknownKey)
            action->setShortcuts(info.shortcut);
        m_commands.push_back(action);
    }
    // Quit is Ctrl+Q on every desktop, even where the style names no key for it.
    if (QAction* exit = Get(cmd::ID_APP_EXIT); exit->shortcuts().isEmpty())
        exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    if (QAction* saveAs = Get(cmd::ID_FILE_SAVE_AS); saveAs->shortcuts().isEmpty())
        saveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));

    m_startCurrent = MakeAction(owner, QStringLiteral("Старт"), "StartCurrent");
    m_startCurrent->setShortcut(QKeySequence(Qt::Key_F5));
    m_stopCurrent = MakeAction(owner, QStringLiteral("Стоп"), "StopCurrent");
    m_stopCurrent->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    m_focusAddress = MakeAction(owner, QStringLiteral("IP адрес"), "FocusAddress");
    m_focusAddress->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    const char* names[] = {"ShowChannels", "ShowEcho", "ShowRoute"};
    const char* captions[] = {"Каналы связи", "Эхо-запрос", "Маршрут"};
    const Qt::Key keys[] = {Qt::Key_1, Qt::Key_2, Qt::Key_3};
    for (int i = 0; i < 3; ++i) {
        m_categories[static_cast<std::size_t>(i)] =
            MakeAction(owner, QString::fromUtf8(captions[i]), names[i]);
        m_categories[static_cast<std::size_t>(i)]->setShortcut(QKeySequence(Qt::CTRL | keys[i]));
    }
}

QAction* CFrameActions::Get(int id) const
{
    for (QAction* action : m_commands) {
        if (action->data().toInt() == id)
            return action;
    }
    return nullptr;
}

} // namespace app

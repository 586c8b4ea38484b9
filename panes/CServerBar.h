#pragma once

// The content of the channel view, "Открытые порты": one row per channel port
// the node listens on (CServerReportModel over core::CServerRows) under a
// toolbar.
//
// - Refill (the servers were restarted on the scheme): the rows are made anew
//   from the scheme, and take at once what the logic's server rows already
//   say; OnServerRowChanged (0x8001) brings each later report. A report's event
//   is remembered by its sequence number, found through the logic row's event
//   index while that index still names the report.
// - "Группировать значения по отправителю и получателю" (checked at first):
//   group rows by channel pair; off, the pair column shows instead.
// - "Скопировать значения в буфер обмена" (also Ctrl+C in the pane): the
//   shown rows as text (core::CServerRows::CopyText with "\r\n").
// - "Перезапустить сервер": the frame restarts the servers
//   (IPaneHost::RestartServers), which ends in Refill.
// - Context menu on a group row: "FilterSettings" with "Отфильтровать
//   события", the events pane's filter on the ports of that channel pair.
// - Double click or Enter on a port row: its latest event is selected in the
//   events pane, looked up by sequence number at that moment.
//
// Threads: the GUI thread only.

#include "panes/IPaneClipboard.h"
#include "panes/IServerPane.h"

#include <QWidget>

#include <memory>
#include <string>

class QAction;
class QMenu;
class QModelIndex;
class QToolBar;

namespace panes {

class CPaneTreeView;
class CServerReportModel;
class IPaneHost;

class CServerBar final : public QWidget, public IServerPane
{
    Q_OBJECT

public:
    CServerBar(IPaneHost& host, QWidget* parent = nullptr);
    ~CServerBar() override;

    // IServerPane.
    QWidget* Widget() override { return this; }
    void OnServerRowChanged(int row) override;
    void Refill() override;

    void SetGrouped(bool grouped);
    bool IsGrouped() const;
    QString CopyText() const;
    bool Copy();
    // See CClientBar::SetClipboard.
    void SetClipboard(IPaneClipboard* clipboard);
    void Restart();

    // Opens "FilterSettings" for a group row (nothing for any other row).
    void OpenContextMenu(const QModelIndex& index, const QPoint& globalPos);
    QString MenuGroup() const { return QString::fromStdWString(m_menuGroup); }
    void FilterEvents();
    bool SelectLatestEvent(const QModelIndex& index);

    CPaneTreeView* Report() const { return m_report; }
    CServerReportModel* Model() const { return m_model; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QAction* GroupAction() const { return m_group; }
    QAction* CopyAction() const { return m_copy; }
    QAction* RestartAction() const { return m_restart; }
    QMenu* ContextMenu() const { return m_menu; }
    QAction* FilterAction() const { return m_filter; }

private:
    void ShowShape();

    IPaneHost& m_host;
    CServerReportModel* m_model;
    CPaneTreeView* m_report;
    QToolBar* m_toolBar;
    QAction* m_group;
    QAction* m_copy;
    QAction* m_restart;
    QMenu* m_menu;
    QAction* m_filter;
    IPaneClipboard* m_clipboard;
    std::wstring m_menuGroup;
};

} // namespace panes

#pragma once

// The dock "Каналы связи": the progress of the client check as a tree
// (CClientGridModel over core::CPortRows) under a toolbar with the copy
// command, and the context menu "Client menu".
//
// - SetPeers (a check starts): the tree is rebuilt for the peers from the
//   scheme and shown expanded. Clear (the scheme changed): empty.
// - OnClientRow (0x8004, taken by the frame): the rows of the row's peer,
//   protocol and port take it. The row's event is remembered by its sequence
//   number, found through the event index the row carries while that index
//   still names the row's event.
// - Copy ("Скопировать значения в буфер обмена", also Ctrl+C in the pane):
//   the shown rows as tab-separated text (core::CPortRows::CopyText with
//   "\r\n") on the clipboard (CPaneClipboard.h).
// - Context menu on a row (right click, the menu key or Shift+F10): every row
//   qualifies; the pane remembers the row and its peer's address and offers
//   "Отфильтровать события" (the events pane's filter from the row,
//   core::CPortRows::CriteriaOf), "Эхо-запрос" and "Маршрут" (the frame
//   switches to that category with the peer in its address box; nothing is
//   started).
// - Double click or Enter on a port row: its latest event is selected in the
//   events pane, looked up by sequence number at that moment (a purge, a sort
//   or a filter since then does not mislead it).
//
// Threads: the GUI thread only. The frame hands it rows from posted messages;
// nothing here is called from the engine's or the check's threads.

#include "panes/IClientPane.h"
#include "panes/IPaneClipboard.h"

#include <QWidget>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QModelIndex;
class QToolBar;

namespace panes {

class CClientGridModel;
class CPaneTreeView;
class IPaneHost;

class CClientBar final : public QWidget, public IClientPane
{
    Q_OBJECT

public:
    CClientBar(IPaneHost& host, QWidget* parent = nullptr);
    ~CClientBar() override;

    // IClientPane.
    QWidget* Widget() override { return this; }
    void SetPeers(const std::vector<std::string>& peers) override;
    void Clear() override;
    void OnClientRow(const channel::ClientRow& row) override;

    // The shown rows as the copy puts them on the clipboard.
    QString CopyText() const;
    // The copy command; false when the clipboard failed (see CPaneClipboard.h).
    bool Copy();
    // Where Copy writes (the system clipboard unless a test sets another; the
    // pane does not own it; null: back to the system clipboard).
    void SetClipboard(IPaneClipboard* clipboard);

    // Opens "Client menu" for the row (nothing for an invalid index).
    void OpenContextMenu(const QModelIndex& index, const QPoint& globalPos);
    // The peer address of the row the menu was opened on.
    QString MenuPeer() const { return m_menuPeer; }
    // The menu's three commands, on the row the menu was opened on.
    void FilterEvents();
    void ShowEcho();
    void ShowRoute();
    // Selects the row's latest event in the events pane; false when it has
    // none or no events row shows it now.
    bool SelectLatestEvent(const QModelIndex& index);

    CPaneTreeView* Grid() const { return m_grid; }
    CClientGridModel* Model() const { return m_model; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QAction* CopyAction() const { return m_copy; }
    QMenu* ContextMenu() const { return m_menu; }
    QAction* FilterAction() const { return m_filter; }
    QAction* EchoAction() const { return m_echo; }
    QAction* RouteAction() const { return m_route; }

private:
    void FitColumns();

    IPaneHost& m_host;
    CClientGridModel* m_model;
    CPaneTreeView* m_grid;
    QToolBar* m_toolBar;
    QAction* m_copy;
    QMenu* m_menu;
    QAction* m_filter;
    QAction* m_echo;
    QAction* m_route;
    IPaneClipboard* m_clipboard;
    int m_menuNode = -1;
    QString m_menuPeer;
};

} // namespace panes

#pragma once

// The echo request's results pane (in the echo view, caption "События"): a
// toolbar ("Отобразить в виде таблицы", "Отобразить в виде списка",
// "Скопировать значения в буфер обмена", "Автопрокрутка"), the selected
// target's results (CPingResultModel) and, under them, the round-trip chart
// of its newest results (CRttChart).
//
// Table mode shows the five columns with their header; list mode hides the
// header and columns 1 to 4, so each row is the whole sentence. Auto-scroll
// (off at first) brings the newest result into view as it comes.
//
// Threads: the GUI thread only.

#include "diag/PingInfo.h"

#include <QWidget>

class QAction;
class QTableView;

namespace panes {

class CPingResultModel;
class CRttChart;
class IPaneClipboard;

class CPingResultBar final : public QWidget
{
    Q_OBJECT

public:
    // clipboard: where the copy goes (the system's when null); it outlives the pane.
    explicit CPingResultBar(QWidget* parent, IPaneClipboard* clipboard = nullptr);

    // The engine of the run (null: none); no target is shown until ShowTarget.
    void SetEngine(diag::IPingInfo* engine);
    // Points the results at that target with the engine's count of results.
    void ShowTarget(int target);
    // WM_ECHO_RECORDS: ignored unless the target is the one shown.
    void OnRecords(int target, int count);

    void SetTableMode(bool table);
    void SetAutoScroll(bool on);
    bool AutoScroll() const { return m_autoScroll; }
    void Copy();

    CPingResultModel* Model() const { return m_model; }
    QTableView* Table() const { return m_table; }
    CRttChart* Chart() const { return m_chart; }
    QAction* TableAction() const { return m_tableAction; }
    QAction* ListAction() const { return m_listAction; }
    QAction* CopyAction() const { return m_copy; }
    QAction* AutoScrollAction() const { return m_autoScrollAction; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void ApplyColumns();
    void ApplyColors();

    IPaneClipboard* m_clipboard;
    diag::IPingInfo* m_engine = nullptr;
    CPingResultModel* m_model;
    QTableView* m_table;
    CRttChart* m_chart;
    QAction* m_tableAction;
    QAction* m_listAction;
    QAction* m_copy;
    QAction* m_autoScrollAction;
    bool m_autoScroll = false;
};

} // namespace panes

#pragma once

// The results of the selected echo target, oldest first, as a virtual list:
// the model answers from the engine (IPingInfo::GetRecordInOrder) for the rows
// the view shows, so a hundred thousand results cost nothing until seen.
//
//   "Время отправки" | "Статус" | "Количество байт" | "Время(мс)" | "TTL"
//
// In table mode column 0 is the send time; in list mode it is the whole
// sentence of CPing::FormatEchoLine (the view then shows column 0 only). A
// result whose status is not 0 is drawn in red.
//
// Threads: the GUI thread only; the engine is read after its posted messages.

#include "diag/PingInfo.h"

#include <QAbstractTableModel>
#include <QColor>

namespace panes {

class CPingResultModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit CPingResultModel(QObject* parent);

    // The engine to read from (null: none; the rows go).
    void SetEngine(diag::IPingInfo* engine);
    // Shows that target with count rows (-1: none).
    void ShowTarget(int target, int count);
    int Target() const { return m_target; }
    // WM_ECHO_RECORDS: the target's results changed (count: how many it
    // stored then; the rows follow the count the engine has now). Ignored for
    // any target but the one shown. Once the list is a ring the count stays the
    // same while every row moves up by one: the rows are then repainted.
    // True when the rows changed.
    bool OnRecords(int target, int count);

    // Table (true) or list mode; the rows are rebuilt on a change.
    void SetTableMode(bool table);
    bool TableMode() const { return m_tableMode; }
    void SetFailureColor(const QColor& color);

    // Table mode: the five column names, then per result the time text, the
    // status text, "\t%d\t%d\t%d" of size, round trip and TTL and CR LF.
    // List mode: per result its sentence and CR LF.
    QString CopyText() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static constexpr int ColumnCount = 5;

private:
    diag::IPingInfo* m_engine = nullptr;
    int m_target = -1;
    int m_count = 0;
    bool m_tableMode = true;
    QColor m_failure{200, 0, 0};
};

} // namespace panes

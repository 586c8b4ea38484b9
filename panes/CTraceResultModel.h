#pragma once

// The hops of the selected route target, one row per step, read from the
// engine (ITraceInfo::GetRecord) for the rows the view shows.
//
//   "Шаг" | "IP адрес" | "DNS имя" | "Последний(мс)" | "Средний(мс)" |
//   "Макс.(мс)" | "Мин.(мс)" | "Отправлено" | "Потеряно" | "Потеряно(%)"
//
// A step nobody answered shows 0.0.0.0; a name that was not found ("-") shows
// empty; the lost share is ceiling(lost * 100 / sent) as "%d%%". A hop whose
// status is not 0, 11013 or 11014 (an answer, a router's time exceeded) is
// drawn in red.
//
// Threads: the GUI thread only; the engine is read after its posted messages.

#include "diag/TraceInfo.h"

#include <QAbstractTableModel>
#include <QColor>

namespace panes {

class CTraceResultModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit CTraceResultModel(QObject* parent);

    void SetEngine(diag::ITraceInfo* engine);
    void ShowTarget(int target, int count);
    int Target() const { return m_target; }
    // WM_ROUTE_HOPS: ignored for any target but the one shown. The hop just
    // stored may be any row, so every row is repainted. True when handled.
    bool OnHops(int target, int count);
    void SetFailureColor(const QColor& color);

    // The header "Шаг", "IP адрес", "Последний(мс)", "Средний(мс)",
    // "Макс.(мс)", "Мин.(мс)", "Отправлено", "Потеряно" and per hop
    // "%u\t%s\t%u\t%u\t%u\t%u\t%u\t%u\r\n" (no name, no lost share).
    QString CopyText() const;

    // Whether a hop of that status is drawn in the normal colour.
    static bool IsNormalStatus(std::uint32_t status);
    // "%d%%" of ceiling(lost * 100 / sent).
    static QString LostShareText(std::int32_t lost, std::int32_t sent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static constexpr int ColumnCount = 10;

private:
    diag::ITraceInfo* m_engine = nullptr;
    int m_target = -1;
    int m_count = 0;
    QColor m_failure{200, 0, 0};
};

} // namespace panes

#pragma once

// The echo statistics tree: one row per target, in the order typed, with two
// group rows and their counters.
//
//   127.0.0.1                         (image 1)
//       Пакеты                        (image 0)
//           Отправлено:      12
//           Получено:        12
//           Потеряно:         0
//       Время отправки/получения (мс) (image 0)
//           Среднее:          1
//           Минимальное:      0
//           Максимальное:     1
//
// Columns: an unnamed one with the texts, and "Значение" (empty until the
// target's first statistics message). Each target row keeps its own target
// index, so an address typed twice shows the counters of each copy.
//
// Threads: the GUI thread only; the engine is read through IPingInfo after its
// posted messages.

#include "diag/PingInfo.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <optional>
#include <string>
#include <vector>

namespace panes {

class CPingGridModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit CPingGridModel(QObject* parent);

    // The run's targets (row i is target i) and the engine to read from (null:
    // none). Every value is empty again.
    void SetTargets(const std::vector<std::string>& addresses);
    void SetEngine(diag::IPingInfo* engine) { m_engine = engine; }
    // WM_ECHO_STATISTICS: the target's counters changed.
    void OnStatistics(int target);

    // The target a row belongs to (the row itself or its ancestor); -1 for none.
    int TargetOf(const QModelIndex& index) const;
    QModelIndex TargetRow(int target) const;
    int TargetCount() const { return static_cast<int>(m_targets.size()); }

    // The clipboard text: per row, top to bottom, one tab per level, the text;
    // a row with children ends with CR LF, a counter continues "\t%d\r\n".
    QString CopyText() const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Target
    {
        QString address;
        std::optional<diag::EchoStatistics> statistics;
    };
    static std::optional<std::uint32_t> Counter(const Target& target, int group, int row);

    diag::IPingInfo* m_engine = nullptr;
    std::vector<Target> m_targets;
    QIcon m_targetIcon;
    QIcon m_groupIcon;
};

} // namespace panes

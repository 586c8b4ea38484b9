#include "panes/CTraceGridModel.h"

#include "panes/DiagArtwork.h"

namespace panes {

namespace {

// Internal id: 0 for a target row, target + 1 for its state row.
QString StateText(std::int32_t state)
{
    return QString::fromStdWString(diag::RouteStateText(state));
}

} // namespace

CTraceGridModel::CTraceGridModel(QObject* parent)
    : QAbstractItemModel(parent), m_targetIcon(DiagIcon(QStringLiteral("target"))),
      m_builtIcon(DiagIcon(QStringLiteral("route-built"))),
      m_failedIcon(DiagIcon(QStringLiteral("route-failed")))
{}

void CTraceGridModel::SetTargets(const std::vector<std::string>& addresses)
{
    beginResetModel();
    m_targets.clear();
    for (const std::string& address : addresses)
        m_targets.push_back({QString::fromStdString(address), diag::ROUTE_BUILDING});
    endResetModel();
}

void CTraceGridModel::OnRouteState(int target)
{
    if (!m_engine || target < 0 || target >= TargetCount())
        return;
    const std::int32_t state = m_engine->GetRouteState(target).State;
    Target& t = m_targets[static_cast<std::size_t>(target)];
    if (t.state == state)
        return;
    t.state = state;
    const QModelIndex row = index(0, 0, TargetRow(target));
    emit dataChanged(row, row, {Qt::DisplayRole, Qt::DecorationRole});
}

int CTraceGridModel::TargetOf(const QModelIndex& index) const
{
    if (!index.isValid())
        return -1;
    return index.internalId() == 0 ? index.row() : static_cast<int>(index.internalId() - 1);
}

QModelIndex CTraceGridModel::TargetRow(int target) const
{
    return target >= 0 && target < TargetCount() ? index(target, 0) : QModelIndex();
}

std::int32_t CTraceGridModel::State(int target) const
{
    return target >= 0 && target < TargetCount() ? m_targets[static_cast<std::size_t>(target)].state
                                                 : diag::ROUTE_BUILDING;
}

QString CTraceGridModel::CopyText() const
{
    QString text;
    for (const Target& target : m_targets)
        text += target.address + QStringLiteral("\r\n\t") + StateText(target.state) +
                QStringLiteral("\r\n");
    return text;
}

QModelIndex CTraceGridModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return {};
    if (!parent.isValid())
        return createIndex(row, column, quintptr{0});
    return createIndex(row, column, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex CTraceGridModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == 0)
        return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr{0});
}

int CTraceGridModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return TargetCount();
    return parent.column() == 0 && parent.internalId() == 0 ? 1 : 0;
}

int CTraceGridModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant CTraceGridModel::data(const QModelIndex& index, int role) const
{
    const int target = TargetOf(index);
    if (target < 0 || target >= TargetCount())
        return {};
    const Target& t = m_targets[static_cast<std::size_t>(target)];
    const bool stateRow = index.internalId() != 0;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return stateRow ? StateText(t.state) : t.address;
    case Qt::DecorationRole:
        if (!stateRow)
            return m_targetIcon;
        if (t.state == diag::ROUTE_BUILT)
            return m_builtIcon;
        if (t.state == diag::ROUTE_NOT_BUILT)
            return m_failedIcon;
        return {};
    default: return {};
    }
}

QVariant CTraceGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return QString();
    return {};
}

Qt::ItemFlags CTraceGridModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace panes

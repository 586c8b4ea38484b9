#include "panes/CPingGridModel.h"

#include "panes/DiagArtwork.h"

namespace panes {

namespace {

// A node's internal id says where its parent is: 0 for a target row (parent:
// the root), kGroupLevel + target for a group row, kCounterLevel + target * 2 +
// group for a counter row. Targets stay far below 2^30.
constexpr quintptr kGroupLevel = quintptr{1} << 32;
constexpr quintptr kCounterLevel = quintptr{2} << 32;
constexpr quintptr kLevelMask = ~((quintptr{1} << 32) - 1);

const char* const kGroups[2] = {"Пакеты", "Время отправки/получения (мс)"};
const char* const kCounters[2][3] = {{"Отправлено:", "Получено:", "Потеряно:"},
                                     {"Среднее:", "Минимальное:", "Максимальное:"}};

} // namespace

CPingGridModel::CPingGridModel(QObject* parent)
    : QAbstractItemModel(parent), m_targetIcon(DiagIcon(QStringLiteral("target"))),
      m_groupIcon(DiagIcon(QStringLiteral("stat-group")))
{}

void CPingGridModel::SetTargets(const std::vector<std::string>& addresses)
{
    beginResetModel();
    m_targets.clear();
    for (const std::string& address : addresses)
        m_targets.push_back({QString::fromStdString(address), std::nullopt});
    endResetModel();
}

void CPingGridModel::OnStatistics(int target)
{
    if (!m_engine || target < 0 || target >= TargetCount())
        return;
    m_targets[static_cast<std::size_t>(target)].statistics = m_engine->GetStatistics(target);
    for (int group = 0; group < 2; ++group) {
        const QModelIndex groupRow = index(group, 0, TargetRow(target));
        emit dataChanged(index(0, 1, groupRow), index(2, 1, groupRow), {Qt::DisplayRole});
    }
}

int CPingGridModel::TargetOf(const QModelIndex& index) const
{
    if (!index.isValid())
        return -1;
    const quintptr id = index.internalId();
    switch (id & kLevelMask) {
    case 0: return index.row();
    case kGroupLevel: return static_cast<int>(id & ~kLevelMask);
    default: return static_cast<int>((id & ~kLevelMask) / 2);
    }
}

QModelIndex CPingGridModel::TargetRow(int target) const
{
    return target >= 0 && target < TargetCount() ? index(target, 0) : QModelIndex();
}

std::optional<std::uint32_t> CPingGridModel::Counter(const Target& target, int group, int row)
{
    if (!target.statistics)
        return std::nullopt;
    const diag::EchoStatistics& s = *target.statistics;
    const std::uint32_t values[2][3] = {{s.Sent, s.Received, s.Lost},
                                        {s.Average, s.Minimum, s.Maximum}};
    return values[group][row];
}

QString CPingGridModel::CopyText() const
{
    QString text;
    for (const Target& target : m_targets) {
        text += target.address + QStringLiteral("\r\n");
        for (int group = 0; group < 2; ++group) {
            text += QStringLiteral("\t") + QString::fromUtf8(kGroups[group]) +
                    QStringLiteral("\r\n");
            for (int row = 0; row < 3; ++row) {
                // "%d" of an empty value is 0.
                const auto value = Counter(target, group, row);
                text += QStringLiteral("\t\t") + QString::fromUtf8(kCounters[group][row]) +
                        QStringLiteral("\t%1\r\n").arg(static_cast<int>(value.value_or(0)));
            }
        }
    }
    return text;
}

QModelIndex CPingGridModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return {};
    if (!parent.isValid())
        return createIndex(row, column, quintptr{0});
    const quintptr parentId = parent.internalId();
    if ((parentId & kLevelMask) == 0) // a target's group rows
        return createIndex(row, column, kGroupLevel + static_cast<quintptr>(parent.row()));
    // a group's counter rows
    const quintptr target = parentId & ~kLevelMask;
    return createIndex(row, column,
                       kCounterLevel + target * 2 + static_cast<quintptr>(parent.row()));
}

QModelIndex CPingGridModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    const quintptr id = child.internalId();
    switch (id & kLevelMask) {
    case 0: return {};
    case kGroupLevel: return createIndex(static_cast<int>(id & ~kLevelMask), 0, quintptr{0});
    default: {
        const quintptr rest = id & ~kLevelMask;
        return createIndex(static_cast<int>(rest % 2), 0, kGroupLevel + rest / 2);
    }
    }
}

int CPingGridModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return TargetCount();
    if (parent.column() != 0)
        return 0;
    switch (parent.internalId() & kLevelMask) {
    case 0: return 2;
    case kGroupLevel: return 3;
    default: return 0;
    }
}

int CPingGridModel::columnCount(const QModelIndex&) const
{
    return 2;
}

QVariant CPingGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const quintptr id = index.internalId();
    const quintptr level = id & kLevelMask;
    const int target = TargetOf(index);
    if (target < 0 || target >= TargetCount())
        return {};
    const Target& t = m_targets[static_cast<std::size_t>(target)];
    if (level == 0) {
        if (index.column() != 0)
            return {};
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return t.address;
        if (role == Qt::DecorationRole)
            return m_targetIcon;
        return {};
    }
    if (level == kGroupLevel) {
        if (index.column() != 0)
            return {};
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return QString::fromUtf8(kGroups[index.row()]);
        if (role == Qt::DecorationRole)
            return m_groupIcon;
        return {};
    }
    const int group = static_cast<int>((id & ~kLevelMask) % 2);
    if (index.column() == 0) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return QString::fromUtf8(kCounters[group][index.row()]);
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        const auto value = Counter(t, group, index.row());
        return value ? QVariant(QString::number(*value)) : QVariant(QString());
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant CPingGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole && section == 1)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    return section == 1 ? QStringLiteral("Значение") : QString();
}

Qt::ItemFlags CPingGridModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace panes

#include "panes/CTraceResultModel.h"

#include "channel/EventCodes.h"

#include <cmath>

namespace panes {

namespace {

const char* const kColumns[CTraceResultModel::ColumnCount] = {
    "Шаг",      "IP адрес", "DNS имя",    "Последний(мс)", "Средний(мс)",
    "Макс.(мс)", "Мин.(мс)", "Отправлено", "Потеряно",      "Потеряно(%)"};

QString Dotted(std::uint32_t address)
{
    return QString::fromStdString(channel::AddressText(address));
}

} // namespace

CTraceResultModel::CTraceResultModel(QObject* parent) : QAbstractTableModel(parent) {}

void CTraceResultModel::SetEngine(diag::ITraceInfo* engine)
{
    beginResetModel();
    m_engine = engine;
    m_target = -1;
    m_count = 0;
    endResetModel();
}

void CTraceResultModel::ShowTarget(int target, int count)
{
    beginResetModel();
    m_target = m_engine ? target : -1;
    m_count = m_target >= 0 ? std::max(count, 0) : 0;
    endResetModel();
}

bool CTraceResultModel::OnHops(int target, int count)
{
    if (!m_engine || target != m_target || target < 0 || count < 0)
        return false;
    // The count the engine has now: a message posted before the target was
    // shown may carry an older one.
    count = m_engine->GetRecordCount(target);
    if (count > m_count) {
        beginInsertRows({}, m_count, count - 1);
        m_count = count;
        endInsertRows();
    } else if (count < m_count) {
        // The steps were lowered: the list lost its last hops.
        beginRemoveRows({}, count, m_count - 1);
        m_count = count;
        endRemoveRows();
    }
    if (m_count > 0)
        emit dataChanged(index(0, 0), index(m_count - 1, ColumnCount - 1));
    return true;
}

void CTraceResultModel::SetFailureColor(const QColor& color)
{
    m_failure = color;
    if (m_count > 0)
        emit dataChanged(index(0, 0), index(m_count - 1, ColumnCount - 1), {Qt::ForegroundRole});
}

bool CTraceResultModel::IsNormalStatus(std::uint32_t status)
{
    return status == 0 || status == 11013 || status == 11014;
}

QString CTraceResultModel::LostShareText(std::int32_t lost, std::int32_t sent)
{
    const int share =
        sent > 0 ? static_cast<int>(std::ceil(static_cast<double>(lost) * 100.0 / sent)) : 0;
    return QStringLiteral("%1%").arg(share);
}

QString CTraceResultModel::CopyText() const
{
    QString text;
    if (!m_engine || m_target < 0)
        return text;
    for (const int column : {0, 1, 3, 4, 5, 6, 7, 8})
        text += QString::fromUtf8(kColumns[column]) +
                (column == 8 ? QStringLiteral("\r\n") : QStringLiteral("\t"));
    for (int row = 0; row < m_count; ++row) {
        const diag::HopRecord* found = m_engine->GetRecord(m_target, row);
        if (!found)
            continue;
        const diag::HopRecord hop = *found;
        text += QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\t%8\r\n")
                    .arg(static_cast<unsigned>(hop.Step))
                    .arg(Dotted(hop.Address))
                    .arg(hop.Last)
                    .arg(hop.Average)
                    .arg(hop.Maximum)
                    .arg(hop.Minimum)
                    .arg(static_cast<unsigned>(hop.Sent))
                    .arg(static_cast<unsigned>(hop.Lost));
    }
    return text;
}

int CTraceResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int CTraceResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CTraceResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !m_engine || m_target < 0 || index.row() >= m_count)
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == 1 || index.column() == 2
                   ? QVariant()
                   : QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ForegroundRole && role != Qt::AccessibleTextRole)
        return {};
    const diag::HopRecord* found = m_engine->GetRecord(m_target, index.row());
    if (!found)
        return {};
    const diag::HopRecord hop = *found;
    if (role == Qt::ForegroundRole)
        return IsNormalStatus(hop.Status) ? QVariant() : QVariant(m_failure);
    switch (index.column()) {
    case 0: return QString::number(hop.Step);
    case 1: return Dotted(hop.Address);
    case 2: return hop.Name == L"-" ? QString() : QString::fromStdWString(hop.Name);
    case 3: return QString::number(hop.Last);
    case 4: return QString::number(hop.Average);
    case 5: return QString::number(hop.Maximum);
    case 6: return QString::number(hop.Minimum);
    case 7: return QString::number(hop.Sent);
    case 8: return QString::number(hop.Lost);
    case 9: return LostShareText(hop.Lost, hop.Sent);
    default: return {};
    }
}

QVariant CTraceResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::TextAlignmentRole) // as the cells below
        return QVariant::fromValue((section == 1 || section == 2 ? Qt::AlignLeft : Qt::AlignRight) |
                                   Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    return QString::fromUtf8(kColumns[section]);
}

} // namespace panes

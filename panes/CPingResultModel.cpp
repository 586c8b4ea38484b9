#include "panes/CPingResultModel.h"

#include "diag/CPing.h"

namespace panes {

namespace {

const char* const kColumns[CPingResultModel::ColumnCount] = {
    "Время отправки", "Статус", "Количество байт", "Время(мс)", "TTL"};

} // namespace

CPingResultModel::CPingResultModel(QObject* parent) : QAbstractTableModel(parent) {}

void CPingResultModel::SetEngine(diag::IPingInfo* engine)
{
    beginResetModel();
    m_engine = engine;
    m_target = -1;
    m_count = 0;
    endResetModel();
}

void CPingResultModel::ShowTarget(int target, int count)
{
    beginResetModel();
    m_target = m_engine ? target : -1;
    m_count = m_target >= 0 ? std::max(count, 0) : 0;
    endResetModel();
}

bool CPingResultModel::OnRecords(int target, int count)
{
    if (!m_engine || target != m_target || target < 0 || count < 0)
        return false;
    // The count the engine has now: a message posted before the target was
    // shown may carry an older one, and rows must not go and come back.
    count = m_engine->GetRecordCount(target);
    if (count > m_count) {
        // Growing: the rows already shown keep their results.
        beginInsertRows({}, m_count, count - 1);
        m_count = count;
        endInsertRows();
        return true;
    }
    if (count < m_count) {
        // The limit was lowered: the oldest went, the rest moved up.
        beginRemoveRows({}, count, m_count - 1);
        m_count = count;
        endRemoveRows();
    }
    // The ring turned (or was cut): every row shows a newer result now.
    if (m_count > 0)
        emit dataChanged(index(0, 0), index(m_count - 1, ColumnCount - 1));
    return true;
}

void CPingResultModel::SetTableMode(bool table)
{
    if (table == m_tableMode)
        return;
    beginResetModel();
    m_tableMode = table;
    endResetModel();
}

void CPingResultModel::SetFailureColor(const QColor& color)
{
    m_failure = color;
    if (m_count > 0)
        emit dataChanged(index(0, 0), index(m_count - 1, ColumnCount - 1), {Qt::ForegroundRole});
}

QString CPingResultModel::CopyText() const
{
    QString text;
    if (!m_engine || m_target < 0)
        return text;
    if (m_tableMode) {
        for (int column = 0; column < ColumnCount; ++column)
            text += QString::fromUtf8(kColumns[column]) +
                    (column + 1 < ColumnCount ? QStringLiteral("\t") : QStringLiteral("\r\n"));
    }
    for (int row = 0; row < m_count; ++row) {
        const diag::EchoRecord* found = m_engine->GetRecordInOrder(m_target, row);
        if (!found)
            continue;
        const diag::EchoRecord record = *found;
        if (m_tableMode) {
            text += QString::fromStdWString(diag::CPing::FormatEchoLine(record, true)) +
                    QStringLiteral("\t") +
                    QString::fromStdWString(diag::CPing::StatusText(record.Status)) +
                    QStringLiteral("\t%1\t%2\t%3\r\n")
                        .arg(static_cast<int>(record.Size))
                        .arg(static_cast<int>(record.RoundTripTime))
                        .arg(static_cast<int>(record.Ttl));
        } else {
            text += QString::fromStdWString(diag::CPing::FormatEchoLine(record, false)) +
                    QStringLiteral("\r\n");
        }
    }
    return text;
}

int CPingResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int CPingResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CPingResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !m_engine || m_target < 0 || index.row() >= m_count)
        return {};
    if (role != Qt::DisplayRole && role != Qt::ForegroundRole && role != Qt::TextAlignmentRole &&
        role != Qt::AccessibleTextRole)
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() >= 2 ? QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter)
                                   : QVariant();
    const diag::EchoRecord* found = m_engine->GetRecordInOrder(m_target, index.row());
    if (!found)
        return {};
    const diag::EchoRecord record = *found;
    if (role == Qt::ForegroundRole)
        return record.Status != 0 ? QVariant(m_failure) : QVariant();
    switch (index.column()) {
    case 0: return QString::fromStdWString(diag::CPing::FormatEchoLine(record, m_tableMode));
    case 1: return QString::fromStdWString(diag::CPing::StatusText(record.Status));
    case 2: return QString::number(record.Size);
    case 3: return QString::number(record.RoundTripTime);
    case 4: return QString::number(record.Ttl);
    default: return {};
    }
}

QVariant CPingResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::TextAlignmentRole) // as the cells below
        return QVariant::fromValue((section >= 2 ? Qt::AlignRight : Qt::AlignLeft) |
                                   Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    return QString::fromUtf8(kColumns[section]);
}

} // namespace panes

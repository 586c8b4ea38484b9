#include "panes/CEventsModel.h"

#include "channel/AppMessages.h"
#include "events/EventText.h"
#include "loop/Window.h"

#include <QPixmap>

#include <array>

// The resources of a static library are registered by hand (at global scope:
// the macro declares the generated function). Registering twice is harmless.
static void RegisterEventBarResources()
{
    Q_INIT_RESOURCE(event_bar);
}

namespace panes {

namespace {

// Rows read from the store per round: more than a screenful.
constexpr int kBlockRows = 64;
constexpr int kStatusImageSize = 16;
constexpr std::array<int, events::EVENT_COLUMN_COUNT> kInitialWidths = {95, 80, 190, 80, 110,
                                                                         100, 70, 70, 80};

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

// Receives the store's posted messages on the GUI thread and hands them to the model.
class CEventsModel::CNoticeWindow final : public loop::CWindow
{
public:
    explicit CNoticeWindow(CEventsModel& model) : m_model(model) {}

protected:
    void OnMessage(loop::UINT message, loop::WPARAM, loop::LPARAM) override
    {
        // WM_EVENTS_FILTERED's count is where the filter was when it posted; the
        // store's count now is newer, so the model reads that instead.
        if (message == channel::WM_EVENT_ADDED || message == channel::WM_EVENTS_FILTERED) {
            m_model.SyncWithStore();
        } else if (message == channel::WM_EVENTS_REDRAW) {
            m_model.DropCache();
            emit m_model.redrawRequested();
        }
    }

private:
    CEventsModel& m_model;
};

CEventsModel::CEventsModel(events::CEventStore& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store), m_window(std::make_unique<CNoticeWindow>(*this))
{
    m_generation = m_store.ViewGeneration();
    m_rows = m_store.ShownRowCount();
}

CEventsModel::~CEventsModel()
{
    // Nothing may be posted to a receiver that is going away.
    if (m_store.EventsWindow() == m_window->Handle())
        m_store.SetEventsWindow(nullptr);
}

loop::HWND CEventsModel::NoticeWindow() const
{
    return m_window->Handle();
}

int CEventsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int CEventsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : events::EVENT_COLUMN_COUNT;
}

void CEventsModel::SyncWithStore()
{
    // Taken before the count is read: an event counted after this posts again.
    m_store.TakeRowsNotice();
    DropCache();
    const std::uint64_t generation = m_store.ViewGeneration();
    // Only this (the GUI) thread replaces rows, so the generation cannot move
    // between here and the count; other threads only append.
    const int rows = m_store.ShownRowCount();
    if (generation != m_generation || rows < m_rows) {
        beginResetModel();
        m_generation = generation;
        m_rows = rows;
        endResetModel();
        emit rowsSynced(true);
    } else if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
        emit rowsSynced(false);
    }
}

void CEventsModel::DropCache() const
{
    m_blockFirst = -1;
    m_block.clear();
}

std::optional<events::Event> CEventsModel::EventAtRow(int row) const
{
    if (row < 0 || row >= m_rows)
        return std::nullopt;
    if (m_blockFirst < 0 || row < m_blockFirst ||
        row >= m_blockFirst + static_cast<int>(m_block.size())) {
        const int first = row - row % kBlockRows;
        m_block = m_store.ShownEvents(first, std::min(kBlockRows, m_rows - first));
        m_blockFirst = first;
    }
    const int offset = row - m_blockFirst;
    if (offset >= static_cast<int>(m_block.size()))
        return std::nullopt;
    return m_block[static_cast<std::size_t>(offset)];
}

int CEventsModel::RowOfSequence(std::uint32_t sequence) const
{
    const int row = m_store.RowOfEventId(sequence);
    return row < m_rows ? row : -1;
}

QString CEventsModel::DetailText(std::uint32_t code) const
{
    auto found = m_details.constFind(code);
    if (found == m_details.constEnd())
        found = m_details.insert(code, FromUtf8(events::DetailText(code)));
    return *found;
}

QVariant CEventsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= events::EVENT_COLUMN_COUNT)
        return {};
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole && role != Qt::ToolTipRole &&
        role != Qt::DecorationRole && role != SequenceRole)
        return {};
    const std::optional<events::Event> event = EventAtRow(index.row());
    if (!event)
        return {};
    const int column = index.column();
    switch (role) {
    case SequenceRole: return QVariant::fromValue(event->sequence);
    case Qt::DecorationRole:
        if (column != events::COL_STATUS || StatusImageIndex(event->status) < 0)
            return {};
        return StatusImage(StatusImageIndex(event->status));
    case Qt::ToolTipRole:
        // The detail is the one text that seldom fits its column.
        if (column != events::COL_DETAIL || event->detail == 0)
            return {};
        return DetailText(event->detail);
    default: break;
    }
    if (column == events::COL_DETAIL)
        return event->detail != 0 ? DetailText(event->detail) : QString();
    return FromUtf8(events::CellText(*event, column));
}

QVariant CEventsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= events::EVENT_COLUMN_COUNT)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)
        return FromUtf8(events::ColumnHeader(section));
    return {};
}

Qt::ItemFlags CEventsModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

int CEventsModel::StatusImageIndex(int status)
{
    switch (status) {
    case 0: return 0; // information
    case 2: return 3; // error
    case 3: return 2; // warning
    default: return -1;
    }
}

QIcon CEventsModel::StatusImage(int imageIndex)
{
    // Never destroyed: pixmaps must not outlive the application object, and
    // statics are destroyed after it.
    static const auto* images = new std::array<QIcon, 4>([] {
        RegisterEventBarResources();
        const QPixmap strip(QStringLiteral(":/panes/events/event_status.png"));
        const QPixmap strip2x(QStringLiteral(":/panes/events/event_status@2x.png"));
        std::array<QIcon, 4> cells;
        for (int i : {0, 2, 3}) {
            QIcon icon;
            icon.addPixmap(strip.copy(i * kStatusImageSize, 0, kStatusImageSize, kStatusImageSize));
            icon.addPixmap(strip2x.copy(i * kStatusImageSize * 2, 0, kStatusImageSize * 2,
                                        kStatusImageSize * 2));
            cells[static_cast<std::size_t>(i)] = icon;
        }
        return cells;
    }());
    if (imageIndex < 0 || imageIndex >= static_cast<int>(images->size()))
        return {};
    return (*images)[static_cast<std::size_t>(imageIndex)];
}

int CEventsModel::InitialColumnWidth(int column)
{
    if (column < 0 || column >= events::EVENT_COLUMN_COUNT)
        return 0;
    return kInitialWidths[static_cast<std::size_t>(column)];
}

} // namespace panes

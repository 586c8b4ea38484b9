#include "panes/CEventExport.h"

#include "events/EventCsv.h"
#include "panes/CEventExportFile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QScopedValueRollback>

#include <cerrno>

namespace panes {

CEventExport::CEventExport(const events::CEventStore& store, const QString& path,
                           QWidget* progressParent)
    : m_store(store), m_path(path), m_progressParent(progressParent)
{
    m_slices.setInterval(0);
    connect(&m_slices, &QTimer::timeout, this, &CEventExport::WriteSlice);
}

CEventExport::~CEventExport()
{
    m_slices.stop();
    m_writer.reset();
    m_file.reset(); // removes an uncommitted temporary file
    delete m_progress.data();
}

QProgressDialog* CEventExport::Progress() const
{
    return m_progress.data();
}

void CEventExport::Start()
{
    m_file = std::make_unique<CEventExportFile>(m_path.toStdString());
    if (!m_file->Open()) {
        m_error = m_file->Error();
        Finish(Result::Failed);
        return;
    }
    m_writer = std::make_unique<events::CEventCsvWriter>(m_file->Stream());
    m_writer->WriteHeader();
    m_rowsTotal = m_store.ShownRowCount();
    m_nextRow = 0;
    m_running = true;
    m_startedAt = QDateTime::currentMSecsSinceEpoch();
    m_slices.start();
}

void CEventExport::Cancel()
{
    if (m_running)
        m_cancelRequested = true;
}

void CEventExport::WriteSlice()
{
    // A modal progress dialog runs the event loop inside setValue, where this
    // slot's timer fires again.
    if (!m_running || m_inSlice)
        return;
    const QScopedValueRollback<bool> inSlice(m_inSlice, true);
    if (m_cancelRequested || (m_progress && m_progress->wasCanceled())) {
        Finish(Result::Cancelled);
        return;
    }
    QElapsedTimer slice;
    slice.start();
    while (m_nextRow < m_rowsTotal && slice.elapsed() < kSliceMilliseconds) {
        const int count = std::min(kRowsPerRound, m_rowsTotal - m_nextRow);
        const std::vector<events::Event> rows = m_store.ShownEvents(m_nextRow, count);
        for (const events::Event& event : rows)
            m_writer->WriteEvent(event);
        // Fewer than asked: the store shrank, and the rows past it are gone.
        m_nextRow = static_cast<int>(rows.size()) < count ? m_rowsTotal : m_nextRow + count;
        if (m_file->Stream().bad())
            break;
    }
    if (m_file->Stream().bad()) {
        m_error = m_file->Error() != 0 ? m_file->Error() : EIO;
        Finish(Result::Failed);
        return;
    }
    if (m_nextRow >= m_rowsTotal) {
        m_writer->Flush();
        m_writer.reset();
        if (!m_file->Commit()) {
            m_error = m_file->Error();
            Finish(Result::Failed);
            return;
        }
        Finish(Result::Saved);
        return;
    }
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - m_startedAt;
    if (!m_progress && elapsed >= m_progressDelay) {
        m_progress = new QProgressDialog(QStringLiteral("Сохранение событий в файл…"),
                                         QStringLiteral("Отмена"), 0, m_rowsTotal,
                                         m_progressParent);
        m_progress->setWindowTitle(QStringLiteral("Сохранить данные в файл"));
        m_progress->setAccessibleName(QStringLiteral("Сохранение событий в файл"));
        m_progress->setWindowModality(Qt::WindowModal);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        m_progress->setMinimumDuration(0);
        connect(m_progress, &QProgressDialog::canceled, this, &CEventExport::Cancel);
        m_progress->show();
        m_progressShownAt = elapsed - kProgressStepMilliseconds;
    }
    // A modal progress dialog repaints (and runs the loop) on every value:
    // a few times a second is enough for the eye.
    if (m_progress && elapsed - m_progressShownAt >= kProgressStepMilliseconds) {
        m_progressShownAt = elapsed;
        m_progress->setValue(m_nextRow);
    }
}

void CEventExport::Finish(Result result)
{
    m_slices.stop();
    m_running = false;
    m_writer.reset();
    if (result != Result::Saved && m_file)
        m_file->Discard();
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
    emit finished(result);
}

} // namespace panes

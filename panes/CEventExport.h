#pragma once

// The CSV export of the events pane, run on the GUI thread in slices so that
// the window stays responsive while a million rows are written: each slice
// writes rows for about kSliceMilliseconds and then hands the thread back to
// the event loop. A progress dialog (shown when the export takes longer than
// the progress delay) can cancel it.
//
// - The rows are those the pane shows when the export starts, in display
//   order; rows the store loses meanwhile are left out, rows it gains are not
//   taken.
// - The bytes are CEventCsvWriter's (events/EventCsv.h), the same as the
//   headless front end's.
// - The file is written under a temporary name in the target's folder and
//   renamed over the target at the end (CEventExportFile): a cancelled or
//   failed export leaves nothing behind and an old file untouched.
//
// Threads: the GUI thread only; the store is read through its thread-safe row
// lookups.

#include "events/CEventStore.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class QProgressDialog;
class QWidget;

namespace events {
class CEventCsvWriter;
}

namespace panes {

class CEventExportFile;

class CEventExport final : public QObject
{
    Q_OBJECT

public:
    enum class Result
    {
        Saved,
        Cancelled,
        Failed,
    };
    Q_ENUM(Result)

    // Time a slice writes before it yields.
    static constexpr int kSliceMilliseconds = 12;
    // Rows copied out of the store per round.
    static constexpr int kRowsPerRound = 2048;
    // The progress dialog appears when the export is not over after this long.
    static constexpr int kDefaultProgressDelay = 300;
    // The progress dialog's value moves at most this often.
    static constexpr int kProgressStepMilliseconds = 100;

    // progressParent: the window the progress dialog is modal to.
    CEventExport(const events::CEventStore& store, const QString& path, QWidget* progressParent);
    ~CEventExport() override;

    // Creates the temporary file and starts the slices. A file that cannot be
    // created ends the export at once (finished with Failed, before Start
    // returns).
    void Start();
    // Stops after the current slice; the temporary file is removed.
    void Cancel();

    void SetProgressDelay(int milliseconds) { m_progressDelay = milliseconds; }
    int RowsTotal() const { return m_rowsTotal; }
    int RowsDone() const { return m_nextRow; }
    bool IsRunning() const { return m_running; }
    // errno of the failure, 0 for none.
    int ErrorCode() const { return m_error; }
    const QString& Path() const { return m_path; }
    // The progress dialog while one is up, else null.
    QProgressDialog* Progress() const;

signals:
    void finished(panes::CEventExport::Result result);

private:
    void WriteSlice();
    void Finish(Result result);

    const events::CEventStore& m_store;
    QString m_path;
    QPointer<QWidget> m_progressParent;
    std::unique_ptr<CEventExportFile> m_file;
    std::unique_ptr<events::CEventCsvWriter> m_writer;
    QPointer<QProgressDialog> m_progress;
    QTimer m_slices;
    qint64 m_startedAt = 0;
    qint64 m_progressShownAt = 0; // since the start
    int m_progressDelay = kDefaultProgressDelay;
    int m_rowsTotal = 0;
    int m_nextRow = 0;
    int m_error = 0;
    bool m_running = false;
    bool m_cancelRequested = false;
    bool m_inSlice = false;
};

} // namespace panes

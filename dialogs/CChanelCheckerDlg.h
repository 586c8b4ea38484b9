#pragma once

// The dialog "Проверка канала связи с СД": the user gives the access server's
// address and port, the local port and a time-out, presses "Проверить", and
// reads the result: "Проверка успешно завершена" when anything answered, else,
// after a trace, the hops and where the datagram's port was found closed. The
// work is done by engine::CChanelTester; the dialog gives it a window of its own
// for the stage messages and the time-out timer.
//
// Entry point for the main frame's command "Проверить связь с СД":
//   dialogs::CChanelCheckerDlg::Run(mainWindow, prompt);
// runs the dialog modally and returns when the user has closed it. By then the
// check's task has ended and its socket is closed, so the frame may start its
// servers again at once (the local port is free). The frame asks its question
// and stops its servers before, and starts them after; the dialog knows nothing
// of them.
//
// Threads: the GUI thread only. Closing waits for a running trace to reach the
// end of its current hop (at most about one second: the hop's echo wait).

#include "loop/WindowTypes.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace engine {
class CChanelTester;
}

namespace dialogs {

class IPrompt;

class CChanelCheckerDlg final : public QDialog
{
    Q_OBJECT

public:
    explicit CChanelCheckerDlg(IPrompt& prompt, QWidget* parent = nullptr);
    ~CChanelCheckerDlg() override;

    // Shows the dialog modally until the user closes it.
    static void Run(QWidget* parent, IPrompt& prompt);

    // The result as shown (line breaks as "\n").
    QString ResultText() const;
    // The tester of the dialog while it is open; null once it is closed.
    const engine::CChanelTester* Tester() const { return m_tester.get(); }

protected:
    // Closing (accept, reject, Esc, the window's close button) destroys the
    // tester before the dialog goes away.
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

private:
    class CStageWindow;

    // "Проверить": validates the fields and starts a check.
    void Check();
    void OnStageEnded(loop::WPARAM wParam);
    void OnTimer(loop::UINT_PTR id);
    void ShowResult(const std::wstring& text);
    // The address field as four numbers of at most 255; false when it is not.
    bool ReadAddress(std::uint32_t* address) const;

    IPrompt& m_prompt;
    QLineEdit* m_address = nullptr;
    QSpinBox* m_serverPort = nullptr;
    QSpinBox* m_localPort = nullptr;
    QSpinBox* m_timeOut = nullptr;
    QPushButton* m_check = nullptr;
    QPlainTextEdit* m_result = nullptr;

    // The window outlives the tester that posts to it: declared first.
    std::unique_ptr<CStageWindow> m_window;
    std::unique_ptr<engine::CChanelTester> m_tester;
};

} // namespace dialogs

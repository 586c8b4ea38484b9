#pragma once

// Drives a modal dialog that the code under test opens with exec(): the action
// runs inside the dialog's own event loop as soon as a dialog of the given type
// is the active modal widget. The action must close it (accept or reject).
//
// The wait is bounded: when no such dialog shows up within 20 s, the test fails
// and whatever modal widget is up is rejected so that exec() returns.

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace dialogs::test {

// What became of one armed action: Done() once it ran; Cancel() disarms it
// (for a test that expects no dialog at all).
class ModalAction
{
public:
    ModalAction(QTimer* timer, std::shared_ptr<bool> done) : m_timer(timer), m_done(std::move(done))
    {}
    bool Done() const { return *m_done; }
    void Cancel()
    {
        if (m_timer) {
            m_timer->stop();
            m_timer->deleteLater();
        }
    }

private:
    QPointer<QTimer> m_timer;
    std::shared_ptr<bool> m_done;
};

template <class Dialog>
ModalAction ActOnNextModal(std::function<void(Dialog&)> action)
{
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    auto done = std::make_shared<bool>(false);
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, done, action] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            dialog && dialog->isVisible()) {
            timer->stop();
            timer->deleteLater();
            *done = true;
            action(*dialog);
            return;
        }
        if (clock->elapsed() > 20000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected modal dialog never showed up";
            if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                other->reject();
        }
    });
    timer->start();
    return ModalAction(timer, done);
}

} // namespace dialogs::test

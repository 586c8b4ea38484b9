#include "LoopTestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

namespace testsupport {

namespace {

// The GUI thread of the tests is the main thread, as in the program.
class CCoreApplicationEnvironment final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "loop-tests";
        static char* argv[] = {name, nullptr};
        m_application = new QCoreApplication(argc, argv);
    }
    void TearDown() override
    {
        delete m_application;
        m_application = nullptr;
    }

private:
    QCoreApplication* m_application = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new CCoreApplicationEnvironment);

} // namespace

std::vector<CRecordingWindow::Message> CRecordingWindow::With(loop::UINT message) const
{
    std::vector<Message> found;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(found),
                 [message](const Message& m) { return m.message == message; });
    return found;
}

std::vector<CRecordingWindow::Message> CRecordingWindow::With(loop::UINT message,
                                                              loop::WPARAM wParam) const
{
    std::vector<Message> found;
    std::copy_if(
        messages.begin(), messages.end(), std::back_inserter(found),
        [message, wParam](const Message& m) { return m.message == message && m.wParam == wParam; });
    return found;
}

int CRecordingWindow::TimerCount(loop::UINT_PTR id) const
{
    return static_cast<int>(std::count(timers.begin(), timers.end(), id));
}

void CRecordingWindow::OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    if (++m_depth > 1)
        overlapped = true;
    messages.push_back({message, wParam, lParam, std::this_thread::get_id()});
    if (onMessage)
        onMessage(messages.back());
    --m_depth;
}

void CRecordingWindow::OnTimer(loop::UINT_PTR id)
{
    if (++m_depth > 1)
        overlapped = true;
    timers.push_back(id);
    timerThreads.push_back(std::this_thread::get_id());
    if (onTimer)
        onTimer(id);
    --m_depth;
}

double ThreadCpuMilliseconds()
{
    timespec used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) * 1000.0 + static_cast<double>(used.tv_nsec) / 1e6;
}

namespace {
std::atomic<CQtMessageCounter*> g_counter{nullptr};
} // namespace

CQtMessageCounter::CQtMessageCounter(std::string phrase) : m_phrase(std::move(phrase))
{
    g_counter.store(this);
    m_previous = qInstallMessageHandler(&CQtMessageCounter::Handle);
}

CQtMessageCounter::~CQtMessageCounter()
{
    qInstallMessageHandler(m_previous);
    g_counter.store(nullptr);
}

std::string CQtMessageCounter::First() const
{
    std::lock_guard lock(m_lock);
    return m_first;
}

void CQtMessageCounter::Handle(QtMsgType type, const QMessageLogContext& context,
                               const QString& text)
{
    CQtMessageCounter* counter = g_counter.load();
    const std::string message = text.toStdString();
    if (counter && message.find(counter->m_phrase) != std::string::npos) {
        if (counter->m_count.fetch_add(1) == 0) {
            std::lock_guard lock(counter->m_lock);
            counter->m_first = message;
        }
        return;
    }
    if (counter && counter->m_previous)
        counter->m_previous(type, context, text);
}

} // namespace testsupport

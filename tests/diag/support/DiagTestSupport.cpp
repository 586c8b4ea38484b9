#include "DiagTestSupport.h"

#include "loop/EventLoop.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace diagtest {

namespace {

class CCoreApplicationEnvironment final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "diag-tests";
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

std::vector<CMessageLog::Message> CMessageLog::With(loop::UINT message, loop::WPARAM wParam) const
{
    std::vector<Message> found;
    for (const auto& m : messages)
        if (m.message == message && m.wParam == wParam)
            found.push_back(m);
    return found;
}

void CMessageLog::OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam)
{
    messages.push_back({message, wParam, lParam, std::chrono::steady_clock::now()});
    if (onMessage)
        onMessage(messages.back());
}

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    return loop::RunUntil(done, timeout);
}

} // namespace diagtest

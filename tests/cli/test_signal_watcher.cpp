// The front end's signals: the first reaches the event loop as a call, the
// second ends the process at once, whatever the loop is doing.

#include "cli/CSignalWatcher.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs in a child process of its own: the second signal ends it.
[[noreturn]] void SignalTwice(int signal)
{
    int argc = 1;
    char name[] = "signal-watcher";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    int calls = 0;
    int seen = 0;
    cli::CSignalWatcher watcher([&](int which) {
        ++calls;
        seen = which;
    });
    ::raise(signal);
    const QDeadlineTimer deadline(10000);
    while (calls == 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    if (calls != 1 || seen != signal)
        ::_exit(3); // the first signal did not reach the loop as one call
    ::raise(signal); // the handler ends the process here
    ::_exit(4);
}

int ExitStatusOf(pid_t child)
{
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

TEST(SignalWatcher, TheFirstSignalIsACallAndTheSecondEndsTheProcess)
{
    for (int signal : {SIGINT, SIGTERM}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            SignalTwice(signal);
        EXPECT_EQ(ExitStatusOf(child), 128 + signal) << "signal " << signal;
    }
}

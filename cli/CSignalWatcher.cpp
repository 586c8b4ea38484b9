#include "cli/CSignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

int g_pipe[2] = {-1, -1};
// Signals seen while a watcher lives (both signals are blocked while the
// handler runs, so the count is never raced).
volatile sig_atomic_t g_signals = 0;

void OnSignal(int signal)
{
    const int saved = errno;
    g_signals = g_signals + 1;
    if (g_signals >= 2) {
        // The first signal asked for an orderly end; this one is asked of a
        // process whose GUI thread may be waiting for it: end here and now.
        static const char text[] = "kanaliko-cli: interrupted again, quitting at once\n";
        ssize_t ignored = ::write(2, text, sizeof text - 1);
        (void)ignored;
        ::_exit(128 + signal);
    }
    const unsigned char byte = static_cast<unsigned char>(signal);
    ssize_t ignored = ::write(g_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

} // namespace

CSignalWatcher::CSignalWatcher(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal))
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    QObject::connect(m_notifier, &QSocketNotifier::activated, this, [this] { Drain(); });
    struct sigaction action
    {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    g_signals = 0;
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

CSignalWatcher::~CSignalWatcher()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void CSignalWatcher::Drain()
{
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        if (m_onSignal)
            m_onSignal(byte);
    }
}

} // namespace cli

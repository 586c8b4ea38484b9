#include "loop/ThreadChecks.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <pthread.h>

namespace loop::detail {

bool IsGuiThreadOrNoApplication()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return application == nullptr || QThread::currentThread() == application->thread();
}

void GuiThreadContractBroken(const char* operation)
{
    // Straight to standard error: the debug streams may be what is misused.
    std::fprintf(stderr,
                 "kanaliko: %s is an operation of the GUI thread, called on thread %#lx\n",
                 operation, static_cast<unsigned long>(pthread_self()));
    std::fflush(stderr);
    std::abort();
}

} // namespace loop::detail

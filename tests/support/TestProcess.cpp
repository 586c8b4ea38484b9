// What every test process needs before anything runs: the program's state and
// config folders point into the build tree, so tests never write into the
// user's home, and the sanitizers get the options the suite needs, whether the
// binary runs under CTest or by hand.

#include "support/TestProcess.h"

#include <cstdlib>
#include <string>

extern "C" {
// Fault signals are translated by ferrox itself; ASan must leave them to it.
const char* __asan_default_options()
{
    return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
           "allow_user_segv_handler=1:detect_leaks=1";
}
const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
// The suppressions every test process shares (TestProcess.h). The widget
// tests' main (support/gui/GuiTestMain.cpp) replaces them with a longer list,
// hence weak.
__attribute__((weak)) const char* __tsan_default_suppressions()
{
    return KANALIKO_TSAN_SUPPRESSIONS;
}
const char* __tsan_default_options()
{
    // Synchronous faults are turned into exceptions inside the signal handler by
    // design; that is not the asynchronous-signal misuse this report looks for.
    // Qt is not instrumented: its GUI thread pool (parallel raster fills) hands
    // memory between its own threads under futexes ThreadSanitizer cannot see,
    // so accesses that Qt's own code makes are left out. The longest history
    // keeps both stacks of a report (and so what it names) in long tests.
    return "halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0:"
           "ignore_noninstrumented_modules=1:history_size=7";
}
}

void PrepareTestProcess()
{
    const std::string state = KANALIKO_TEST_STATE_DIR;
    // Values already in the environment win, so a run can be redirected.
    setenv("XDG_STATE_HOME", state.c_str(), 0);
    setenv("XDG_CONFIG_HOME", (state + "/config").c_str(), 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("KANALIKO_SOURCE_DIR", KANALIKO_SOURCE_DIR, 0);
    setenv("KANALIKO_BINARY_DIR", KANALIKO_BINARY_DIR, 0);
    // No raw-socket helper unless a test names one: a helper installed on the
    // machine must not change what the tests without rights see.
    setenv("KANALIKO_RAWSOCK", "", 0);
}

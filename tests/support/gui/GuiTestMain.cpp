// The main of every widget test executable: Qt Test's helpers and real widgets
// on the offscreen platform (set here as well as through CTest, because test
// discovery runs the binary too), with one QApplication for the whole run.

#include "support/TestProcess.h"

#include <QApplication>
#include <QThreadPool>

#include <gmock/gmock.h>

#include <cstdlib>

// Qt is not built for ThreadSanitizer, and widgets make it use threads where
// the core layers' tests do not: its raster engine hands parts of each paint
// to a thread of its pool, and the GUI thread posts events to itself while
// other threads post to it. Both are synchronised by Qt's futex mutexes, which
// the sanitizer cannot see. These reports name Qt's pool, Qt's GUI library or
// our one call into Qt's posting; the core layers' tests check the rest of
// that path (the store, the window registry) without these exceptions.
extern "C" const char* __tsan_default_suppressions()
{
    return KANALIKO_TSAN_SUPPRESSIONS "race:QThreadPool\n"
                                      "race:QRunnable\n"
                                      "race:QWaitCondition\n"
                                      "race:libQt6Gui.so\n"
                                      "race:QCoreApplication::postEvent\n"
                                      "race:loop::PostToWindow\n";
}

// Fontconfig keeps its configuration for the life of the process and Qt never
// hands it back; a test process that ends without unwinding its QApplication
// (the children the live tests start in a test network) shows it as a leak.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

int main(int argc, char** argv)
{
    PrepareTestProcess();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
#if defined(__SANITIZE_THREAD__)
    // One thread in Qt's pool, started once and kept, leaves only the
    // hand-over to it (see the suppressions above), not races among pool
    // threads that come and go.
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
#endif
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

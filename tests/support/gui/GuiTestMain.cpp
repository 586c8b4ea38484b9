// The main of every widget test executable: Qt Test's helpers and real widgets
// on the offscreen platform (set here as well as through CTest, because test
// discovery runs the binary too), with one QApplication for the whole run.

#include "support/TestProcess.h"

#include <QApplication>

#include <gmock/gmock.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    PrepareTestProcess();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

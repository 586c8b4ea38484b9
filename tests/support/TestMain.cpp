// The main of every test executable without widgets.

#include "support/TestProcess.h"

#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    PrepareTestProcess();
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

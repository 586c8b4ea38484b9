// The program file itself: what it answers without a display.

#include "app/ProgramVersion.h"
#include "support/NetNamespaces.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

TEST(Program, VersionIsPrintedWithoutADisplay)
{
    const char* build = std::getenv("KANALIKO_BINARY_DIR");
    ASSERT_NE(build, nullptr);
    // No display and no platform: --version must not need either.
    const std::string output = testsupport::CommandOutput(
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(build) +
        "/app/kanaliko --version 2>&1; echo \"status $?\"");
    const QString version = app::ProgramVersion();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(version).hasMatch())
        << version.toStdString();
    EXPECT_EQ(output, "kanaliko " + version.toStdString() + "\nstatus 0\n");
}

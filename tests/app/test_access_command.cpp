// "Проверить связь с СД" in the whole program, with the program's own dialog
// wiring: the question, the servers stopped while the dialog is up, the check
// closed in the middle of its trace, and the servers listening again after.
//
// The program runs in a child process inside host A of the routed test network
// (diag/support/EchoTestKit.h), so that the check's trace has routers to pass:
//
//   A 198.18.1.2 --- R1 --- R2 --- B 198.18.3.2   (198.18.9.0/24 blackholed at B)

#include "app/CommandIds.h"
#include "app/ProgramParts.h"
#include "app/support/CAppFixture.h"
#include "diag/support/EchoTestKit.h"
#include "dialogs/CChanelCheckerDlg.h"
#include "engine/CChanelTester.h"
#include "support/FreePorts.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include <gtest/gtest.h>

using Clock = std::chrono::steady_clock;

namespace {

KANALIKO_ECHO_HELPER_MODE(frame_access_close_mid_trace)
{
    apptest::CAppFixture fixture;
    const std::string scheme = fixture.WriteScheme("scheme.xml");
    fixture.Prompt().QueueAnswer(dialogs::PromptAnswer::Yes);
    if (!fixture.Start({QString::fromStdString(scheme)}, {}, app::ProgramDialogs()))
        return 1;
    const std::uint16_t port = fixture.tcpPort;
    std::printf("listening_before=%d\n",
                apptest::CAppFixture::WaitFor([&] { return fixture.TcpPortAnswers(port); }) ? 1
                                                                                            : 0);

    // Inside the dialog's modal loop: check a blackholed server, and once the
    // trace waits behind R2, close the dialog.
    int state = 0;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<dialogs::CChanelCheckerDlg*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (state == 0) {
            state = 1;
            std::printf("stopped_during=%d\n", fixture.TcpPortAnswers(port) ? 0 : 1);
            dialog->findChild<QLineEdit*>("address")->setText(echotest::kBlackholed);
            dialog->findChild<QSpinBox*>("localPort")->setValue(testsupport::FreePort(SOCK_DGRAM));
            QTest::mouseClick(dialog->findChild<QPushButton*>("check"), Qt::LeftButton);
        } else if (state == 1 && dialog->Tester() && dialog->Tester()->Hops().size() >= 2) {
            state = 2;
            driver.stop();
            const auto closing = Clock::now();
            QTest::keyClick(dialog, Qt::Key_Escape);
            std::printf(
                "close_ms=%lld\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closing)
                        .count()));
        }
    });
    driver.start();
    fixture.Frame().Action(app::cmd::IDC_BTN_CC)->trigger(); // returns when the dialog is closed
    driver.stop();
    std::printf("reached_trace=%d\n", state == 2 ? 1 : 0);
    const auto asked = fixture.Prompt().Texts(dialogs::test::CScriptedPrompt::Call::Kind::Ask);
    std::printf("asked=%s\n", asked.isEmpty() ? "" : asked.front().toStdString().c_str());
    std::printf("listening_after=%d\n",
                apptest::CAppFixture::WaitFor([&] { return fixture.TcpPortAnswers(port); }) ? 1
                                                                                            : 0);
    fixture.Stop();
    // Ends inside the test run with main's QApplication alive, whose font
    // caches LeakSanitizer would count; faults are reported when they happen.
    std::fflush(stdout);
    _exit(0);
}

} // namespace

// Closing used to wait "time-out seconds" as milliseconds and leave a running
// trace to the destroyed tester; here the servers must come back as well.
TEST(AccessCommand, TheDialogClosedMidTraceLeavesTheServersListeningAgain)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    echotest::CRoutedNetwork network;
    const auto child =
        echotest::RunHelper("ip netns exec " + network.a, "frame_access_close_mid_trace");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.Value("asked"),
              "Для выполнения данной команды сервер будет остановлен. Продолжить?");
    EXPECT_EQ(child.Value("listening_before"), "1") << child.output;
    EXPECT_EQ(child.Value("stopped_during"), "1") << child.output;
    ASSERT_EQ(child.Value("reached_trace"), "1") << child.output;
    EXPECT_LT(std::atoi(child.Value("close_ms").c_str()), 3000) << "one hop's 1 s echo wait";
    EXPECT_EQ(child.Value("listening_after"), "1") << child.output;
}

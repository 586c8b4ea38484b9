// The dialog "Проверка канала связи с СД" driven as a user would: its fields,
// the refused address, an answer on loopback, a busy local port, the modal
// entry point, and (in host A of the routed test network, in a child process)
// a trace to its end and a dialog closed in the middle of one:
//
//   A 198.18.1.2 --- R1 --- R2 --- B 198.18.3.2   (198.18.9.0/24 blackholed at B)

#include "dialogs/CChanelCheckerDlg.h"

#include "diag/support/EchoTestKit.h"
#include "dialogs/support/CScriptedPrompt.h"
#include "engine/CChanelTester.h"
#include "support/FreePorts.h"
#include "support/UdpResponder.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include <gtest/gtest.h>

using dialogs::CChanelCheckerDlg;
using dialogs::PromptIcon;
using dialogs::test::CScriptedPrompt;
using testsupport::CUdpResponder;
using Kind = CScriptedPrompt::Call::Kind;
using Clock = std::chrono::steady_clock;

namespace {

struct Controls
{
    explicit Controls(QWidget& dialog)
        : address(dialog.findChild<QLineEdit*>("address")),
          serverPort(dialog.findChild<QSpinBox*>("serverPort")),
          localPort(dialog.findChild<QSpinBox*>("localPort")),
          timeOut(dialog.findChild<QSpinBox*>("timeOut")),
          check(dialog.findChild<QPushButton*>("check")),
          result(dialog.findChild<QPlainTextEdit*>("result"))
    {}
    bool Complete() const
    {
        return address && serverPort && localPort && timeOut && check && result;
    }
    // Types the fields as a user does.
    void Fill(const QString& server, int port, int local, int seconds) const
    {
        address->clear();
        QTest::keyClicks(address, server);
        for (auto [field, value] : {std::pair{serverPort, port}, std::pair{localPort, local},
                                    std::pair{timeOut, seconds}}) {
            field->selectAll();
            QTest::keyClicks(field, QString::number(value));
        }
    }

    QLineEdit* address;
    QSpinBox* serverPort;
    QSpinBox* localPort;
    QSpinBox* timeOut;
    QPushButton* check;
    QPlainTextEdit* result;
};

bool WaitFor(const std::function<bool()>& done, int ms)
{
    return QTest::qWaitFor(done, ms);
}

bool PortIsFree(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    ::close(fd);
    return free;
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// ---- the child's side, inside host A ----

KANALIKO_ECHO_HELPER_MODE(checker_trace_and_close)
{
    CScriptedPrompt prompt;
    CChanelCheckerDlg dialog(prompt);
    dialog.show();
    const Controls controls(dialog);
    const auto localPort = static_cast<int>(testsupport::FreePort(SOCK_DGRAM));

    // A whole check of a blackholed server: the trace's report, the button back.
    controls.Fill(echotest::kBlackholed, 47700, localPort, 1);
    QTest::mouseClick(controls.check, Qt::LeftButton);
    std::printf("disabled_while_checking=%d\n", controls.check->isEnabled() ? 0 : 1);
    const bool finished = WaitFor([&] { return controls.check->isEnabled(); }, 30000);
    std::printf("finished=%d\n", finished ? 1 : 0);
    const QString text = dialog.ResultText();
    std::printf("starts_with_timeout=%d\n", text.startsWith("Истёк тайм-аут\n") ? 1 : 0);
    std::printf("ends_unreachable=%d\n", text.endsWith("\nзаданный узел недоступен\n") ? 1 : 0);
    std::printf("has_r1=%d\n", text.contains("198.18.1.1: порт открыт\n") ? 1 : 0);

    // Again, and close the dialog while the third hop waits for its echo.
    QTest::mouseClick(controls.check, Qt::LeftButton);
    const bool inTrace =
        WaitFor([&] { return dialog.Tester() && dialog.Tester()->Hops().size() >= 2; }, 20000);
    std::printf("in_trace=%d\n", inTrace ? 1 : 0);
    const QString before = dialog.ResultText();
    const auto closing = Clock::now();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    std::printf("close_ms=%lld\n", MsSince(closing));
    std::printf("closed=%d\ntester_gone=%d\n", dialog.isVisible() ? 0 : 1, dialog.Tester() ? 0 : 1);
    QTest::qWait(2500); // longer than the rest of the hop and the trace's end
    std::printf("text_unchanged=%d\n", dialog.ResultText() == before ? 1 : 0);
    std::printf("port_free=%d\n", PortIsFree(static_cast<std::uint16_t>(localPort)) ? 1 : 0);
    std::printf("prompts=%zu\n", prompt.Calls().size());
    // The helper ends the process from inside the test run, with the
    // QApplication of main still alive: its font caches would count as leaks.
    // Sanitizer faults are reported when they happen, so nothing is missed.
    std::fflush(stdout);
    _exit(0);
}

} // namespace

TEST(ChanelCheckerDialog, OpensWithItsDefaultsRangesAndNamesAndEveryControlByKeyboard)
{
    CScriptedPrompt prompt;
    CChanelCheckerDlg dialog(prompt);
    const Controls c(dialog);
    ASSERT_TRUE(c.Complete());
    EXPECT_EQ(dialog.windowTitle(), "Проверка канала связи с СД");
    EXPECT_TRUE(c.address->text().isEmpty());
    const std::tuple<QSpinBox*, int, int, int, const char*> spins[] = {
        {c.serverPort, 1, 65535, 4433, "Порт СД"},
        {c.localPort, 1, 65535, 7500, "Порт АП"},
        {c.timeOut, 1, 600, 1, "Тайм-аут, с"},
    };
    for (const auto& [box, low, high, value, name] : spins) {
        EXPECT_EQ(box->minimum(), low) << name;
        EXPECT_EQ(box->maximum(), high) << name;
        EXPECT_EQ(box->value(), value) << name;
        EXPECT_EQ(box->accessibleName(), QString::fromUtf8(name));
    }
    EXPECT_EQ(c.address->accessibleName(), "IP адрес СД");
    EXPECT_EQ(c.check->text().remove('&'), "Проверить");
    EXPECT_EQ(c.check->accessibleName(), "Проверить");
    EXPECT_TRUE(c.check->isEnabled());
    EXPECT_TRUE(c.result->isReadOnly());
    EXPECT_TRUE(c.result->toPlainText().isEmpty());
    EXPECT_FALSE(c.result->accessibleName().isEmpty());

    // Tab walks address, the three numbers, the button and the result.
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    c.address->setFocus();
    const QWidget* expected[] = {c.serverPort, c.localPort, c.timeOut, c.check, c.result};
    for (const QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const QWidget* focus = QApplication::focusWidget();
        EXPECT_TRUE(focus == next || next->isAncestorOf(focus))
            << next->objectName().toStdString() << " got "
            << (focus ? focus->objectName().toStdString() : "nothing");
    }

    // The field takes numbers of at most 255 only.
    c.address->clear();
    QTest::keyClicks(c.address, "300.1.1.1x");
    EXPECT_EQ(c.address->text(), "30.1.1.1");
}

TEST(ChanelCheckerDialog, AnAddressWithoutFourNumbersIsRefusedAndNothingStarts)
{
    CScriptedPrompt prompt;
    CChanelCheckerDlg dialog(prompt);
    dialog.show();
    const Controls c(dialog);
    for (const char* text : {"", "10.0.0", "10.0.0.", "10..0.1", "1.2.3.4."}) {
        prompt.Clear();
        c.address->setText(text);
        QTest::mouseClick(c.check, Qt::LeftButton);
        const auto told = prompt.CallsOf(Kind::Tell);
        ASSERT_EQ(told.size(), 1u) << text;
        EXPECT_EQ(told[0].text, "Укажите IP адрес СД");
        EXPECT_EQ(told[0].icon, PromptIcon::Warning);
        EXPECT_TRUE(c.check->isEnabled()) << text;
        EXPECT_FALSE(dialog.Tester()->Checking()) << text;
    }
}

TEST(ChanelCheckerDialog, AnAnswerOnLoopbackShowsSuccessAndTheButtonWaitsForIt)
{
    CUdpResponder responder;
    CScriptedPrompt prompt;
    CChanelCheckerDlg dialog(prompt);
    dialog.show();
    const Controls c(dialog);
    c.Fill("127.0.0.1", responder.Port(), testsupport::FreePort(SOCK_DGRAM), 1);
    c.result->setPlainText("старый результат");
    QTest::keyClick(c.address, Qt::Key_Return); // Enter presses "Проверить"
    EXPECT_FALSE(c.check->isEnabled());
    EXPECT_TRUE(c.result->toPlainText().isEmpty()) << "cleared at the start";
    ASSERT_TRUE(WaitFor([&] { return c.check->isEnabled(); }, 10000));
    EXPECT_EQ(dialog.ResultText(), "Проверка успешно завершена");
    EXPECT_TRUE(prompt.Calls().empty());
    ASSERT_EQ(responder.Datagrams().size(), 1u);
    EXPECT_EQ(responder.Datagrams()[0].bytes.size(), 19u);
}

TEST(ChanelCheckerDialog, ABusyLocalPortIsToldByNumberAndTheButtonComesBack)
{
    CUdpResponder occupant(CUdpResponder::Reply::None, 0, "0.0.0.0");
    CScriptedPrompt prompt;
    CChanelCheckerDlg dialog(prompt);
    dialog.show();
    const Controls c(dialog);
    c.Fill("127.0.0.1", testsupport::FreePort(SOCK_DGRAM), occupant.Port(), 1);
    QTest::mouseClick(c.check, Qt::LeftButton);
    const auto told = prompt.CallsOf(Kind::Tell);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].text, QString("Порт %1 занят").arg(occupant.Port()));
    EXPECT_EQ(told[0].icon, PromptIcon::Warning);
    EXPECT_TRUE(c.check->isEnabled());
    EXPECT_TRUE(dialog.ResultText().isEmpty());
    EXPECT_EQ(occupant.Datagrams().size(), 0u);
}

TEST(ChanelCheckerDialog, RunIsModalAndLeavesTheLocalPortFreeWhenItReturns)
{
    CUdpResponder responder;
    CScriptedPrompt prompt;
    const auto localPort = testsupport::FreePort(SOCK_DGRAM);
    QString seen;
    bool wasModal = false;
    // Acts inside the dialog's own modal loop: check, read, press Esc.
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<CChanelCheckerDlg*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        wasModal = true;
        const Controls c(*dialog);
        if (c.address->text().isEmpty()) {
            c.Fill("127.0.0.1", responder.Port(), localPort, 5);
            QTest::mouseClick(c.check, Qt::LeftButton);
        } else if (c.check->isEnabled()) {
            seen = dialog->ResultText();
            driver.stop();
            QTest::keyClick(dialog, Qt::Key_Escape);
        }
    });
    driver.start();
    const auto started = Clock::now();
    CChanelCheckerDlg::Run(nullptr, prompt);
    driver.stop();
    EXPECT_TRUE(wasModal);
    EXPECT_EQ(seen, "Проверка успешно завершена");
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(15));
    EXPECT_TRUE(PortIsFree(localPort)) << "the frame may start its servers at once";
}

// Closing used to wait "time-out seconds" as milliseconds and drop the task,
// which went on with the destroyed tester. Run under the sanitizers too.
TEST(ChanelCheckerDialog, ATraceEndsWithItsReportAndClosingInTheMiddleIsClean)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    echotest::CRoutedNetwork network;
    const auto child = echotest::RunHelper("ip netns exec " + network.a, "checker_trace_and_close");
    ASSERT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.Value("disabled_while_checking"), "1");
    ASSERT_EQ(child.Value("finished"), "1") << child.output;
    EXPECT_EQ(child.Value("starts_with_timeout"), "1") << child.output;
    EXPECT_EQ(child.Value("ends_unreachable"), "1") << child.output;
    EXPECT_EQ(child.Value("has_r1"), "1") << child.output;
    ASSERT_EQ(child.Value("in_trace"), "1") << child.output;
    EXPECT_LT(std::atoi(child.Value("close_ms").c_str()), 3000) << "one hop's 1 s echo wait";
    EXPECT_EQ(child.Value("closed"), "1");
    EXPECT_EQ(child.Value("tester_gone"), "1");
    EXPECT_EQ(child.Value("text_unchanged"), "1") << "no late result in a closed dialog";
    EXPECT_EQ(child.Value("port_free"), "1");
    EXPECT_EQ(child.Value("prompts"), "0");
}

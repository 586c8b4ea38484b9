// The options dialog: its four fields keep their ranges, "Применить" returns
// what is in them (typed or not yet committed), "Отмена" returns nothing, and
// the values reach options.xml through the settings.

#include "core/CXmlSettings.h"
#include "dialogs/COptionsDlg.h"
#include "dialogs/support/ModalDriver.h"
#include "support/TestFiles.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using channel::ProbeOptions;
using dialogs::COptionsDlg;
using dialogs::test::ActOnNextModal;

namespace channel {

// For the assertions' messages (found by argument-dependent lookup).
std::ostream& operator<<(std::ostream& out, const ProbeOptions& o)
{
    return out << "{timeOut " << o.timeOut << ", delay " << o.timeSendDelay << ", size "
               << o.sendDataSize << ", count " << o.maxSendCount << "}";
}

} // namespace channel

namespace {

QSpinBox* Box(QWidget& dialog, const char* name)
{
    return dialog.findChild<QSpinBox*>(name);
}

// Replaces the text of a spin box by typing, without committing it.
void Type(QSpinBox* box, const QString& text)
{
    QLineEdit* edit = box->findChild<QLineEdit*>();
    box->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

TEST(OptionsDialog, FieldsShowTheCurrentValuesWithinTheirRanges)
{
    COptionsDlg dialog(ProbeOptions{300, 2, 64, 7});
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Настройки");
    EXPECT_EQ(dialog.findChild<QGroupBox*>()->title(), "Настройки сети");
    struct Expect
    {
        const char* name;
        QString label;
        int minimum, maximum, value;
    };
    for (const Expect& e : {Expect{"timeOut", "Тайм-аут (мс)", 10, 30000, 300},
                            Expect{"maxSendCount", "Количество попыток", 1, 10000, 7},
                            Expect{"sendDataSize", "Размер сообщения (байт)", 10, 1024, 64},
                            Expect{"timeSendDelay", "Интервал между попытками (с)", 1, 600, 2}}) {
        SCOPED_TRACE(e.name);
        QSpinBox* box = Box(dialog, e.name);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->minimum(), e.minimum);
        EXPECT_EQ(box->maximum(), e.maximum);
        EXPECT_EQ(box->value(), e.value);
        EXPECT_EQ(box->accessibleName(), e.label);
        bool labelled = false;
        for (QLabel* label : dialog.findChildren<QLabel*>())
            labelled |= label->buddy() == box && QString(label->text()).remove('&') == e.label;
        EXPECT_TRUE(labelled);
    }
}

TEST(OptionsDialog, OutOfRangeValuesCannotBeEntered)
{
    COptionsDlg dialog(ProbeOptions{});
    dialog.show();
    // Above the maximum: the digit that would overflow is refused.
    Type(Box(dialog, "timeOut"), "99999");
    EXPECT_LE(Box(dialog, "timeOut")->findChild<QLineEdit*>()->text().toInt(), 30000);
    Type(Box(dialog, "sendDataSize"), "2048");
    Type(Box(dialog, "timeSendDelay"), "601");
    // Below the minimum: taken as the minimum when committed.
    Type(Box(dialog, "maxSendCount"), "0");
    QTest::mouseClick(dialog.findChild<QPushButton*>("apply"), Qt::LeftButton);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const ProbeOptions o = dialog.Options();
    EXPECT_GE(o.timeOut, 10);
    EXPECT_LE(o.timeOut, 30000);
    EXPECT_GE(o.sendDataSize, 10);
    EXPECT_LE(o.sendDataSize, 1024);
    EXPECT_GE(o.timeSendDelay, 1);
    EXPECT_LE(o.timeSendDelay, 600);
    EXPECT_EQ(o.maxSendCount, 1);

    // The arrows stop at the ends too.
    COptionsDlg top(ProbeOptions{30000, 600, 1024, 10000});
    top.show();
    QTest::keyClick(Box(top, "timeOut"), Qt::Key_Up);
    QTest::keyClick(Box(top, "timeSendDelay"), Qt::Key_PageUp);
    top.accept();
    EXPECT_EQ(top.Options(), (ProbeOptions{30000, 600, 1024, 10000}));
}

TEST(OptionsDialog, ApplyReturnsTheFourValuesIncludingTextNotYetCommitted)
{
    COptionsDlg dialog(ProbeOptions{200, 1, 10, 5});
    dialog.show();
    Type(Box(dialog, "timeOut"), "1234");
    Type(Box(dialog, "maxSendCount"), "42");
    Type(Box(dialog, "sendDataSize"), "512");
    Type(Box(dialog, "timeSendDelay"), "9"); // still being typed when "Применить" is pressed
    QTest::keyClick(Box(dialog, "maxSendCount"), Qt::Key_Up);
    QTest::mouseClick(dialog.findChild<QPushButton*>("apply"), Qt::LeftButton);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Options(), (ProbeOptions{1234, 9, 512, 43}));
}

TEST(OptionsDialog, TheEntryPointReturnsValuesOnApplyAndNothingOnCancel)
{
    ActOnNextModal<COptionsDlg>([](COptionsDlg& d) {
        Type(Box(d, "timeOut"), "750");
        QTest::mouseClick(d.findChild<QPushButton*>("apply"), Qt::LeftButton);
    });
    // Through the main window's seam, as it will be wired.
    const std::function<std::optional<ProbeOptions>(QWidget*, ProbeOptions)> seam =
        &COptionsDlg::Edit;
    const auto applied = seam(nullptr, ProbeOptions{200, 1, 10, 5});
    ASSERT_TRUE(applied.has_value());
    EXPECT_EQ(*applied, (ProbeOptions{750, 1, 10, 5}));

    ActOnNextModal<COptionsDlg>([](COptionsDlg& d) {
        Type(Box(d, "timeOut"), "750");
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    EXPECT_FALSE(COptionsDlg::Edit(nullptr, ProbeOptions{200, 1, 10, 5}).has_value());
}

TEST(OptionsDialog, ApplyingWritesOptionsXmlAndCancellingLeavesItAlone)
{
    testsupport::TempFolder folder;
    const std::string path = folder.File("options.xml");
    core::CXmlSettings settings;
    settings.SetOptionsPath(path);
    settings.SetOptions(200, 1, 10, 5);
    const std::string before = testsupport::ReadBytes(path);

    // What the main window does with the dialog's answer.
    const auto run = [&](bool apply) {
        ActOnNextModal<COptionsDlg>([apply](COptionsDlg& d) {
            Type(Box(d, "timeOut"), "900");
            Type(Box(d, "timeSendDelay"), "3");
            Type(Box(d, "sendDataSize"), "100");
            Type(Box(d, "maxSendCount"), "12");
            QTest::mouseClick(d.findChild<QPushButton*>(apply ? "apply" : "cancel"),
                              Qt::LeftButton);
        });
        if (auto options = COptionsDlg::Edit(nullptr, COptionsDlg::CurrentOf(settings)))
            COptionsDlg::Apply(settings, *options);
    };

    run(false);
    EXPECT_EQ(testsupport::ReadBytes(path), before);
    EXPECT_EQ(settings.TimeOut(), 200);

    run(true);
    EXPECT_EQ(settings.TimeOut(), 900);
    EXPECT_EQ(settings.TimeSendDelay(), 3);
    EXPECT_EQ(settings.SendDataSize(), 100);
    EXPECT_EQ(settings.MaxSendCount(), 12);
    core::CXmlSettings reread;
    reread.ReadOptions(path);
    EXPECT_EQ(COptionsDlg::CurrentOf(reread), (ProbeOptions{900, 3, 100, 12}));
    const std::string text = testsupport::ReadBytes(path);
    EXPECT_NE(text.find("<TimeOut>900</TimeOut>"), std::string::npos) << text;
    EXPECT_LT(text.find("<MaxSendCount>12</MaxSendCount>"),
              text.find("<SendDataSize>100</SendDataSize>"))
        << text;
}

} // namespace

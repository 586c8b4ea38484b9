// The about dialog: the build's own version, what it says when there is none,
// the copyright line, the link and the picture.

#include "dialogs/CAboutDlg.h"
#include "dialogs/support/ModalDriver.h"
#include "support/TestFiles.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using dialogs::CAboutDlg;
using dialogs::test::ActOnNextModal;

namespace {

// The version the top-level CMakeLists.txt gives the project.
QString ProjectVersion()
{
    const char* source = std::getenv("KANALIKO_SOURCE_DIR");
    const QString text = QString::fromStdString(
        testsupport::ReadBytes(std::string(source ? source : ".") + "/CMakeLists.txt"));
    const auto match =
        QRegularExpression(R"(project\(\s*Kanaliko\s+VERSION\s+([0-9.]+))").match(text);
    return match.captured(1);
}

TEST(AboutDialog, VersionTextSaysWhyThereIsNone)
{
    EXPECT_EQ(CAboutDlg::VersionText(nullptr), "Невозможно получить версию");
    EXPECT_EQ(CAboutDlg::VersionText(""), "Версия не установлена");
    EXPECT_EQ(CAboutDlg::VersionText("  "), "Версия не установлена");
    EXPECT_EQ(CAboutDlg::VersionText("@PROJECT_VERSION@"), "Ошибка извлечения версии");
    EXPECT_EQ(CAboutDlg::VersionText("1.2.3.4.5"), "Ошибка извлечения версии");
    EXPECT_EQ(CAboutDlg::VersionText("2.10.0"), "2.10.0");
    EXPECT_EQ(CAboutDlg::VersionText("7"), "7");
}

TEST(AboutDialog, ShowsTheBuildsVersionCopyrightAndLink)
{
    const QString version = ProjectVersion();
    ASSERT_FALSE(version.isEmpty());
    EXPECT_EQ(CAboutDlg::BuildVersionText(), version);

    CAboutDlg dialog;
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "О программе");
    bool title = false;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        title |= label->text() == "Программа проверки каналов связи, версия";
    EXPECT_TRUE(title);
    EXPECT_EQ(dialog.findChild<QLabel*>("version")->text(), version);
    EXPECT_TRUE(dialog.findChild<QLabel*>("copyright")->text().contains("©"));
    EXPECT_EQ(dialog.findChild<QLabel*>("copyright")->text(), CAboutDlg::CopyrightText());

    const QString site = CAboutDlg::SiteAddress();
    EXPECT_TRUE(site.startsWith("https://")) << site.toStdString();
    auto* link = dialog.findChild<QLabel*>("link");
    EXPECT_TRUE(link->isVisible());
    EXPECT_TRUE(link->openExternalLinks());
    EXPECT_TRUE(link->text().contains("href=\"" + site + "\"")) << link->text().toStdString();
    EXPECT_TRUE(link->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);

    const QLabel* picture = dialog.findChild<QLabel*>("picture");
    ASSERT_NE(picture, nullptr);
    EXPECT_FALSE(picture->pixmap().isNull()) << "the SVG resource was not found";
}

TEST(AboutDialog, OkCloses)
{
    auto closed = ActOnNextModal<CAboutDlg>([](CAboutDlg& d) {
        EXPECT_TRUE(d.findChild<QPushButton*>("ok")->isDefault());
        QTest::keyClick(&d, Qt::Key_Return);
    });
    CAboutDlg::Show(nullptr);
    EXPECT_TRUE(closed.Done());
}

} // namespace

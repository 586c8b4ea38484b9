// The scheme file commands: Save As and its ".xml", New and its title, the save
// question before New, Open and closing, and the recent list.

#include "app/CRibbonBar.h"
#include "app/CommandIds.h"
#include "app/support/CAppFixture.h"
#include "core/CAppLogic.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include <filesystem>

using namespace app::cmd;
using apptest::CAppFixture;
using Kind = dialogs::test::CScriptedPrompt::Call::Kind;
using dialogs::PromptAnswer;

namespace {

const QString kQuestion = QStringLiteral("Схема изменена. Сохранить изменения в файле?");
const QString kSuffix = QStringLiteral(" - Проверка каналов связи");

// A scheme editor that records its calls and answers with one group.
struct Editor
{
    int calls = 0;
    std::vector<std::vector<channel::SchemeGroup>> given;
    bool apply = true;
    bool keepGroups = false; // answer with the groups given

    app::FrameDialogs Dialogs()
    {
        app::FrameDialogs dialogs;
        dialogs.schemeEditor = [this](QWidget*, std::vector<channel::SchemeGroup> groups)
            -> std::optional<std::vector<channel::SchemeGroup>> {
            ++calls;
            given.push_back(groups);
            if (!apply)
                return std::nullopt;
            if (keepGroups)
                return groups;
            channel::SchemeGroup group;
            group.senderName = L"X";
            group.receiverName = L"Y";
            // A port nothing listens on: the servers restart on it.
            group.udpPairs.push_back({0, 0});
            return std::vector<channel::SchemeGroup>{group};
        };
        return dialogs;
    }
};

bool FileExists(const std::string& path)
{
    return std::filesystem::is_regular_file(path);
}

} // namespace

TEST(FileCommands, SaveAsAppendsXmlOnlyWhenTheNameHasNoXml)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("scheme.xml"))}));
    app::CMainFrame& frame = fixture.Frame();
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("scheme.xml") + kSuffix);

    const std::string plain = fixture.Folder().File("copy");
    fixture.Prompt().QueuePath(QString::fromStdString(plain));
    frame.Action(ID_FILE_SAVE_AS)->trigger();
    const auto saves = fixture.Prompt().CallsOf(Kind::SaveFile);
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].technical, QStringLiteral("Файлы схем (*.xml)"));
    EXPECT_TRUE(FileExists(plain + ".xml"));
    EXPECT_FALSE(FileExists(plain));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("copy.xml") + kSuffix);
    EXPECT_EQ(fixture.Program().Logic()->Settings().SchemePath(), plain + ".xml");

    const std::string dotted = fixture.Folder().File("second.xml.bak");
    fixture.Prompt().QueuePath(QString::fromStdString(dotted));
    frame.Action(ID_FILE_SAVE_AS)->trigger();
    EXPECT_TRUE(FileExists(dotted));
    EXPECT_FALSE(FileExists(dotted + ".xml"));
    // The saved scheme is the one that was loaded.
    EXPECT_NE(testsupport::ReadBytes(dotted).find(std::to_string(fixture.tcpPort)), std::string::npos);

    // Both went to the recent list as absolute paths, the latest first.
    const QStringList recent = frame.RecentSchemes().Paths();
    ASSERT_EQ(recent.size(), 2);
    EXPECT_EQ(recent[0], QString::fromStdString(dotted));
    EXPECT_EQ(recent[1], QString::fromStdString(plain + ".xml"));
    EXPECT_TRUE(fixture.Prompt().CallsOf(Kind::ShowError).empty());
}

TEST(FileCommands, NewAsksBeforeDroppingEditsThenIsUntitledAndSaveAsksForAName)
{
    CAppFixture fixture;
    Editor editor;
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("scheme.xml"))}, {},
                              editor.Dialogs()));
    app::CMainFrame& frame = fixture.Frame();

    // An edit: the scheme differs from its file.
    frame.Action(IDC_BTN_SCHEMA)->trigger();
    ASSERT_EQ(editor.calls, 1);
    EXPECT_EQ(editor.given[0].size(), 1u); // the loaded group
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("*scheme.xml") + kSuffix);
    EXPECT_FALSE(frame.Document().IsSaved());

    // New asks first; Cancel leaves everything as it was.
    fixture.Prompt().QueueAnswer(PromptAnswer::Cancel);
    frame.Action(ID_FILE_NEW)->trigger();
    EXPECT_EQ(fixture.Prompt().Texts(Kind::Ask), QStringList{kQuestion});
    EXPECT_EQ(editor.calls, 1);
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("*scheme.xml") + kSuffix);

    // No: the editor opens empty, and the new scheme has no file.
    fixture.Prompt().QueueAnswer(PromptAnswer::No);
    frame.Action(ID_FILE_NEW)->trigger();
    ASSERT_EQ(editor.calls, 2);
    EXPECT_TRUE(editor.given[1].empty());
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Новая схема") + kSuffix);
    EXPECT_TRUE(fixture.Program().Logic()->Settings().SchemePath().empty());
    ASSERT_EQ(fixture.Program().Logic()->Settings().Groups().size(), 1u);

    // Save asks for a name (cancelled here: nothing is written).
    fixture.Prompt().Clear();
    frame.Action(ID_FILE_SAVE)->trigger();
    EXPECT_EQ(fixture.Prompt().CallsOf(Kind::SaveFile).size(), 1u);
    EXPECT_FALSE(frame.Document().IsSaved());
}

TEST(FileCommands, ClosingWithUnsavedChangesAndCancelKeepsEverythingRunning)
{
    CAppFixture fixture;
    Editor editor;
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("scheme.xml"))}, {},
                              editor.Dialogs()));
    app::CMainFrame& frame = fixture.Frame();
    const std::uint16_t port = fixture.tcpPort;
    ASSERT_TRUE(CAppFixture::TcpPortAnswers(port));

    // Unsaved, on the same ports: the editor applies the groups unchanged.
    editor.keepGroups = true;
    frame.Action(IDC_BTN_SCHEMA)->trigger();
    ASSERT_FALSE(frame.Document().IsSaved());
    ASSERT_TRUE(CAppFixture::TcpPortAnswers(port));

    fixture.Prompt().QueueAnswer(PromptAnswer::Cancel);
    EXPECT_FALSE(frame.close());
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(fixture.Prompt().Texts(Kind::Ask), QStringList{kQuestion});
    EXPECT_TRUE(CAppFixture::TcpPortAnswers(port));
    EXPECT_FALSE(fixture.Program().Logic()->ServerRows().empty());

    // No: the window closes and the servers stop.
    fixture.Prompt().QueueAnswer(PromptAnswer::No);
    EXPECT_TRUE(frame.close());
    EXPECT_TRUE(fixture.Program().Logic()->ServerRows().empty());
    EXPECT_FALSE(CAppFixture::TcpPortAnswers(port));
}

TEST(FileCommands, OpenReplacesTheSchemeAndABrokenFileIsReportedNotRemembered)
{
    CAppFixture fixture;
    ASSERT_TRUE(fixture.Start({QString::fromStdString(fixture.WriteScheme("first.xml"))}));
    app::CMainFrame& frame = fixture.Frame();
    const std::uint16_t firstPort = fixture.tcpPort;
    const std::string second = fixture.WriteScheme("second.xml");

    fixture.Prompt().QueuePath(QString::fromStdString(second));
    frame.Action(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(fixture.Prompt().CallsOf(Kind::OpenFile).at(0).technical,
              QStringLiteral("Файлы схем (*.xml)"));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("second.xml") + kSuffix);
    // The servers moved to the new scheme's ports.
    EXPECT_TRUE(CAppFixture::TcpPortAnswers(fixture.tcpPort));
    EXPECT_FALSE(CAppFixture::TcpPortAnswers(firstPort));
    EXPECT_EQ(frame.RecentSchemes().Paths(), QStringList{QString::fromStdString(second)});

    // The recent list's entry opens it again from the menu.
    QMenu* menu = frame.Ribbon()->MainMenu();
    QAction* entry = menu->findChild<QAction*>(QStringLiteral("RecentScheme1"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->data().toString(), QString::fromStdString(second));

    const std::string broken = fixture.Folder().File("broken.xml");
    testsupport::WriteBytes(broken, "this is not xml");
    fixture.Prompt().QueuePath(QString::fromStdString(broken));
    frame.Action(ID_FILE_OPEN)->trigger();
    const auto errors = fixture.Prompt().CallsOf(Kind::ShowError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, QStringLiteral("Ошибка при загрузке файла"));
    EXPECT_EQ(frame.RecentSchemes().Paths(), QStringList{QString::fromStdString(second)});
    EXPECT_FALSE(frame.Document().IsSaved());
}

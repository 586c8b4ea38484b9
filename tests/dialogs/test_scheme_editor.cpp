// The scheme editor driven as a user drives it: rows of a real scheme file,
// adding, editing and deleting channels through the channel dialog, grouping,
// the keyboard, and what "Применить" and "Отмена" hand back.

#include "core/CXmlSettings.h"
#include "dialogs/CAddChanelDlg.h"
#include "dialogs/CSchemaEditorDlg.h"
#include "dialogs/CSchemeGridModel.h"
#include "dialogs/support/CScriptedPrompt.h"
#include "dialogs/support/ModalDriver.h"
#include "dialogs/support/ModelTesterGuard.h"
#include "support/TestFiles.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using channel::PortPair;
using channel::SchemeGroup;
using dialogs::CAddChanelDlg;
using dialogs::ChannelEntry;
using dialogs::CSchemaEditorDlg;
using dialogs::CSchemeGridModel;
using dialogs::test::ActOnNextModal;
using dialogs::test::CScriptedPrompt;

namespace {

std::string ExampleScheme()
{
    const char* source = std::getenv("KANALIKO_SOURCE_DIR");
    return std::string(source ? source : ".") + "/examples/settings.xml";
}

std::vector<SchemeGroup> GroupsOf(const core::CXmlSettings& settings)
{
    std::vector<SchemeGroup> groups;
    for (const auto& group : settings.Groups())
        groups.push_back(*group);
    return groups;
}

std::vector<SchemeGroup> ReadExample()
{
    core::CXmlSettings settings;
    settings.ReadScheme(ExampleScheme());
    return GroupsOf(settings);
}

// Fills the channel dialog as a user would and presses "Применить".
void FillChannel(CAddChanelDlg& dialog, const QString& protocol, const QString& sender,
                 const QString& senderPort, const QString& receiver, const QString& receiverPort)
{
    auto* protocolBox = dialog.findChild<QComboBox*>("protocol");
    protocolBox->setCurrentIndex(protocolBox->findText(protocol));
    const auto name = [](QComboBox* combo, const QString& text) {
        const int listed = combo->findText(text);
        if (listed >= 0) {
            combo->setCurrentIndex(listed); // chosen from the list
        } else {
            combo->lineEdit()->selectAll();
            QTest::keyClick(combo->lineEdit(), Qt::Key_Backspace);
            combo->lineEdit()->insert(text);
        }
    };
    name(dialog.findChild<QComboBox*>("senderName"), sender);
    name(dialog.findChild<QComboBox*>("receiverName"), receiver);
    for (auto [field, text] :
         {std::pair{"senderPort", senderPort}, {"receiverPort", receiverPort}}) {
        auto* edit = dialog.findChild<QLineEdit*>(field);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
    QTest::mouseClick(dialog.findChild<QPushButton*>("apply"), Qt::LeftButton);
}

class SchemeEditor : public ::testing::Test
{
protected:
    // An editor shown without a nested loop of its own; the channel dialog it
    // opens is modal and driven through ActOnNextModal.
    void Open(std::vector<SchemeGroup> groups)
    {
        editor = std::make_unique<CSchemaEditorDlg>(std::move(groups), &prompt);
        grid = editor->findChild<QTreeView*>("grid");
        model = qobject_cast<CSchemeGridModel*>(grid->model());
        tester = std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::Warning);
        editor->show();
    }
    QPushButton* Button(const char* name) { return editor->findChild<QPushButton*>(name); }
    void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
    // Clicks a row of the grid, as the user selects it.
    void ClickRow(const QModelIndex& index)
    {
        grid->scrollTo(index);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(index).center());
        ASSERT_EQ(grid->currentIndex().row(), index.row());
        ASSERT_EQ(grid->currentIndex().parent(), index.parent());
    }
    void ClickChannel(int row) { ClickRow(model->IndexOfRow(row)); }

    dialogs::test::ModelTesterGuard guard;
    CScriptedPrompt prompt;
    std::unique_ptr<CSchemaEditorDlg> editor;
    QTreeView* grid = nullptr;
    CSchemeGridModel* model = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(SchemeEditor, TheExampleSchemeShowsOneRowPerChannelGrouped)
{
    const std::vector<SchemeGroup> groups = ReadExample();
    ASSERT_EQ(groups.size(), 3u);
    Open(groups);
    EXPECT_EQ(editor->windowTitle(), "Редактор схемы");
    EXPECT_EQ(model->Channels(), dialogs::ChannelEntriesOf(groups));
    ASSERT_EQ(model->Channels().size(), 9u);
    EXPECT_EQ(model->Channels()[2],
              (ChannelEntry{L"UDP", L"Рабочая станция", L"Сервер приложений", 47002, 47001}));

    // Grouped at first: the three grouping columns are hidden, senders on top.
    EXPECT_TRUE(editor->IsGrouped());
    EXPECT_TRUE(editor->findChild<QToolButton*>("groupToggle")->isChecked());
    for (int c = 0; c < CSchemeGridModel::ColumnCount; ++c)
        EXPECT_EQ(grid->isColumnHidden(c),
                  CSchemeGridModel::IsGroupingField(model->FieldOfColumn(c)));
    EXPECT_EQ(model->rowCount(), 3);
    EXPECT_TRUE(grid->isExpanded(model->index(0, 0)));
    EXPECT_TRUE(grid->isFirstColumnSpanned(0, {}));

    // The toggle turns it into the flat list with every column.
    QTest::mouseClick(editor->findChild<QToolButton*>("groupToggle"), Qt::LeftButton);
    EXPECT_FALSE(editor->IsGrouped());
    EXPECT_EQ(model->rowCount(), 9);
    for (int c = 0; c < CSchemeGridModel::ColumnCount; ++c)
        EXPECT_FALSE(grid->isColumnHidden(c));
    EXPECT_EQ(grid->header()->sectionSize(1) > 0, true);
}

TEST_F(SchemeEditor, RoundTripThroughTheSchemeFile)
{
    Open(ReadExample());

    // Add: a new pair of known nodes.
    auto added = ActOnNextModal<CAddChanelDlg>([](CAddChanelDlg& d) {
        FillChannel(d, "TCP", "gateway-1", "48000", "Сервер баз данных", "48000");
    });
    Click("add");
    EXPECT_TRUE(added.Done());

    // Edit: the second TCP channel of the first group, 46002 -> 46003.
    ClickChannel(1);
    auto edited = ActOnNextModal<CAddChanelDlg>([](CAddChanelDlg& d) {
        EXPECT_EQ(d.findChild<QLineEdit*>("senderPort")->text(), "46002");
        FillChannel(d, "TCP", "Рабочая станция", "46003", "Сервер приложений", "46003");
    });
    Click("edit");
    EXPECT_TRUE(edited.Done());

    // Delete: the first UDP channel of the second group.
    ClickChannel(4);
    ASSERT_EQ(model->Channels()[4].senderPort, 47012);
    Click("delete");

    Click("apply");
    ASSERT_EQ(editor->result(), QDialog::Accepted);
    EXPECT_TRUE(prompt.Calls().empty());

    testsupport::TempFolder folder;
    const std::string path = folder.File("scheme.xml");
    {
        core::CXmlSettings settings;
        settings.SetGroups(editor->Groups());
        ASSERT_TRUE(settings.WriteScheme(path));
    }
    core::CXmlSettings reread;
    reread.ReadScheme(path);
    const std::vector<SchemeGroup> expected{
        {L"gateway-1", L"monitor", {}, {{47031, 47032}}, {{254, 0}}},
        {L"gateway-1", L"Сервер баз данных", {{48000, 0}}, {}, {}},
        {L"Рабочая станция", L"Сервер приложений", {{46001, 0}, {46003, 0}}, {{47001, 47002}}, {}},
        {L"Сервер приложений", L"Сервер баз данных", {{46011, 0}}, {{47021, 47022}}, {{253, 0}}},
    };
    EXPECT_EQ(GroupsOf(reread), expected);
    EXPECT_EQ(reread.TcpPorts(), (channel::PortList{48000, 46001, 46003, 46011}));
}

TEST_F(SchemeEditor, TheEditEntryPointReturnsTheGroupsOrNothing)
{
    const std::vector<SchemeGroup> original = ReadExample();

    // "Применить" without a change: the same groups, in key order.
    ActOnNextModal<CSchemaEditorDlg>([](CSchemaEditorDlg& d) {
        QTest::mouseClick(d.findChild<QPushButton*>("apply"), Qt::LeftButton);
    });
    const auto applied = CSchemaEditorDlg::EditWithPrompt(prompt, nullptr, original);
    ASSERT_TRUE(applied.has_value());
    EXPECT_EQ(*applied, dialogs::GroupsOfChannels(dialogs::ChannelEntriesOf(original)));

    // Changes, then "Отмена": nothing comes back.
    ActOnNextModal<CSchemaEditorDlg>([](CSchemaEditorDlg& d) {
        auto* view = d.findChild<QTreeView*>("grid");
        auto* m = qobject_cast<CSchemeGridModel*>(view->model());
        view->setCurrentIndex(m->IndexOfRow(0));
        d.DeleteChannel();
        ActOnNextModal<CAddChanelDlg>(
            [](CAddChanelDlg& c) { FillChannel(c, "IP", "x", "6", "y", "6"); });
        d.AddChannel();
        EXPECT_EQ(m->Channels().size(), 9u);
        QTest::mouseClick(d.findChild<QPushButton*>("cancel"), Qt::LeftButton);
    });
    EXPECT_FALSE(CSchemaEditorDlg::EditWithPrompt(prompt, nullptr, original).has_value());

    // "Создать": an empty scheme, one channel added.
    ActOnNextModal<CSchemaEditorDlg>([](CSchemaEditorDlg& d) {
        ActOnNextModal<CAddChanelDlg>(
            [](CAddChanelDlg& c) { FillChannel(c, "UDP", "a", "5001", "b", "5000"); });
        d.AddChannel();
        d.accept();
    });
    // Through the main window's seam, as it will be wired.
    const std::function<std::optional<std::vector<SchemeGroup>>(QWidget*, std::vector<SchemeGroup>)>
        seam = &CSchemaEditorDlg::Edit;
    const auto created = seam(nullptr, {});
    ASSERT_TRUE(created.has_value());
    EXPECT_EQ(*created, (std::vector<SchemeGroup>{{L"a", L"b", {}, {{5000, 5001}}, {}}}));
}

TEST_F(SchemeEditor, PortsAreStoredAsTheSchemeWantsThem)
{
    Open({});
    ActOnNextModal<CAddChanelDlg>(
        [](CAddChanelDlg& d) { FillChannel(d, "TCP", "a", "1000", "b", "1000"); });
    Click("add");
    ActOnNextModal<CAddChanelDlg>(
        [](CAddChanelDlg& d) { FillChannel(d, "UDP", "a", "5001", "b", "5000"); });
    Click("add");

    // TCP 1000/1000 shows 1000 in both port columns.
    editor->SetGrouped(false);
    const int senderPort = model->ColumnOf(CSchemeGridModel::Field::SenderPort);
    const int receiverPort = model->ColumnOf(CSchemeGridModel::Field::ReceiverPort);
    EXPECT_EQ(model->index(0, senderPort).data().toString(), "1000");
    EXPECT_EQ(model->index(0, receiverPort).data().toString(), "1000");
    EXPECT_EQ(model->index(1, senderPort).data().toString(), "5001");
    EXPECT_EQ(model->index(1, receiverPort).data().toString(), "5000");

    editor->accept();
    ASSERT_EQ(editor->Groups().size(), 1u);
    EXPECT_EQ(editor->Groups()[0].tcpPairs, (std::vector<PortPair>{{1000, 0}}));
    EXPECT_EQ(editor->Groups()[0].udpPairs, (std::vector<PortPair>{{5000, 5001}}));
}

TEST_F(SchemeEditor, ATwelveCharacterNameIsStoredAsNine)
{
    Open({});
    ActOnNextModal<CAddChanelDlg>([](CAddChanelDlg& d) {
        d.findChild<QComboBox*>("receiverName")->setEditText("123456789012");
        FillChannel(d, "TCP", "abcdefghijkl", "7", "123456789012", "7");
    });
    editor->AddChannel();
    editor->accept();
    ASSERT_EQ(editor->Groups().size(), 1u);
    EXPECT_EQ(editor->Groups()[0].senderName, L"abcdefghi");
    EXPECT_EQ(editor->Groups()[0].receiverName, L"123456789");
}

TEST_F(SchemeEditor, DeletingWithAGroupRowSelectedDoesNothing)
{
    Open(ReadExample());
    const auto before = model->Channels();
    ClickRow(model->index(1, 0)); // a sender group
    ASSERT_TRUE(model->IsGroupRow(grid->currentIndex()));
    EXPECT_FALSE(Button("delete")->isEnabled());
    editor->DeleteChannel();
    QTest::keyClick(grid, Qt::Key_Delete);
    EXPECT_EQ(model->Channels(), before);

    // Editing a group row opens nothing either.
    auto none = ActOnNextModal<CAddChanelDlg>([](CAddChanelDlg& d) { d.reject(); });
    editor->EditChannel();
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {},
                       grid->visualRect(grid->currentIndex()).center());
    EXPECT_FALSE(none.Done());
    none.Cancel();
}

TEST_F(SchemeEditor, AChannelRowIsDeletedAtOnceAndTheNextTakesItsPlace)
{
    Open(ReadExample());
    auto expected = model->Channels();
    ClickChannel(3);
    EXPECT_TRUE(Button("delete")->isEnabled());
    QTest::keyClick(grid, Qt::Key_Delete);
    expected.erase(expected.begin() + 3);
    EXPECT_EQ(model->Channels(), expected);
    EXPECT_TRUE(prompt.Calls().empty()) << "nothing is asked";
    EXPECT_EQ(model->RowOf(grid->currentIndex()), 3);
}

TEST_F(SchemeEditor, EditingOpensThePresetDialogAndKeepsThePlace)
{
    Open(ReadExample());
    editor->SetGrouped(false);
    ClickChannel(5);
    auto edited = ActOnNextModal<CAddChanelDlg>([](CAddChanelDlg& d) {
        EXPECT_EQ(d.findChild<QComboBox*>("protocol")->currentText(), "UDP");
        EXPECT_EQ(d.findChild<QComboBox*>("senderName")->currentText(), "Сервер приложений");
        EXPECT_EQ(d.findChild<QComboBox*>("receiverName")->currentText(), "Сервер баз данных");
        EXPECT_EQ(d.findChild<QLineEdit*>("senderPort")->text(), "47022");
        EXPECT_EQ(d.findChild<QLineEdit*>("receiverPort")->text(), "47021");
        // Every sender and every receiver of the scheme, in code-unit order.
        QStringList senders;
        auto* combo = d.findChild<QComboBox*>("senderName");
        for (int i = 0; i < combo->count(); ++i)
            senders << combo->itemText(i);
        EXPECT_EQ(senders, (QStringList{"gateway-1", "Рабочая станция", "Сервер приложений"}));
        EXPECT_EQ(d.findChild<QComboBox*>("receiverName")->count(), 3);
        FillChannel(d, "UDP", "Сервер приложений", "47023", "Сервер баз данных", "47021");
    });
    // A double click on a channel row is "Редактировать".
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {},
                       grid->visualRect(model->IndexOfRow(5)).center());
    EXPECT_TRUE(edited.Done());
    EXPECT_EQ(model->Channels()[5].senderPort, 47023);
    EXPECT_EQ(model->RowOf(grid->currentIndex()), 5);

    // Cancelling the channel dialog changes nothing.
    const auto before = model->Channels();
    ActOnNextModal<CAddChanelDlg>([](CAddChanelDlg& d) {
        d.findChild<QLineEdit*>("senderPort")->setText("1");
        QTest::mouseClick(d.findChild<QPushButton*>("cancel"), Qt::LeftButton);
    });
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(model->Channels(), before);
    EXPECT_TRUE(editor->isVisible()) << "Enter on a channel row edits, it does not apply";
}

TEST_F(SchemeEditor, AddingKeepsTheSelectedRow)
{
    Open(ReadExample());
    ClickChannel(6);
    ActOnNextModal<CAddChanelDlg>(
        [](CAddChanelDlg& d) { FillChannel(d, "IP", "new", "47", "node", "47"); });
    Click("add");
    ASSERT_EQ(model->Channels().size(), 10u);
    EXPECT_EQ(model->Channels()[9], (ChannelEntry{L"IP", L"new", L"node", 47, 47}));
    EXPECT_EQ(model->RowOf(grid->currentIndex()), 6);
}

TEST_F(SchemeEditor, GroupingKeepsTheSelectedChannel)
{
    Open(ReadExample());
    ClickChannel(7);
    QTest::mouseClick(editor->findChild<QToolButton*>("groupToggle"), Qt::LeftButton);
    EXPECT_EQ(model->RowOf(grid->currentIndex()), 7);
    QTest::mouseClick(editor->findChild<QToolButton*>("groupToggle"), Qt::LeftButton);
    EXPECT_TRUE(editor->IsGrouped());
    EXPECT_EQ(model->RowOf(grid->currentIndex()), 7);
}

TEST_F(SchemeEditor, ResizingGrowsTheGridAndKeepsTheButtonsAtTheirEdges)
{
    Open(ReadExample());
    EXPECT_TRUE(editor->isSizeGripEnabled());
    const QSize start = editor->size();
    const QRect grid0 = grid->geometry();
    const int addFromRight = editor->width() - Button("add")->geometry().right();
    const int cancelFromBottom = editor->height() - Button("cancel")->geometry().bottom();
    editor->resize(start + QSize(200, 150));
    QApplication::processEvents();
    EXPECT_EQ(grid->width(), grid0.width() + 200);
    EXPECT_EQ(grid->height(), grid0.height() + 150);
    EXPECT_EQ(editor->width() - Button("add")->geometry().right(), addFromRight);
    EXPECT_EQ(Button("add")->y(), grid->y()) << "the commands stay at the top right";
    EXPECT_EQ(editor->height() - Button("cancel")->geometry().bottom(), cancelFromBottom);
    EXPECT_EQ(Button("apply")->geometry().right(), grid->geometry().right());
    // Never smaller than usable.
    editor->resize(100, 100);
    EXPECT_GE(editor->width(), editor->minimumWidth());
    EXPECT_GE(editor->minimumWidth(), 400);
}

TEST_F(SchemeEditor, CancellingChangesNothing)
{
    const std::vector<SchemeGroup> original = ReadExample();
    Open(original);
    ClickChannel(0);
    Click("delete");
    Click("cancel");
    EXPECT_EQ(editor->result(), QDialog::Rejected);
    EXPECT_EQ(editor->Groups(), original) << "the groups were never collected";
}

} // namespace

// The filter dialog "Фильтр": its lists and their values, the checks it starts
// with, and the criteria "Применить", "Очистить" and "Отмена" leave behind.

#include "dialogs/CFilterDlg.h"
#include "events/EventFilter.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace dialogstest {
namespace {

using dialogs::CFilterDlg;

std::vector<channel::SchemeGroup> Groups()
{
    channel::SchemeGroup a;
    a.senderName = L"Узел А";
    a.receiverName = L"Узел Б";
    a.tcpPairs = {{5000, 0}};
    channel::SchemeGroup b;
    b.senderName = L"Узел В";
    b.receiverName = L"Узел Г";
    b.udpPairs = {{6000, 6001}};
    return {a, b};
}

std::unique_ptr<CFilterDlg> MakeDialog(const std::optional<events::FilterCriteria>& current = {})
{
    auto dialog = std::make_unique<CFilterDlg>(current,
                                               std::vector<std::string>{"10.0.0.1", "10.0.0.2"},
                                               std::vector<std::string>{"", "10.0.0.9"}, Groups());
    dialog->show();
    return dialog;
}

QStringList Items(const CFilterDlg& dialog, CFilterDlg::CheckListId list)
{
    QStringList texts;
    QListWidget* widget = dialog.CheckList(list);
    for (int i = 0; i < widget->count(); ++i)
        texts.push_back(widget->item(i)->text());
    return texts;
}

void Check(CFilterDlg& dialog, CFilterDlg::CheckListId list, int item)
{
    dialog.CheckList(list)->item(item)->setCheckState(Qt::Checked);
}

int CheckedCount(const CFilterDlg& dialog)
{
    int count = 0;
    for (int list = 0; list < CFilterDlg::LIST_COUNT; ++list) {
        QListWidget* widget = dialog.CheckList(static_cast<CFilterDlg::CheckListId>(list));
        for (int i = 0; i < widget->count(); ++i)
            count += widget->item(i)->checkState() == Qt::Checked ? 1 : 0;
    }
    return count;
}

events::Event EventOf(int status, int code, const char* receiver, std::uint16_t receiverPort)
{
    return events::MakeEvent(status, code, 0, 1, "10.0.0.1", receiver, 1000, receiverPort);
}

TEST(FilterDialog, ListsItemsAndTexts)
{
    auto dialog = MakeDialog();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Фильтр"));
    QStringList labels;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        labels.push_back(label->text());
    EXPECT_TRUE(labels.contains(QStringLiteral("Параметры фильтрации отображаемых сообщений")));
    for (const char* label :
         {"Статус", "Протокол", "Группа портов", "Описание", "Отправитель", "Получатель"}) {
        EXPECT_TRUE(labels.contains(QString::fromUtf8(label))) << label;
    }
    EXPECT_EQ(Items(*dialog, CFilterDlg::LIST_STATUSES),
              (QStringList{"Информация", "Предупреждение", "Ошибка"}));
    EXPECT_EQ(Items(*dialog, CFilterDlg::LIST_PROTOCOLS), (QStringList{"TCP", "UDP", "IP"}));
    EXPECT_EQ(Items(*dialog, CFilterDlg::LIST_PORT_GROUPS),
              (QStringList{"Узел А <-> Узел Б", "Узел В <-> Узел Г"}));
    const QStringList descriptions = Items(*dialog, CFilterDlg::LIST_DESCRIPTIONS);
    ASSERT_EQ(descriptions.size(), 14) << "codes 1 to 14";
    EXPECT_EQ(descriptions.front(), QStringLiteral("Порт открыт"));
    EXPECT_EQ(descriptions.at(5), QStringLiteral("Попытка подключения")) << "code 6";
    EXPECT_EQ(descriptions.at(12), QStringLiteral("Попытка подключения")) << "code 13";
    EXPECT_EQ(descriptions.count(QStringLiteral("Попытка подключения")), 2);
    EXPECT_EQ(Items(*dialog, CFilterDlg::LIST_SENDERS), (QStringList{"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(Items(*dialog, CFilterDlg::LIST_RECEIVERS),
              (QStringList{"Отсутствует", "10.0.0.9"}));
    EXPECT_EQ(dialog->ApplyButton()->text(), QStringLiteral("Применить"));
    EXPECT_EQ(dialog->ClearButton()->text(), QStringLiteral("Очистить"));
    EXPECT_EQ(dialog->CancelButton()->text(), QStringLiteral("Отмена"));
    EXPECT_TRUE(dialog->ApplyButton()->isDefault());
    for (int list = 0; list < CFilterDlg::LIST_COUNT; ++list) {
        QListWidget* widget = dialog->CheckList(static_cast<CFilterDlg::CheckListId>(list));
        EXPECT_FALSE(widget->accessibleName().isEmpty());
        EXPECT_TRUE(widget->focusPolicy() & Qt::TabFocus);
    }
    // A picture of the dialog for a person to look at, when asked for.
    if (const char* folder = std::getenv("KANALIKO_SCREENSHOT_DIR")) {
        Check(*dialog, CFilterDlg::LIST_STATUSES, 2);
        EXPECT_TRUE(dialog->grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/filter.png")));
    }
}

TEST(FilterDialog, WithNoFilterEverythingStartsUncheckedAndApplyLetsEveryEventThrough)
{
    auto dialog = MakeDialog();
    EXPECT_EQ(CheckedCount(*dialog), 0);
    QTest::mouseClick(dialog->ApplyButton(), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->Criteria(), events::FilterCriteria{});
    for (int status : {0, 2, 3})
        EXPECT_TRUE(events::EventFilter::MatchesCriteria(dialog->Criteria(),
                                                         EventOf(status, 10, "", 0)));
}

TEST(FilterDialog, EachCheckedItemPutsItsValueIntoTheCriteria)
{
    auto dialog = MakeDialog();
    Check(*dialog, CFilterDlg::LIST_STATUSES, 2);      // "Ошибка"
    Check(*dialog, CFilterDlg::LIST_DESCRIPTIONS, 12); // the second "Попытка подключения"
    Check(*dialog, CFilterDlg::LIST_PROTOCOLS, 1);
    Check(*dialog, CFilterDlg::LIST_PROTOCOLS, 2);
    Check(*dialog, CFilterDlg::LIST_SENDERS, 1);
    Check(*dialog, CFilterDlg::LIST_RECEIVERS, 0); // "Отсутствует"
    Check(*dialog, CFilterDlg::LIST_PORT_GROUPS, 1);
    QTest::mouseClick(dialog->ApplyButton(), Qt::LeftButton);
    const events::FilterCriteria& criteria = dialog->Criteria();
    EXPECT_EQ(criteria.statuses, std::vector<std::int32_t>{2});
    EXPECT_EQ(criteria.descriptions, std::vector<std::int32_t>{13});
    EXPECT_EQ(criteria.protocols, (std::vector<std::int32_t>{2, 3}));
    EXPECT_EQ(criteria.senders, std::vector<std::string>{"10.0.0.2"});
    EXPECT_EQ(criteria.receivers, std::vector<std::string>{""});
    ASSERT_EQ(criteria.portGroups.size(), 1U);
    EXPECT_EQ(criteria.portGroups[0], Groups()[1]);

    // The first "Попытка подключения" is code 6, and only it.
    auto first = MakeDialog();
    Check(*first, CFilterDlg::LIST_DESCRIPTIONS, 5);
    QTest::mouseClick(first->ApplyButton(), Qt::LeftButton);
    EXPECT_EQ(first->Criteria().descriptions, std::vector<std::int32_t>{6});
    EXPECT_TRUE(events::EventFilter::MatchesCriteria(first->Criteria(), EventOf(0, 6, "", 0)));
    EXPECT_FALSE(events::EventFilter::MatchesCriteria(first->Criteria(), EventOf(0, 13, "", 0)));
}

TEST(FilterDialog, AnOutgoingEventWithoutAReceiverIsFoundThroughOtsutstvuet)
{
    auto dialog = MakeDialog();
    Check(*dialog, CFilterDlg::LIST_RECEIVERS, 0);
    QTest::mouseClick(dialog->ApplyButton(), Qt::LeftButton);
    EXPECT_TRUE(events::EventFilter::MatchesCriteria(dialog->Criteria(), EventOf(0, 6, "", 0)));
    EXPECT_FALSE(events::EventFilter::MatchesCriteria(dialog->Criteria(),
                                                      EventOf(0, 6, "10.0.0.9", 2000)));
}

TEST(FilterDialog, TheCriteriaInForceAreCheckedAtTheStart)
{
    events::FilterCriteria current;
    current.statuses = {3};
    current.descriptions = {6, 13};
    current.receivers = {""};
    current.portGroups = {Groups()[0]};
    auto dialog = MakeDialog(current);
    const auto checked = [&](CFilterDlg::CheckListId list, int item) {
        return dialog->CheckList(list)->item(item)->checkState() == Qt::Checked;
    };
    EXPECT_TRUE(checked(CFilterDlg::LIST_STATUSES, 1)) << "Предупреждение is status 3";
    EXPECT_FALSE(checked(CFilterDlg::LIST_STATUSES, 0));
    EXPECT_TRUE(checked(CFilterDlg::LIST_DESCRIPTIONS, 5));
    EXPECT_TRUE(checked(CFilterDlg::LIST_DESCRIPTIONS, 12));
    EXPECT_TRUE(checked(CFilterDlg::LIST_RECEIVERS, 0));
    EXPECT_TRUE(checked(CFilterDlg::LIST_PORT_GROUPS, 0));
    EXPECT_EQ(CheckedCount(*dialog), 5) << "lists with empty criteria start unchecked";

    // "Отмена" leaves the criteria as they were given.
    QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(dialog->Criteria(), current);
}

TEST(FilterDialog, ClearRemovesEveryCheckAndKeepsTheDialogOpen)
{
    events::FilterCriteria current;
    current.statuses = {0, 2};
    current.senders = {"10.0.0.1"};
    auto dialog = MakeDialog(current);
    ASSERT_EQ(CheckedCount(*dialog), 3);
    QTest::mouseClick(dialog->ClearButton(), Qt::LeftButton);
    EXPECT_EQ(CheckedCount(*dialog), 0);
    EXPECT_TRUE(dialog->isVisible());
    QTest::mouseClick(dialog->ApplyButton(), Qt::LeftButton);
    EXPECT_EQ(dialog->Criteria(), events::FilterCriteria{});
}

TEST(FilterDialog, TheKeyboardChecksItemsAndReachesEveryControl)
{
    auto dialog = MakeDialog();
    dialog->activateWindow();
    QListWidget* statuses = dialog->CheckList(CFilterDlg::LIST_STATUSES);
    statuses->setFocus();
    statuses->setCurrentRow(2);
    QTest::keyClick(statuses, Qt::Key_Space);
    EXPECT_EQ(statuses->item(2)->checkState(), Qt::Checked);

    // Tab walks the six lists and then the buttons.
    std::vector<QWidget*> reached;
    QWidget* focus = statuses;
    for (int i = 0; i < 9; ++i) {
        focus = focus->nextInFocusChain();
        while (!(focus->focusPolicy() & Qt::TabFocus) || !focus->isVisible())
            focus = focus->nextInFocusChain();
        reached.push_back(focus);
    }
    for (QWidget* expected : {static_cast<QWidget*>(dialog->ApplyButton()),
                              static_cast<QWidget*>(dialog->CancelButton()),
                              static_cast<QWidget*>(dialog->ClearButton())})
        EXPECT_NE(std::find(reached.begin(), reached.end(), expected), reached.end());
    for (int list = 0; list < CFilterDlg::LIST_COUNT; ++list) {
        QWidget* widget = dialog->CheckList(static_cast<CFilterDlg::CheckListId>(list));
        EXPECT_NE(std::find(reached.begin(), reached.end(), widget), reached.end()) << list;
    }
}

} // namespace
} // namespace dialogstest

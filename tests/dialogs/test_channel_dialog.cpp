// The channel dialog: what it accepts, the order of its eight checks, the
// limits of its fields and the names it offers.

#include "dialogs/CAddChanelDlg.h"
#include "dialogs/support/CScriptedPrompt.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using dialogs::CAddChanelDlg;
using dialogs::ChannelEntry;
using dialogs::PromptIcon;
using dialogs::test::CScriptedPrompt;
using Kind = CScriptedPrompt::Call::Kind;

namespace {

class ChannelDialog : public ::testing::Test
{
protected:
    ChannelDialog() : dialog(&prompt) { dialog.show(); }

    QComboBox* Protocol() { return dialog.findChild<QComboBox*>("protocol"); }
    QComboBox* SenderName() { return dialog.findChild<QComboBox*>("senderName"); }
    QComboBox* ReceiverName() { return dialog.findChild<QComboBox*>("receiverName"); }
    QLineEdit* SenderPort() { return dialog.findChild<QLineEdit*>("senderPort"); }
    QLineEdit* ReceiverPort() { return dialog.findChild<QLineEdit*>("receiverPort"); }

    // Types into a field as a user would: replaces what is there.
    static void Type(QLineEdit* field, const QString& text)
    {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }
    void Fill(const QString& protocol, const QString& sender, const QString& senderPort,
              const QString& receiver, const QString& receiverPort)
    {
        Protocol()->setCurrentIndex(Protocol()->findText(protocol));
        Type(SenderName()->lineEdit(), sender);
        Type(SenderPort(), senderPort);
        Type(ReceiverName()->lineEdit(), receiver);
        Type(ReceiverPort(), receiverPort);
    }
    void Apply() { QTest::mouseClick(dialog.findChild<QPushButton*>("apply"), Qt::LeftButton); }
    bool Accepted() const { return !dialog.isVisible() && dialog.result() == QDialog::Accepted; }
    // The one message the last "Применить" showed.
    QString Message()
    {
        const QStringList texts = prompt.Texts(Kind::Tell);
        EXPECT_EQ(texts.size(), 1) << texts.join(" | ").toStdString();
        prompt.Clear();
        return texts.value(0);
    }
    static QStringList Items(const QComboBox* combo)
    {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        return items;
    }

    CScriptedPrompt prompt;
    CAddChanelDlg dialog;
};

TEST_F(ChannelDialog, AValidChannelIsAcceptedWithWhatWasEntered)
{
    Fill("UDP", "node-a", "5001", "node-b", "5000");
    Apply();
    ASSERT_TRUE(Accepted());
    EXPECT_TRUE(prompt.Calls().empty());
    EXPECT_EQ(dialog.Entry(), (ChannelEntry{L"UDP", L"node-a", L"node-b", 5001, 5000}));
}

TEST_F(ChannelDialog, ChecksRunInTheirOrderAndOnlyTheFirstFailureIsShown)
{
    // Every field wrong at once; each fix uncovers exactly the next check.
    Type(SenderPort(), "0");
    Type(ReceiverPort(), "70000");
    Apply();
    EXPECT_EQ(Message(), "Не указан протокол");
    EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open";

    Protocol()->setCurrentIndex(Protocol()->findText("TCP"));
    Apply();
    EXPECT_EQ(Message(), "Не указан отправитель");

    Type(SenderName()->lineEdit(), "a");
    Apply();
    EXPECT_EQ(Message(), "Не указан получатель");

    Type(ReceiverName()->lineEdit(), "b");
    Apply();
    EXPECT_EQ(Message(), "Неправильно указан порт отправителя");

    Type(SenderPort(), "80");
    Apply();
    EXPECT_EQ(Message(), "Неправильно указан порт получателя");

    Type(ReceiverPort(), "81");
    Apply();
    EXPECT_EQ(Message(), "Неправильно указаны порты для протокола TCP");

    Type(ReceiverPort(), "80");
    Apply();
    EXPECT_TRUE(Accepted());
    EXPECT_TRUE(prompt.Calls().empty());
    EXPECT_EQ(dialog.Entry(), (ChannelEntry{L"TCP", L"a", L"b", 80, 80}));
}

TEST_F(ChannelDialog, PortRulesOfEachProtocol)
{
    Fill("UDP", "a", "80", "b", "80");
    Apply();
    EXPECT_EQ(Message(), "Неправильно указаны порты для протокола UDP");
    // The message is a plain box with OK only; the dialog is still up.
    Fill("IP", "a", "17", "b", "6");
    Apply();
    EXPECT_EQ(Message(), "Неправильно указаны порты для протокола IP");
    EXPECT_TRUE(dialog.isVisible());
    Type(ReceiverPort(), "17");
    Apply();
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(dialog.Entry(), (ChannelEntry{L"IP", L"a", L"b", 17, 17}));
}

TEST_F(ChannelDialog, PortLimits)
{
    Fill("TCP", "a", "0", "b", "1000");
    Apply();
    EXPECT_EQ(Message(), "Неправильно указан порт отправителя");
    Fill("TCP", "a", "", "b", "1000");
    Apply();
    EXPECT_EQ(Message(), "Неправильно указан порт отправителя") << "an empty port is 0";
    Fill("TCP", "a", "1000", "b", "65536");
    Apply();
    EXPECT_EQ(Message(), "Неправильно указан порт получателя");

    // Digits only, and no sixth digit: 123456 reads as 12345.
    Type(SenderPort(), "12a3-4 56");
    EXPECT_EQ(SenderPort()->text(), "12345");
    Type(ReceiverPort(), "123456");
    EXPECT_EQ(ReceiverPort()->text(), "12345");
    EXPECT_EQ(ReceiverPort()->maxLength(), 5);
    Apply();
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(dialog.Entry().senderPort, 12345);
    EXPECT_EQ(dialog.Entry().receiverPort, 12345);
}

TEST_F(ChannelDialog, APortSetByTheProgramIsCutToFiveDigitsToo)
{
    Fill("TCP", "a", "1", "b", "1");
    SenderPort()->setText("123456");
    ReceiverPort()->setText("123456");
    Apply();
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(dialog.Entry().senderPort, 12345);
}

TEST_F(ChannelDialog, ATypedNameStopsAtNineCharactersAndSaysSo)
{
    const QString hint = dialog.findChild<QLabel*>("senderNameHint")->text();
    EXPECT_TRUE(hint.contains("9")) << hint.toStdString();
    Fill("TCP", "abcdefghijkl", "7", "b", "7");
    EXPECT_EQ(SenderName()->currentText(), "abcdefghi") << "the tenth character cannot be typed";
    // A longer paste keeps what fits.
    SenderName()->lineEdit()->clear();
    SenderName()->lineEdit()->insert("123456789012");
    EXPECT_EQ(SenderName()->currentText(), "123456789");
    Apply();
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(dialog.Entry().senderName, L"123456789");
}

TEST_F(ChannelDialog, ATwelveCharacterNameIsStoredAsNine)
{
    Fill("TCP", "a", "7", "b", "7");
    SenderName()->setEditText("Маршрутизатор");
    ReceiverName()->setEditText("123456789012");
    Apply();
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(dialog.Entry().senderName, L"Маршрутиз");
    EXPECT_EQ(dialog.Entry().receiverName, L"123456789");
}

TEST_F(ChannelDialog, ANameTheSchemeHasIsKeptWhole)
{
    // Editing a channel whose nodes have long names must not rename them.
    dialog.AddSenderName(L"Рабочая станция");
    dialog.AddReceiverName(L"Сервер приложений");
    dialog.SetEntry({L"TCP", L"Рабочая станция", L"Сервер приложений", 46001, 46001});
    EXPECT_EQ(SenderName()->currentText(), "Рабочая станция");
    Type(SenderPort(), "46002");
    Type(ReceiverPort(), "46002");
    Apply();
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(dialog.Entry(),
              (ChannelEntry{L"TCP", L"Рабочая станция", L"Сервер приложений", 46002, 46002}));
}

TEST_F(ChannelDialog, ALongNameEditedDownShowsWhatWillBeStored)
{
    dialog.AddSenderName(L"Рабочая станция");
    dialog.SetEntry({L"TCP", L"Рабочая станция", L"b", 7, 7});
    QLineEdit* field = SenderName()->lineEdit();
    field->end(false);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), "Рабочая станци") << "shortening a long name is allowed";
    QTest::keyClicks(field, "x");
    EXPECT_EQ(field->text(), "Рабочая станци") << "but it cannot grow past the limit";
    EXPECT_EQ(dialog.findChild<QLabel*>("senderNameHint")->text(), "Будет сохранено: «Рабочая с»");
    Apply();
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(dialog.Entry().senderName, L"Рабочая с");
}

TEST_F(ChannelDialog, AnEmptyOrBlankNameIsNotGiven)
{
    Fill("TCP", "", "7", "b", "7");
    Apply();
    EXPECT_EQ(Message(), "Не указан отправитель");
    Fill("TCP", "a", "7", "   ", "7");
    Apply();
    EXPECT_EQ(Message(), "Не указан получатель");
    EXPECT_FALSE(Items(ReceiverName()).contains("   ")) << "a blank name does not enter the list";
}

TEST_F(ChannelDialog, NameListsAreInCodeUnitOrderWithoutDuplicates)
{
    // U+1F600 is two UTF-16 units starting 0xD83D, so it sorts before U+FF01
    // (code-point order would put it last).
    for (const wchar_t* name : {L"b", L"a", L"Я", L"b", L"Z", L"\U0001F600", L"\uFF01"})
        dialog.AddSenderName(name);
    dialog.AddReceiverName(L"x");
    EXPECT_EQ(Items(SenderName()),
              (QStringList{"Z", "a", "b", "Я", QString::fromStdWString(L"\U0001F600"),
                           QString::fromStdWString(L"\uFF01")}));
    EXPECT_EQ(Items(ReceiverName()), QStringList{"x"});
}

TEST_F(ChannelDialog, APresetSelectsProtocolNamesAndPorts)
{
    dialog.AddSenderName(L"a");
    dialog.AddSenderName(L"c");
    dialog.AddReceiverName(L"b");
    dialog.SetEntry({L"UDP", L"c", L"b", 5001, 5000});
    EXPECT_EQ(Protocol()->currentText(), "UDP");
    EXPECT_EQ(SenderName()->currentIndex(), 1);
    EXPECT_EQ(SenderName()->currentText(), "c");
    EXPECT_EQ(ReceiverName()->currentText(), "b");
    EXPECT_EQ(SenderPort()->text(), "5001");
    EXPECT_EQ(ReceiverPort()->text(), "5000");

    // A text that is not exactly a protocol selects none.
    dialog.SetEntry({L"tcp", L"a", L"b", 1, 1});
    EXPECT_EQ(Protocol()->currentIndex(), -1);
    // An empty protocol is a new channel: nothing selected, nothing filled in.
    dialog.SetEntry({});
    EXPECT_EQ(Protocol()->currentIndex(), -1);
    EXPECT_EQ(SenderName()->currentText(), "");
    EXPECT_EQ(SenderPort()->text(), "");
}

TEST_F(ChannelDialog, NewNamesEnterTheListsOnApplyEvenWhenACheckFails)
{
    dialog.AddSenderName(L"m");
    Fill("UDP", "new", "80", "other", "80");
    Apply();
    EXPECT_EQ(Message(), "Неправильно указаны порты для протокола UDP");
    EXPECT_EQ(Items(SenderName()), (QStringList{"m", "new"}));
    EXPECT_EQ(SenderName()->currentText(), "new");
    EXPECT_EQ(Items(ReceiverName()), QStringList{"other"});
}

TEST_F(ChannelDialog, TheProtocolListAndTheTitle)
{
    EXPECT_EQ(Items(Protocol()), (QStringList{"TCP", "UDP", "IP"}));
    EXPECT_EQ(Protocol()->currentIndex(), -1);
    EXPECT_EQ(dialog.windowTitle(), "Канал связи");
}

TEST_F(ChannelDialog, EnterInAFieldIsApply)
{
    Fill("TCP", "a", "7", "b", "7");
    QTest::keyClick(ReceiverPort(), Qt::Key_Return);
    EXPECT_TRUE(Accepted());
}

TEST_F(ChannelDialog, EnterInANameBoxIsApplyAndAddsNoListEntryByItself)
{
    Fill("TCP", "a", "7", "b", "8");
    QTest::keyClick(SenderName()->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Message(), "Неправильно указаны порты для протокола TCP");
    EXPECT_EQ(Items(SenderName()), QStringList{"a"}) << "entered once, by the apply";
}

TEST_F(ChannelDialog, CancelAcceptsNothing)
{
    Fill("TCP", "a", "7", "b", "7");
    QTest::mouseClick(dialog.findChild<QPushButton*>("cancel"), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(prompt.Calls().empty());
}

TEST_F(ChannelDialog, MessagesAreOkOnlyBoxesWithoutQuestion)
{
    Apply();
    const auto calls = prompt.CallsOf(Kind::Tell);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].icon, PromptIcon::None);
    EXPECT_TRUE(prompt.CallsOf(Kind::Ask).empty());
}

} // namespace

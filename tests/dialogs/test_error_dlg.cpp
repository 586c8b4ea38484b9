// The error dialog: its texts, its Debug output and the failures it reports.

#include "dialogs/CErrorDlg.h"
#include "dialogs/CQtPrompt.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"
#include "ferrox/exceptions/Exceptions.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>

using dialogs::CErrorDlg;

namespace {

QString FieldText(CErrorDlg& dialog, const QString& accessibleName)
{
    for (QLineEdit* edit : dialog.findChildren<QLineEdit*>())
        if (edit->accessibleName() == accessibleName)
            return edit->text();
    for (QPlainTextEdit* edit : dialog.findChildren<QPlainTextEdit*>())
        if (edit->accessibleName() == accessibleName)
            return edit->toPlainText();
    ADD_FAILURE() << "no field " << accessibleName.toStdString();
    return {};
}

const QString kOperation = QStringLiteral("Во время выполнения операции:");
const QString kError = QStringLiteral("Произошла ошибка:");
const QString kTechnical = QStringLiteral("Техническая информация:");

} // namespace

TEST(ErrorDialog, CaptionFieldsAndLineBreaksBecomeBlanks)
{
    CErrorDlg dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Tessarium"));
    EXPECT_FALSE(dialog.windowIcon().isNull());
    dialog.SetOperation(QStringLiteral("Обработка серверных сообщений"));
    dialog.SetTechnicalInfo(QStringLiteral("Text: a\nCode: 5 (0x5)"));
    dialog.SetErrorText(QStringLiteral("first\r\nsecond\nthird\r"));
    EXPECT_EQ(dialog.ErrorText(), QStringLiteral("first  second third "));
    EXPECT_EQ(FieldText(dialog, kOperation), QStringLiteral("Обработка серверных сообщений"));
    EXPECT_EQ(FieldText(dialog, kError), QStringLiteral("first  second third "));
    EXPECT_EQ(FieldText(dialog, kTechnical), QStringLiteral("Text: a\nCode: 5 (0x5)"));
    // Every field is read-only.
    for (QLineEdit* edit : dialog.findChildren<QLineEdit*>())
        EXPECT_TRUE(edit->isReadOnly());
    for (QPlainTextEdit* edit : dialog.findChildren<QPlainTextEdit*>())
        EXPECT_TRUE(edit->isReadOnly());
}

TEST(ErrorDialog, AnExceptionWithTextOnlyShowsItAsErrorAndAsTechnicalInformation)
{
    CErrorDlg dialog(nullptr);
    // The bare exception: no gathered values beside "Text".
    EGeneric error(false);
    error.put_value("Text", _value_t("Файл не найден"));
    ASSERT_EQ(error.values().size(), 1u);
    dialog.SetException(QStringLiteral("Ошибка при загрузке файла"), error);
    EXPECT_EQ(dialog.Operation(), QStringLiteral("Ошибка при загрузке файла"));
    EXPECT_EQ(dialog.ErrorText(), QStringLiteral("Файл не найден"));
    EXPECT_EQ(dialog.TechnicalInfo(), QStringLiteral("Файл не найден"));
}

TEST(ErrorDialog, ASystemExceptionShowsItsMessageAndItsCodeAndTextLines)
{
    ESystemException error(ENOENT);
    error.cancel_minidump();
    const QString text = QString::fromStdString(error.get_value("Text").as_string());
    ASSERT_FALSE(text.isEmpty());
    CErrorDlg dialog(nullptr);
    dialog.SetException(QStringLiteral("Не удалось сохранить файл"), error);
    EXPECT_EQ(dialog.ErrorText(), QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    const QStringList lines = dialog.TechnicalInfo().split(QLatin1Char('\n'));
    EXPECT_TRUE(lines.contains(QStringLiteral("Code: %1 (0x%2)").arg(ENOENT).arg(ENOENT, 0, 16)))
        << dialog.TechnicalInfo().toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("Text: ") + text)) << dialog.TechnicalInfo().toStdString();
}

TEST(ErrorDialog, WritesTheErrorTextThenTheTechnicalInformationToDebug)
{
    testsupport::StreamCapture debug(Debug);
    CErrorDlg dialog(nullptr);
    dialog.SetOperation(QStringLiteral("op"));
    dialog.SetTechnicalInfo(QStringLiteral("Text: boom\nWSA: 10048"));
    dialog.SetErrorText(QStringLiteral("boom\nagain"));
    EXPECT_EQ(debug.Text(), "boom again\nText: boom\nWSA: 10048\n");

    // Without technical information only the error text.
    testsupport::StreamCapture second(Debug);
    CErrorDlg plain(nullptr);
    plain.SetErrorText(QStringLiteral("alone"));
    EXPECT_EQ(second.Text(), "alone\n");
}

TEST(ErrorDialog, WithDebugClearedNothingIsWrittenAnywhere)
{
    const TDebugStream saved = Debug;
    Debug.ClearWriters();
    {
        testsupport::StreamCapture error(Error);
        testsupport::StreamCapture console(Console);
        CErrorDlg dialog(nullptr);
        dialog.SetTechnicalInfo(QStringLiteral("Text: x"));
        dialog.SetErrorText(QStringLiteral("x"));
        EXPECT_EQ(error.Text(), "");
        EXPECT_EQ(console.Text(), "");
        EXPECT_FALSE(Debug.GetEnabled());
        EXPECT_EQ(dialog.ErrorText(), QStringLiteral("x"));
    }
    Debug = saved;
}

TEST(ErrorDialog, ThePromptShowsItModallyAndOkClosesIt)
{
    dialogs::CQtPrompt prompt(nullptr);
    CErrorDlg* seen = nullptr;
    QTimer::singleShot(0, [&] {
        seen = qobject_cast<CErrorDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(seen, nullptr);
        EXPECT_EQ(seen->Operation(), QStringLiteral("Инициализации сокетов"));
        EXPECT_EQ(seen->TechnicalInfo(), QStringLiteral("Ошибка инициализации сокетов"));
        EXPECT_TRUE(seen->ErrorText().isEmpty());
        QPushButton* ok = seen->findChild<QPushButton*>();
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->text(), QStringLiteral("OK"));
        ok->click();
    });
    prompt.ShowError(QStringLiteral("Инициализации сокетов"),
                     QStringLiteral("Ошибка инициализации сокетов"), QString());
    EXPECT_NE(seen, nullptr);
}

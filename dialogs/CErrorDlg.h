#pragma once

// The one dialog that shows a failure which reached a command boundary: the
// operation that was under way, the error text, and the technical information
// (an exception's full listing of named values). Captioned "Tessarium", with the
// program's icon and side picture.
//
// The texts also go to the Debug stream: SetErrorText writes the error text
// and, when the technical information is not empty, that text in a second
// session. The technical information must therefore be set first. With the
// Debug stream switched off nothing is written anywhere.
//
// Threads: the GUI thread only.

#include <QDialog>
#include <QString>

class EGeneric;
class QLineEdit;
class QPlainTextEdit;

namespace dialogs {

class CErrorDlg final : public QDialog
{
    Q_OBJECT

public:
    // The parent is the window the dialog is centred on and modal to.
    explicit CErrorDlg(QWidget* parent);

    void SetOperation(const QString& text);
    void SetTechnicalInfo(const QString& text);
    // Every carriage return and line feed becomes a blank; then the Debug output.
    void SetErrorText(const QString& text);

    QString Operation() const { return m_operation; }
    QString ErrorText() const { return m_errorText; }
    QString TechnicalInfo() const { return m_technicalInfo; }

    // The reporting sequence for a caught exception: the operation, its what()
    // as technical information, its "Text" as error text.
    void SetException(const QString& operation, const EGeneric& error);

    // Centres the dialog on its parent's window and runs it modally.
    int exec() override;

private:
    QString m_operation;
    QString m_errorText;
    QString m_technicalInfo;
    QLineEdit* m_operationField;
    QPlainTextEdit* m_errorField;
    QPlainTextEdit* m_technicalField;
};

} // namespace dialogs

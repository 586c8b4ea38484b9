#include "dialogs/CQtPrompt.h"

#include "dialogs/CErrorDlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace dialogs {

namespace {

QString WindowTitle()
{
    return QApplication::applicationDisplayName().isEmpty() ? QStringLiteral("Kanaliko")
                                                            : QApplication::applicationDisplayName();
}

QMessageBox::Icon BoxIcon(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::None: return QMessageBox::NoIcon;
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Warning: return QMessageBox::Warning;
    case PromptIcon::Error: return QMessageBox::Critical;
    case PromptIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

CQtPrompt::CQtPrompt(QWidget* parent, ErrorPresenter showError)
    : m_parent(parent), m_showError(std::move(showError))
{
}

PromptAnswer CQtPrompt::Ask(const QString& text, bool withCancel)
{
    QMessageBox box(QMessageBox::Question, WindowTitle(), text, QMessageBox::NoButton, m_parent);
    QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    QPushButton* cancel =
        withCancel ? box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole) : nullptr;
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel ? cancel : no);
    box.exec();
    if (box.clickedButton() == yes)
        return PromptAnswer::Yes;
    if (box.clickedButton() == no || !cancel)
        return PromptAnswer::No;
    return PromptAnswer::Cancel;
}

void CQtPrompt::Tell(const QString& text, PromptIcon icon)
{
    QMessageBox box(BoxIcon(icon), WindowTitle(), text, QMessageBox::NoButton, m_parent);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

void CQtPrompt::ShowError(const QString& operation, const QString& technicalInfo,
                          const QString& errorText)
{
    if (m_showError) {
        m_showError(m_parent, operation, technicalInfo, errorText);
        return;
    }
    CErrorDlg dialog(m_parent);
    dialog.SetOperation(operation);
    dialog.SetTechnicalInfo(technicalInfo);
    dialog.SetErrorText(errorText);
    dialog.exec();
}

QString CQtPrompt::OpenFileName(const QString& caption, const QString& filter)
{
    return QFileDialog::getOpenFileName(m_parent, caption, QString(), filter);
}

QString CQtPrompt::SaveFileName(const QString& caption, const QString& filter,
                                const QString& suggestedName)
{
    // QFileDialog asks before overwriting an existing file by default.
    return QFileDialog::getSaveFileName(m_parent, caption, suggestedName, filter);
}

} // namespace dialogs

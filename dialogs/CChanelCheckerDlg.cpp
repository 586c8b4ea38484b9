#include "dialogs/CChanelCheckerDlg.h"

#include "channel/AppMessages.h"
#include "dialogs/DialogLook.h"
#include "dialogs/IPrompt.h"
#include "engine/CChanelTester.h"
#include "loop/Window.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStringList>
#include <QVBoxLayout>

#include <cstring>
#include <functional>

namespace dialogs {

namespace {

// Up to four numbers of at most 255 with dots between them, as an address
// control lets them be typed; the check on "Проверить" asks for all four.
const char* const kAddressPattern = R"(^((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)?(\.|$)){0,4}$)";

QSpinBox* NumberField(QWidget* parent, int minimum, int maximum, int value)
{
    auto* field = new QSpinBox(parent);
    field->setRange(minimum, maximum);
    field->setValue(value);
    return field;
}

} // namespace

// The dialog's window for the tester: the stage messages and the time-out
// timer arrive here, on the GUI thread.
class CChanelCheckerDlg::CStageWindow final : public loop::CWindow
{
public:
    std::function<void(loop::WPARAM)> onStageEnded;
    std::function<void(loop::UINT_PTR)> onTimer;

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM) override
    {
        if (message == channel::WM_EVENT_ADDED && onStageEnded)
            onStageEnded(wParam);
    }
    void OnTimer(loop::UINT_PTR id) override
    {
        if (onTimer)
            onTimer(id);
    }
};

CChanelCheckerDlg::CChanelCheckerDlg(IPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_prompt(prompt), m_window(std::make_unique<CStageWindow>())
{
    setWindowTitle(QStringLiteral("Проверка канала связи с СД"));
    setAccessibleName(windowTitle());
    PrepareDialogWindow(*this);

    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("address"));
    m_address->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QString::fromLatin1(kAddressPattern)), m_address));
    m_address->setMaxLength(15);
    m_serverPort = NumberField(this, 1, 65535, 4433);
    m_serverPort->setObjectName(QStringLiteral("serverPort"));
    m_localPort = NumberField(this, 1, 65535, 7500);
    m_localPort->setObjectName(QStringLiteral("localPort"));
    m_timeOut = NumberField(this, 1, 600, 1);
    m_timeOut->setObjectName(QStringLiteral("timeOut"));

    m_check = new QPushButton(QStringLiteral("Про&верить"), this);
    m_check->setObjectName(QStringLiteral("check"));
    m_check->setAccessibleName(QStringLiteral("Проверить"));
    m_check->setDefault(true); // Enter in any field starts the check

    m_result = new QPlainTextEdit(this);
    m_result->setObjectName(QStringLiteral("result"));
    m_result->setReadOnly(true);
    // Reachable and selectable from the keyboard, so the result can be copied.
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_result->setTabChangesFocus(true);
    m_result->setAccessibleName(QStringLiteral("Результат проверки"));
    m_result->setMinimumSize(360, 140);

    auto* form = new QFormLayout;
    const std::pair<const char*, QWidget*> rows[] = {
        {"&IP адрес СД", m_address},
        {"&Порт СД", m_serverPort},
        {"Порт &АП", m_localPort},
        {"&Тайм-аут, с", m_timeOut},
    };
    for (const auto& [label, field] : rows) {
        const QString text = QString::fromUtf8(label);
        auto* caption = new QLabel(text, this);
        caption->setBuddy(field); // Alt and the underlined letter reach the field
        field->setAccessibleName(QString(text).remove(QLatin1Char('&')));
        form->addRow(caption, field);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_check, 0, Qt::AlignRight);
    layout->addWidget(m_result, 1);

    setTabOrder(m_address, m_serverPort);
    setTabOrder(m_serverPort, m_localPort);
    setTabOrder(m_localPort, m_timeOut);
    setTabOrder(m_timeOut, m_check);
    setTabOrder(m_check, m_result);
    m_address->setFocus();

    connect(m_check, &QPushButton::clicked, this, [this] { Check(); });
    m_window->onStageEnded = [this](loop::WPARAM wParam) {
        OnStageEnded(wParam);
    };
    m_window->onTimer = [this](loop::UINT_PTR id) {
        OnTimer(id);
    };
    m_tester = std::make_unique<engine::CChanelTester>(m_window->Handle());
}

CChanelCheckerDlg::~CChanelCheckerDlg() = default;

void CChanelCheckerDlg::Run(QWidget* parent, IPrompt& prompt)
{
    CChanelCheckerDlg dialog(prompt, parent);
    dialog.exec();
}

bool CChanelCheckerDlg::ReadAddress(std::uint32_t* address) const
{
    const QStringList parts = m_address->text().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    std::uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const QString& part = parts[i];
        const int value = part.toInt(&ok);
        if (!ok || part.isEmpty() || part.size() > 3 || value < 0 || value > 255 ||
            !part.front().isDigit())
            return false;
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    // Network order: the first number is the lowest-addressed byte.
    std::memcpy(address, bytes, sizeof bytes);
    return true;
}

void CChanelCheckerDlg::Check()
{
    std::uint32_t address = 0;
    if (!m_check->isEnabled() || !ReadAddress(&address)) {
        m_prompt.Tell(QStringLiteral("Укажите IP адрес СД"), PromptIcon::Warning);
        return;
    }
    m_result->clear();
    m_check->setEnabled(false);
    for (QSpinBox* field : {m_serverPort, m_localPort, m_timeOut})
        field->interpretText(); // a half-typed value is taken as the field shows it
    // A dialog shown again after it was closed gets a new tester.
    if (!m_tester)
        m_tester = std::make_unique<engine::CChanelTester>(m_window->Handle());
    m_tester->SetAccessServer(address, static_cast<std::uint16_t>(m_serverPort->value()));
    m_tester->SetLocalPort(static_cast<std::uint16_t>(m_localPort->value()));
    m_tester->SetTimeOut(static_cast<unsigned>(m_timeOut->value()));
    if (!m_tester->Start()) {
        m_prompt.Tell(QString::fromStdWString(m_tester->StartErrorText()), PromptIcon::Warning);
        m_check->setEnabled(true);
    }
}

void CChanelCheckerDlg::OnTimer(loop::UINT_PTR id)
{
    if (m_tester && id == engine::CChanelTester::TimerId)
        m_tester->TimeOutExpired();
}

void CChanelCheckerDlg::OnStageEnded(loop::WPARAM wParam)
{
    if (!m_tester)
        return; // closed: a message queued before the tester went away
    switch (m_tester->StageEnded(wParam)) {
    case engine::ChanelStage::Answered:
        ShowResult(L"Проверка успешно завершена");
        m_check->setEnabled(true);
        break;
    case engine::ChanelStage::Reported:
        ShowResult(m_tester->ReportText());
        m_check->setEnabled(true);
        break;
    case engine::ChanelStage::Tracing: // the button stays disabled
    case engine::ChanelStage::Ignored: break;
    }
}

void CChanelCheckerDlg::ShowResult(const std::wstring& text)
{
    QString shown = QString::fromStdWString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_result->setPlainText(shown);
}

void CChanelCheckerDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnParent(*this);
}

QString CChanelCheckerDlg::ResultText() const
{
    return m_result->toPlainText();
}

void CChanelCheckerDlg::done(int result)
{
    // Waits for a running trace to end its hop; nothing of the check reaches
    // the dialog afterwards.
    m_tester.reset();
    m_check->setEnabled(true);
    QDialog::done(result);
}

} // namespace dialogs

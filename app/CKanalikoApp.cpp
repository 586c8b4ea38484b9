#include "app/CKanalikoApp.h"

#include "app/CMainFrame.h"
#include "app/CNoticeQueue.h"
#include "app/ProgramParts.h"
#include "core/CAppLogic.h"
#include "core/OptionsLocation.h"
#include "dialogs/CErrorDlg.h"
#include "dialogs/CQtPrompt.h"
#include "dialogs/ErrorReport.h"
#include "ferrox/exceptions/EGeneric.h"

#include <QFileInfo>

namespace app {

namespace {
const QString kDefaultScheme = QStringLiteral("settings.xml");
const QString kAppInit = QStringLiteral("Инициализация приложения");
const QString kUiInit = QStringLiteral("Инициализация пользовательского интерфейса");
} // namespace

CKanalikoApp::CKanalikoApp() : CKanalikoApp(nullptr, ProgramPanes(), ProgramDialogs()) {}

CKanalikoApp::CKanalikoApp(dialogs::IPrompt* prompt, panes::PaneFactory panes,
                           FrameDialogs dialogs)
    : m_panes(std::move(panes)), m_dialogs(std::move(dialogs)), m_prompt(prompt)
{
    if (!m_prompt) {
        m_ownPrompt = std::make_unique<dialogs::CQtPrompt>(
            nullptr, [this](QWidget*, const QString& operation, const QString& technicalInfo,
                            const QString& errorText) {
                ShowSharedError(operation, technicalInfo, errorText);
            });
        m_prompt = m_ownPrompt.get();
    }
    m_notices = std::make_unique<CNoticeQueue>(*m_prompt);
}

CKanalikoApp::~CKanalikoApp()
{
    // The frame stops the client check and waits for it, and stops the servers;
    // then the logic may go.
    delete m_errorDlg;
    m_frame.reset();
    m_logic.reset();
}

void CKanalikoApp::ShowSharedError(const QString& operation, const QString& technicalInfo,
                                   const QString& errorText)
{
    // The shared dialog, unless it is up already (then a dialog of its own).
    std::unique_ptr<dialogs::CErrorDlg> own;
    dialogs::CErrorDlg* dialog = m_errorDlg;
    if (!dialog || dialog->isVisible()) {
        own = std::make_unique<dialogs::CErrorDlg>(m_frame.get());
        dialog = own.get();
    }
    dialog->SetOperation(operation);
    dialog->SetTechnicalInfo(technicalInfo);
    dialog->SetErrorText(errorText);
    dialog->exec();
}

bool CKanalikoApp::InitInstance(const QStringList& arguments)
{
    QString given;
    for (const QString& argument : arguments) {
        if (!argument.startsWith(QLatin1Char('-'))) {
            given = argument;
            break;
        }
    }

    m_frame = std::make_unique<CMainFrame>(*m_prompt, *m_notices, m_panes, m_dialogs);
    if (m_ownPrompt)
        m_ownPrompt->SetParent(m_frame.get());
    m_errorDlg = new dialogs::CErrorDlg(m_frame.get());

    // Application init.
    QString schemePath;
    bool saved = false;
    if (!given.isEmpty() && QFileInfo(given).isFile()) {
        schemePath = given;
        saved = true;
    } else {
        schemePath = kDefaultScheme;
        saved = QFileInfo(kDefaultScheme).isFile();
    }
    CKanalikoDoc document;
    try {
        m_logic = std::make_unique<core::CAppLogic>(m_notices.get());
        const std::string optionsPath = core::PrepareOptionsFilePath();
        m_logic->Init(m_notices.get(), schemePath.toStdString(), optionsPath);
        document.SetFile(schemePath, saved);
    } catch (const EGeneric& e) {
        dialogs::ReportException(*m_prompt, kAppInit, e);
        // What memory holds is not that file (or only part of it).
        document.SetFile(schemePath, false);
    }
    m_frame->SetDocument(document);

    // User-interface init.
    try {
        if (!m_logic)
            throw EGeneric(value_pair("Text", _value_t("Логика приложения не создана")));
        m_frame->AttachLogic(*m_logic);
        m_frame->RestoreWindowState();
        m_frame->show();
    } catch (const EGeneric& e) {
        dialogs::ReportException(*m_prompt, kUiInit, e);
        return false;
    }
    return true;
}

} // namespace app

#pragma once

// A whole desktop program for a test: a temporary folder that is the current
// folder and the configuration folder ($XDG_CONFIG_HOME, so options.xml and the
// window state never touch the user's), short probe options, schemes on free
// ports, and the application object with a scripted prompt and the test's own
// panes and dialogs.

#include "app/CKanalikoApp.h"
#include "app/CMainFrame.h"
#include "dialogs/support/CScriptedPrompt.h"
#include "support/TestFiles.h"

#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace apptest {

class CAppFixture
{
public:
    // Options: TimeOut 50 ms, TimeSendDelay 1 s, SendDataSize 10, MaxSendCount
    // maxSendCount (the client check's time per peer is about maxSendCount s
    // for a scheme without ports).
    explicit CAppFixture(int maxSendCount = 1);
    ~CAppFixture();
    CAppFixture(const CAppFixture&) = delete;
    CAppFixture& operator=(const CAppFixture&) = delete;

    // A scheme file in the folder: one group "A" -> "B" with a TCP port and a
    // UDP pair on free ports (their numbers in tcpPort/udpPort), or with no
    // channels at all. Returns its path.
    std::string WriteScheme(const std::string& name, bool withChannels = true);

    // Creates the program and runs its start-up with these arguments.
    bool Start(const QStringList& arguments, panes::PaneFactory panes = {},
               app::FrameDialogs dialogs = {});
    // Ends the program as the user would not: the object goes (the frame stops
    // what runs).
    void Stop();

    app::CMainFrame& Frame() { return *m_program->MainFrame(); }
    app::CKanalikoApp& Program() { return *m_program; }
    dialogs::test::CScriptedPrompt& Prompt() { return m_prompt; }
    const testsupport::TempFolder& Folder() const { return m_folder; }

    // Runs the event loop until the condition holds (at most the time given).
    static bool WaitFor(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Whether a TCP connection to 127.0.0.1:port is accepted.
    static bool TcpPortAnswers(std::uint16_t port);

    std::uint16_t tcpPort = 0;
    std::uint16_t udpPort = 0;

private:
    testsupport::TempFolder m_folder;
    std::string m_oldFolder;
    std::string m_oldConfig;
    bool m_hadConfig = false;
    dialogs::test::CScriptedPrompt m_prompt;
    std::unique_ptr<app::CKanalikoApp> m_program;
};

} // namespace apptest

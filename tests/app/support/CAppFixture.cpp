#include "app/support/CAppFixture.h"

#include "loop/EventLoop.h"
#include "support/FreePorts.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace apptest {

CAppFixture::CAppFixture(int maxSendCount) : m_folder("kanaliko-app")
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME")) {
        m_hadConfig = true;
        m_oldConfig = config;
    }
    const std::string config = m_folder.File("config");
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    std::filesystem::create_directories(config + "/Kanaliko");
    testsupport::WriteBytes(config + "/Kanaliko/options.xml",
                            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options>"
                            "<TimeOut>50</TimeOut><TimeSendDelay>1</TimeSendDelay>"
                            "<MaxSendCount>" +
                                std::to_string(maxSendCount) +
                                "</MaxSendCount><SendDataSize>10</SendDataSize></Options>\n");
    m_oldFolder = std::filesystem::current_path().string();
    std::filesystem::current_path(m_folder.Path());
}

CAppFixture::~CAppFixture()
{
    Stop();
    std::filesystem::current_path(m_oldFolder);
    if (m_hadConfig)
        setenv("XDG_CONFIG_HOME", m_oldConfig.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

std::string CAppFixture::WriteScheme(const std::string& name, bool withChannels)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chanels>";
    if (withChannels) {
        tcpPort = testsupport::FreePort(SOCK_STREAM);
        udpPort = testsupport::FreePort(SOCK_DGRAM);
        text += "<Group senderName=\"A\" receiverName=\"B\">"
                "<Proto name=\"TCP\"><Port srvPort=\"" +
                std::to_string(tcpPort) +
                "\" clPort=\"0\"/></Proto>"
                "<Proto name=\"UDP\"><Port srvPort=\"" +
                std::to_string(udpPort) + "\" clPort=\"0\"/></Proto><Proto name=\"IP\"/></Group>";
    }
    text += "</Chanels>\n";
    const std::string path = m_folder.File(name);
    testsupport::WriteBytes(path, text);
    return path;
}

bool CAppFixture::Start(const QStringList& arguments, panes::PaneFactory panes,
                        app::FrameDialogs dialogs)
{
    m_program = std::make_unique<app::CKanalikoApp>(&m_prompt, std::move(panes), std::move(dialogs));
    return m_program->InitInstance(arguments);
}

void CAppFixture::Stop()
{
    m_program.reset();
}

bool CAppFixture::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    return loop::RunUntil(condition, timeout);
}

bool CAppFixture::TcpPortAnswers(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace apptest

#include "cli/CChannelSession.h"

#include "channel/AppMessages.h"
#include "cli/CCommandLine.h"
#include "cli/EventLines.h"
#include "core/OptionsLocation.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {
bool IsFile(const std::string& path)
{
    struct stat st
    {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
} // namespace

CChannelSession::CChannelSession(const CCommandLine& command, bool printEvents)
    : m_printEvents(printEvents)
{
    const std::string scheme = command.ValueOr("scheme", "settings.xml");
    if (!IsFile(scheme))
        throw ESetupError("scheme file not found: " + scheme);
    std::string options;
    if (auto given = command.Value("options")) {
        options = *given;
    } else {
        options = core::PrepareOptionsFilePath();
    }
    m_logic = std::make_unique<core::CAppLogic>(&m_notifier);
    m_window = std::make_unique<core::CAppWindow>(*m_logic);
    m_window->SetMessageHandler(
        [this](loop::UINT m, loop::WPARAM w, loop::LPARAM l) { OnMessage(m, w, l); });
    m_logic->SetMainWindow(m_window->Handle());
    m_logic->SetServerPane(m_window->Handle());
    m_logic->SetEventsPane(m_window->Handle());
    m_logic->SetClientPane(m_window->Handle());
    try {
        m_logic->Init(&m_notifier, scheme, options);
    } catch (const EGeneric& e) {
        _value_t text = e.get_value("Text");
        throw ESetupError("cannot read the scheme " + scheme + ": " +
                          (text.empty() ? e.what() : text.as_string()));
    }
    m_scheme = scheme;
}

void CChannelSession::RequirePorts(const char* nothing) const
{
    // Nothing probed is not "every port answered", and listening on nothing is
    // no service: a scheme without a single port (no groups, or only Proto
    // elements whose name is not exactly TCP, UDP or IP) is a set-up error.
    const core::CXmlSettings& settings = m_logic->Settings();
    if (settings.TcpPorts().empty() && settings.UdpPorts().empty() && settings.IpPorts().empty())
        throw ESetupError("the scheme " + m_scheme + " has " + nothing +
                          ": no Proto named TCP, UDP or IP with a Port");
}

CChannelSession::~CChannelSession()
{
    m_logic->StopServers();
    m_logic->StopAllClients();
    m_window.reset();
    m_logic.reset();
}

void CChannelSession::StartServers()
{
    m_logic->StartServers(0);
}

void CChannelSession::KeepEvents(int limit)
{
    m_logic->SetEventLimit(limit);
}

void CChannelSession::OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM)
{
    if (message == channel::WM_EVENT_ADDED) {
        // One notice stands for every event added since the last one was taken.
        m_logic->Events().TakeRowsNotice();
        if (m_printEvents)
            PrintNewEvents();
        // Printed first: only events already shown can go.
        if (const int dropped = m_logic->TrimEvents()) {
            m_printed = m_printed > dropped ? m_printed - dropped : 0;
            std::cerr << "kanaliko-cli: dropped the oldest " << dropped << " events, keeping the last "
                      << m_logic->Events().Limit() << " (--keep-events)" << std::endl;
        }
    } else if (message == channel::WM_CLIENT_ROW_QUEUED) {
        channel::ClientRow row = m_logic->TakeClientRow(static_cast<std::uint32_t>(wParam));
        if (row.eventIndex != -1) { // -1: not queued, or already taken
            if (m_onRow)
                m_onRow(row);
        }
    }
}

void CChannelSession::PrintNewEvents()
{
    const int count = m_logic->GetEventCount();
    for (; m_printed < count; ++m_printed) {
        if (auto event = m_logic->GetEvent(m_printed))
            std::cout << EventLine(*event) << "\n";
    }
    std::cout.flush();
}

namespace {

std::string CsvFailure(const std::string& path, int error)
{
    return "Не удалось сохранить файл " + path + ": " + std::strerror(error);
}

} // namespace

void CChannelSession::CheckCsvPath(const std::string& path)
{
    // Opened for writing without truncating an existing file; a new one is
    // created exclusively and removed again.
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (errno != ENOENT)
        throw ESetupError(CsvFailure(path, errno));
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        throw ESetupError(CsvFailure(path, errno));
    ::close(fd);
    ::unlink(path.c_str());
}

void CChannelSession::WriteCsv(const std::string& path) const
{
    struct stat before
    {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw ESetupError(CsvFailure(path, errno));
    m_logic->ExportCsv(out);
    out.flush();
    if (!out) {
        const int error = errno;
        out.close();
        if (!existed)
            ::unlink(path.c_str()); // no empty or partial file where there was none
        throw ESetupError(CsvFailure(path, error != 0 ? error : EIO));
    }
}

} // namespace cli

#include "engine/CChanelTester.h"

#include "channel/AppMessages.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"
#include "ferrox/strings/Strings.h"
#include "ferrox/threads/ThreadPool.h"
#include "loop/Window.h"
#include "platform/ErrorTexts.h"
#include "platform/IcmpEcho.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ctime>
#include <netinet/in.h>

namespace engine {

namespace {

const wchar_t* const kUnreachable = L"заданный узел недоступен";

// A run of receive errors that are not "would block" (ICMP answers to our own
// datagrams) is read at once, as each may be followed by the awaited answer; a
// longer run than this is paused like an empty socket, so that a host flooding
// us with ICMP errors cannot keep a core busy for the whole time-out.
constexpr int kErrorsBeforePause = 16;

// The echo handle of one trace.
class CEchoHandle final
{
public:
    CEchoHandle() : m_handle(platform::IcmpCreateFile()) {}
    ~CEchoHandle()
    {
        if (Valid())
            platform::IcmpCloseHandle(m_handle);
    }
    CEchoHandle(const CEchoHandle&) = delete;
    CEchoHandle& operator=(const CEchoHandle&) = delete;
    bool Valid() const { return m_handle != platform::INVALID_HANDLE_VALUE; }
    platform::HANDLE Get() const { return m_handle; }

private:
    platform::HANDLE m_handle;
};

std::wstring DottedText(std::uint32_t address)
{
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return as_wstring(text);
}

// The start failure as the exception the rest of the program would carry: its
// listing goes to the Error stream. Built without a stack or a report: a busy
// port is an everyday answer, not a fault of the program.
void WriteStartFailure(const char* call, int error, const std::wstring& text)
{
    EGeneric failure(false);
    failure.put_value("Text", _value_t(text));
    failure.put_value("WSA", _value_t(error));
    failure.put_value("Call", _value_t(std::string(call)));
    if (Error.GetEnabled())
        TDebugStreamSession(Error) << "CChanelTester::Start: " << failure.what() << "\n";
}

} // namespace

CChanelTester::CChanelTester(loop::HWND window) : m_window(window) {}

CChanelTester::~CChanelTester()
{
    Close();
}

void CChanelTester::SetAccessServer(std::uint32_t address, std::uint16_t port)
{
    m_serverAddress = address;
    m_serverPort = port;
}

void CChanelTester::SetLocalPort(std::uint16_t port)
{
    m_localPort = port;
}

void CChanelTester::SetTimeOut(unsigned seconds)
{
    m_timeOutSeconds = std::clamp(seconds, 1u, MaxTimeOutSeconds);
}

std::array<std::uint8_t, 19> CChanelTester::BuildDatagram(std::uint64_t secondsSince1970)
{
    // An LCP Configure-Request in a PPP frame: address, control, protocol, then
    // code 1, identifier 0, length 4, and the options MRU 1500 and a magic
    // number, which carries the time.
    std::array<std::uint8_t, 19> datagram = {0x00, 0xFF, 0x03, 0xC0, 0x21, 0x01, 0x00,
                                             0x00, 0x04, 0x01, 0x04, 0x05, 0xDC, 0x01,
                                             0x06, 0x00, 0x00, 0x00, 0x00};
    const auto time = static_cast<std::uint32_t>(secondsSince1970);
    for (int i = 0; i < 4; ++i)
        datagram[static_cast<std::size_t>(15 + i)] = static_cast<std::uint8_t>(time >> (8 * i));
    return datagram;
}

bool CChanelTester::Start()
{
    Close();
    m_stopping = false;
    m_wake.Reset();
    m_answered = false;
    m_traceDone = false;
    m_startError = 0;
    m_startErrorText.clear();
    {
        std::lock_guard<std::mutex> lock(m_hopsLock);
        m_hops.clear();
    }

    const char* call = "socket";
    m_socket = platform::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    bool opened = m_socket != platform::INVALID_SOCKET;
    if (opened) {
        call = "ioctlsocket";
        platform::u_long nonBlocking = 1;
        opened = platform::ioctlsocket(m_socket, FIONBIO, &nonBlocking) == 0;
    }
    if (opened) {
        call = "bind";
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(m_localPort.load());
        opened =
            platform::bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    if (!opened) {
        m_startError = platform::WSAGetLastError();
        m_startErrorText = m_startError == platform::WSAEADDRINUSE
                               ? format_wstring(L"Порт %u занят", unsigned{m_localPort.load()})
                               : platform::SystemErrorText(static_cast<unsigned>(m_startError));
        WriteStartFailure(call, m_startError, m_startErrorText);
        CloseSocket();
        return false;
    }

    loop::KillTimer(m_window, TimerId);
    m_receiving = true;
    ++m_checkNumber;
    m_checking = true;
    // Armed before the datagram leaves, unlike the order one might expect: an
    // answer on loopback can come back before a later SetTimer, and the loop's
    // KillTimer would then miss the timer it is meant to stop.
    loop::SetTimer(m_window, TimerId, m_timeOutSeconds.load() * 1000u);
    RunTask(&CChanelTester::ReceiveLoop);
    SendDatagram(BuildDatagram(static_cast<std::uint64_t>(std::time(nullptr))));
    return true;
}

void CChanelTester::RunTask(void (CChanelTester::*body)())
{
    m_task = SmartPtr<TThreadTask>(new Task(this, body));
    GetSystemThreadPool()->AddTask(m_task);
}

void CChanelTester::SendDatagram(const std::array<std::uint8_t, 19>& datagram) const
{
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = m_serverAddress.load();
    server.sin_port = htons(m_serverPort.load());
    if (platform::sendto(m_socket, reinterpret_cast<const char*>(datagram.data()),
                         static_cast<int>(datagram.size()), 0,
                         reinterpret_cast<const sockaddr*>(&server),
                         sizeof server) == platform::SOCKET_ERROR &&
        Error.GetEnabled())
        Error.printf("Send WSAGetLastError = %d\n", platform::WSAGetLastError());
}

void CChanelTester::GrowBuffer()
{
    const std::size_t size = m_bufferSize.load();
    m_bufferSize = std::min(size * 2, MaxReceiveBuffer);
}

void CChanelTester::ReceiveLoop()
{
    try {
        std::vector<char> buffer(m_bufferSize.load());
        int errorsInARow = 0;
        while (m_receiving.load() && !m_stopping.load()) {
            const int received = platform::recvfrom(
                m_socket, buffer.data(), static_cast<int>(buffer.size()), 0, nullptr, nullptr);
            const int error = received >= 0 ? 0 : platform::WSAGetLastError();
            if (received >= 0 || error == platform::WSAEMSGSIZE) {
                // 10040 is a datagram longer than the buffer: it came, so it is
                // an answer like any other (its cut-off rest is lost, as on
                // Windows). The buffer grows for the port tests of a later trace.
                if (error == platform::WSAEMSGSIZE)
                    GrowBuffer();
                loop::KillTimer(m_window, TimerId);
                m_answered = true;
                m_receiving = false;
                break;
            }
            if (error == platform::WSAEWOULDBLOCK || ++errorsInARow >= kErrorsBeforePause) {
                errorsInARow = 0;
                m_wake.Wait(ReceivePauseMs, false); // Close cuts it short
            }
        }
    } catch (const EGeneric&) {
        // Ends the loop; the window still learns that the stage is over.
    }
    PostStageEnd();
}

void CChanelTester::TimeOutExpired()
{
    m_receiving = false;
    loop::KillTimer(m_window, TimerId);
}

ChanelStage CChanelTester::StageEnded(loop::WPARAM wParam)
{
    if (!m_checking || wParam != static_cast<loop::WPARAM>(m_checkNumber.load()))
        return ChanelStage::Ignored;
    if (m_answered.load()) {
        m_checking = false;
        return ChanelStage::Answered;
    }
    if (!m_traceDone.load()) {
        StartTrace();
        return ChanelStage::Tracing;
    }
    m_checking = false;
    return ChanelStage::Reported;
}

void CChanelTester::StartTrace()
{
    if (m_socket == platform::INVALID_SOCKET)
        return;
    // After a time-out the receive loop has posted its message and is
    // returning; called at any other time, it ends within one pause. Two tasks
    // must never share the socket's buffer size and the hop list.
    m_receiving = false;
    m_wake.Set();
    if (m_task)
        m_task->WaitForEnd(-1);
    m_wake.Reset();
    m_traceDone = false;
    RunTask(&CChanelTester::Trace);
}

void CChanelTester::Trace()
{
    try {
        RunTrace();
    } catch (const EGeneric& e) {
        if (Debug.GetEnabled())
            TDebugStreamSession(Debug) << "CChanelTester: the trace ended: " << e.what() << "\n";
    }
    m_traceDone = true;
    PostStageEnd();
}

void CChanelTester::RunTrace()
{
    {
        std::lock_guard<std::mutex> lock(m_hopsLock);
        m_hops.clear();
    }
    int oldTtl = 0;
    int length = sizeof oldTtl;
    const bool haveOldTtl =
        platform::getsockopt(m_socket, IPPROTO_IP, IP_TTL, reinterpret_cast<char*>(&oldTtl),
                             &length) != platform::SOCKET_ERROR;
    if (!haveOldTtl && Error.GetEnabled())
        Error.printf("Get TTL WSAGetLastError = %d\n", platform::WSAGetLastError());

    // A new time field: the server sees that this is not the first datagram again.
    const auto datagram = BuildDatagram(static_cast<std::uint64_t>(std::time(nullptr)));
    const CEchoHandle echo;
    if (!echo.Valid() && Error.GetEnabled())
        Error.printf("IcmpCreateFile WSAGetLastError = %d\n", platform::WSAGetLastError());

    const std::uint32_t server = m_serverAddress.load();
    std::vector<char> buffer(m_bufferSize.load());
    bool previousAnswered = true;
    bool previousWasServer = false;
    for (int ttl = 1; ttl <= MaxTraceTtl; ++ttl) {
        if (ttl >= 2 && (!previousAnswered || previousWasServer))
            break;
        if (m_stopping.load())
            break;
        const auto ttlByte = static_cast<unsigned char>(ttl);
        if (platform::setsockopt(m_socket, IPPROTO_IP, IP_TTL,
                                 reinterpret_cast<const char*>(&ttlByte),
                                 1) == platform::SOCKET_ERROR &&
            Error.GetEnabled())
            Error.printf("Set TTL WSAGetLastError = %d\n", platform::WSAGetLastError());
        SendDatagram(datagram);

        const unsigned char request[1] = {0};
        unsigned char reply[sizeof(platform::ICMP_ECHO_REPLY) + 1] = {};
        platform::IP_OPTION_INFORMATION options;
        options.Ttl = ttlByte;
        const platform::DWORD replies =
            platform::IcmpSendEcho(echo.Get(), server, request, sizeof request, &options, reply,
                                   sizeof reply, EchoTimeOutMs);
        if (m_stopping.load())
            break;

        ChanelHop hop;
        if (replies > 0) {
            platform::ICMP_ECHO_REPLY record;
            std::memcpy(&record, reply, sizeof record);
            hop.Answered = true;
            hop.Address = record.Address;
            hop.Text = DottedText(record.Address);
        } else {
            hop.Text = kUnreachable;
        }
        hop.PortOpen = PortTest(buffer);
        previousAnswered = hop.Answered;
        previousWasServer = hop.Answered && hop.Address == server;
        std::lock_guard<std::mutex> lock(m_hopsLock);
        m_hops.push_back(std::move(hop));
    }

    if (haveOldTtl) {
        const auto oldTtlByte = static_cast<unsigned char>(oldTtl);
        if (platform::setsockopt(m_socket, IPPROTO_IP, IP_TTL,
                                 reinterpret_cast<const char*>(&oldTtlByte),
                                 1) == platform::SOCKET_ERROR &&
            Error.GetEnabled())
            Error.printf("Set old TTL WSAGetLastError = %d\n", platform::WSAGetLastError());
    }
}

bool CChanelTester::PortTest(std::vector<char>& buffer)
{
    for (int tries = 0; tries < PortTestTries;) {
        if (platform::recvfrom(m_socket, buffer.data(), static_cast<int>(buffer.size()), 0, nullptr,
                               nullptr) >= 0)
            return true;
        switch (platform::WSAGetLastError()) {
        case platform::WSAEWOULDBLOCK: // nothing came back: not refused
        case platform::WSAENETRESET:   // the time-to-live ran out beyond this hop
            return true;
        case platform::WSAECONNRESET: // port unreachable
            return false;
        case platform::WSAEMSGSIZE:
            GrowBuffer();
            buffer.resize(m_bufferSize.load());
            ++tries;
            break;
        default: ++tries; break;
        }
    }
    return false;
}

void CChanelTester::PostStageEnd()
{
    if (!m_stopping.load())
        loop::PostToWindow(m_window, channel::WM_EVENT_ADDED,
                           static_cast<loop::WPARAM>(m_checkNumber.load()), 0);
}

std::vector<ChanelHop> CChanelTester::Hops() const
{
    std::lock_guard<std::mutex> lock(m_hopsLock);
    return m_hops;
}

std::wstring CChanelTester::ReportText() const
{
    return ReportText(Hops());
}

std::wstring CChanelTester::ReportText(const std::vector<ChanelHop>& hops)
{
    std::wstring text = L"Истёк тайм-аут\r\n";
    for (const ChanelHop& hop : hops) {
        if (hop.Text == kUnreachable)
            text += format_wstring(L"%ls\r\n", hop.Text.c_str());
        else
            text += format_wstring(L"%ls: %ls\r\n", hop.Text.c_str(),
                                   hop.PortOpen ? L"порт открыт" : L"порт закрыт");
    }
    return text;
}

void CChanelTester::Close()
{
    m_stopping = true;
    m_receiving = false;
    m_wake.Set();
    loop::KillTimer(m_window, TimerId);
    if (m_task) {
        // Until the task's function has really returned, not a guessed time:
        // a trace still running would otherwise go on using this object.
        m_task->WaitForEnd(-1);
        m_task.reset();
    }
    CloseSocket();
    m_checking = false;
    ++m_checkNumber; // whatever an ended task queued is now an old check's message
}

void CChanelTester::CloseSocket()
{
    if (m_socket == platform::INVALID_SOCKET)
        return;
    platform::shutdown(m_socket, platform::SD_BOTH);
    platform::closesocket(m_socket);
    m_socket = platform::INVALID_SOCKET;
}

} // namespace engine

#pragma once

// The check of a node's UDP channel to an access server ("СД"): one datagram of a
// fixed 19-byte form goes from a chosen local port to the server's port, and any
// datagram that comes back to the local port, from any host, proves the channel.
// When nothing comes within the time-out, the path is traced: the datagram is
// sent again with time-to-live 1, 2, ... while an echo request of the same TTL
// names the hop, and the UDP socket tells for each hop whether the datagram's
// port was found closed there (port unreachable) or not.
//
// Stages, as the owning window sees them:
//   Start() -> receive loop (pool task) and the window's timer 1 armed
//     -> a datagram arrives: the loop ends -> WM_EVENT_ADDED
//     -> or the timer expires: the owner calls TimeOutExpired(), the loop ends
//        within 100 ms -> WM_EVENT_ADDED
//   StageEnded() on WM_EVENT_ADDED: Answered (done), or Tracing (the trace task
//   runs and posts WM_EVENT_ADDED when it is done), or Reported (ReportText()).
//
// Threading contract
// - Construction, the setters, Start, StartTrace, TimeOutExpired, StageEnded,
//   Close and destruction: the owning window's thread (the GUI thread). The
//   setters take effect at the next Start.
// - The receive loop and the trace run as tasks on the system pool. They talk to
//   the window only by posting WM_EVENT_ADDED (wParam = the check's number, so a
//   message of an earlier check is recognised and ignored) and by killing its
//   timer 1. The flags they share with the GUI thread are atomic; the hop list
//   has a lock.
// - Close (and so Start and the destructor) stops the running task through the
//   stopping flag and waits until its function has really returned: the loop's
//   pause is cut short, the trace stops before its next hop, so the wait is
//   bounded by one hop's echo wait (EchoTimeOutMs) and a few non-blocking calls.
//   Once Close has returned, no task of this tester runs and nothing more is
//   posted; a message already queued carries an old check number.
//
// Bounds: the trace stops at TTL 254 (MaxTraceTtl) or at the first hop that does
// not answer or that is the server; each port test makes at most
// PortTestTries receive calls; the receive buffer doubles on an oversized
// datagram up to MaxReceiveBuffer bytes and no further.

#include "loop/WindowTypes.h"
#include "platform/Sockets.h"

#include "ferrox/sync/Event.h"
#include "ferrox/threads/ThreadTask.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace engine {

// One hop of a trace, in order of time-to-live.
struct ChanelHop
{
    // The dotted address, or "заданный узел недоступен".
    std::wstring Text;
    bool PortOpen = false;     // the datagram's port was not found closed there
    bool Answered = false;     // the echo request of this TTL got an answer
    std::uint32_t Address = 0; // who answered, network order; 0 when nobody did
};

// What the owner does after WM_EVENT_ADDED.
enum class ChanelStage
{
    Ignored,  // not a message of the running check (an earlier or a closed one)
    Answered, // "Проверка успешно завершена"; the check is over
    Tracing,  // the time-out expired and the trace has started
    Reported, // the trace is done: ReportText(); the check is over
};

class CChanelTester
{
public:
    // window: receives WM_EVENT_ADDED and owns timer 1. It must outlive the
    // tester (the dialog destroys the tester first).
    explicit CChanelTester(loop::HWND window);
    virtual ~CChanelTester();
    CChanelTester(const CChanelTester&) = delete;
    CChanelTester& operator=(const CChanelTester&) = delete;

    // The access server, its address in network order.
    void SetAccessServer(std::uint32_t address, std::uint16_t port);
    void SetLocalPort(std::uint16_t port);
    // 1 to 600 seconds (clamped).
    void SetTimeOut(unsigned seconds);

    // Opens the socket on the local port, starts the receive loop, sends the
    // datagram and arms the timer. False when the socket could not be opened,
    // bound or made non-blocking: StartError() and StartErrorText() then tell
    // why, and the failure has been written to the Error stream.
    bool Start();
    int StartError() const { return m_startError; }
    // "Порт %u занят" for a busy local port, else the system's text of the error.
    const std::wstring& StartErrorText() const { return m_startErrorText; }

    // The window's timer 1 expired: the receive loop ends and posts.
    void TimeOutExpired();
    // The window received WM_EVENT_ADDED with this wParam.
    ChanelStage StageEnded(loop::WPARAM wParam);
    // Starts the trace as a pool task (StageEnded does so after a time-out).
    void StartTrace();
    // Stops the running task, waits until it has ended, closes the socket.
    void Close();

    bool Answered() const { return m_answered.load(); }
    bool TraceDone() const { return m_traceDone.load(); }
    // Whether a check was started and has not reached its result yet.
    bool Checking() const { return m_checking; }
    std::vector<ChanelHop> Hops() const;
    // "Истёк тайм-аут\r\n", then one line per hop.
    std::wstring ReportText() const;

    static std::wstring ReportText(const std::vector<ChanelHop>& hops);
    // The access-server datagram with the given time (seconds since 1970; the low
    // 32 bits go into the last four bytes, little-endian).
    static std::array<std::uint8_t, 19> BuildDatagram(std::uint64_t secondsSince1970);

    static constexpr loop::UINT_PTR TimerId = 1;
    static constexpr unsigned ReceivePauseMs = 100;
    static constexpr std::size_t FirstReceiveBuffer = 20;
    static constexpr std::size_t MaxReceiveBuffer = 65536; // holds any UDP datagram
    static constexpr int MaxTraceTtl = 254;
    static constexpr unsigned EchoTimeOutMs = 1000;
    static constexpr int PortTestTries = 5;
    static constexpr unsigned MaxTimeOutSeconds = 600;

private:
    using Task = TThreadTask_MemberCall0<CChanelTester, void (CChanelTester::*)()>;

    // Pool task bodies.
    void ReceiveLoop();
    void Trace();
    void RunTrace();
    // One port test on the UDP socket after a hop's datagram: open or closed.
    bool PortTest(std::vector<char>& buffer);
    void GrowBuffer();
    // Posts WM_EVENT_ADDED for the check that is running, unless it is stopping.
    void PostStageEnd();
    void RunTask(void (CChanelTester::*body)());
    void SendDatagram(const std::array<std::uint8_t, 19>& datagram) const;
    void CloseSocket();

    const loop::HWND m_window;
    std::atomic<std::uint32_t> m_serverAddress{0};
    std::atomic<std::uint16_t> m_serverPort{4433};
    std::atomic<std::uint16_t> m_localPort{7500};
    std::atomic<unsigned> m_timeOutSeconds{1};

    // Opened by Start on the GUI thread before a task starts, closed by Close
    // after the task has ended: the tasks only use it in between.
    platform::SOCKET m_socket = platform::INVALID_SOCKET;
    SmartPtr<TThreadTask> m_task; // receive loop or trace; GUI thread only
    std::atomic<bool> m_receiving{false};
    std::atomic<bool> m_stopping{false};
    TEvent m_wake{true, false}; // cuts the loop's pause short when stopping
    std::atomic<bool> m_traceDone{false};
    std::atomic<bool> m_answered{false};
    std::atomic<std::size_t> m_bufferSize{FirstReceiveBuffer};

    mutable std::mutex m_hopsLock;
    std::vector<ChanelHop> m_hops;

    // GUI thread only.
    bool m_checking = false;
    std::atomic<std::uint32_t> m_checkNumber{0};

    int m_startError = 0;
    std::wstring m_startErrorText;
};

} // namespace engine

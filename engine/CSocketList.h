#pragma once

// The common base of the six protocol objects: a list of ports with one socket
// per port, opened and closed together, and the operations through which the
// application logic starts them and feeds them socket notifications and timer
// expiries. The engine never touches a window or the event list itself: it
// reports through IApp.
//
// Threads
// - Servers: everything on the GUI thread (StartServers, the dispatch of their
//   notifications, StopServers).
// - Clients: Start (and the socket opens it makes) on the thread that starts
//   the client, in the program the client-check task; CloseAll on the thread
//   that stops it (StopClients: the check task, or the GUI thread at the end);
//   OnSocketEvent and timers on the GUI thread (the dispatch asserts it);
//   FindSocket and socket replacements on pool threads too. The socket array
//   is therefore read and written atomically, slot by slot.

#include "channel/PeerAddress.h"
#include "engine/IApp.h"
#include "engine/IStartGate.h"
#include "platform/Sockets.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

using platform::SOCKET;

// A socket together with its life (see CSocketList::WithLife): what a client's
// pool task is given, so that what it posts names the socket it worked on.
struct SocketLife
{
    SOCKET socket = platform::INVALID_SOCKET;
    std::uint32_t life = 0;
};

class CSocketList
{
public:
    // sink may be null: then nothing is reported.
    CSocketList(IApp* sink, const channel::PeerAddress& address, int protocol);
    CSocketList(const CSocketList&) = delete;
    CSocketList& operator=(const CSocketList&) = delete;

    // Closes what is open (when there were ports), takes a copy of the ports and
    // opens one socket per port, in order.
    virtual void Start(const std::vector<std::uint16_t>& ports);
    // What StartPorts takes around making the socket array and around each
    // slice of opens (none: nothing). Set by the one who starts the client,
    // before Start, and cleared after it.
    void SetStartGate(IStartGate* gate) { m_startGate = gate; }
    // How many ports StartPorts opens under the gate at a time.
    static constexpr int kStartSlice = 16;
    // Opens the socket of one port; `socket` is that port's slot and receives the
    // new socket, or INVALID_SOCKET when none could be opened.
    virtual void OpenSocket(SOCKET& socket, std::uint16_t port);
    // Closes every socket and forgets them.
    virtual void CloseAll();
    // A notification, timer or completion for one of this object's sockets.
    virtual void OnSocketEvent(SOCKET socket, int index, loop::LPARAM code);
    // The index of the socket in the array, or -1.
    virtual int FindSocket(SOCKET socket) const;
    virtual ~CSocketList();

    int Protocol() const { return m_protocol; }
    const channel::PeerAddress& Address() const { return m_address; }
    const std::vector<std::uint16_t>& Ports() const { return m_ports; }
    int SocketCount() const { return m_count; }
    SOCKET SocketAt(int index) const;

    // Descriptor numbers come back at once: a socket closed now and the next one
    // opened, by this object or another, often share one. Each socket a slot
    // takes therefore gets a number of its own, unique in the process: its life.
    // The clients' posted messages carry it (bits 32..63 of lParam, where a
    // socket notification has nothing), and their timers are tied to it, so that
    // a message or timer meant for an earlier socket with the same number is
    // known for what it is and ignored. 0 is no life.
    static loop::LPARAM WithLife(loop::LPARAM code, std::uint32_t life);
    static std::uint32_t LifeOf(loop::LPARAM code);
    // The code without its life.
    static loop::LPARAM CodeOf(loop::LPARAM code);

protected:
    // Starts with the ports given (the UDP objects split pairs first).
    void StartPorts(const std::vector<std::uint16_t>& ports);
    void SetSocketAt(int index, SOCKET socket);
    // The slot to open a port's socket into, for Start, and back.
    SOCKET& SlotAt(int index);
    int IndexOfSlot(const SOCKET& slot) const;
    void CloseSockets();

    // How a server's socket is made: its type and protocol (a raw socket's
    // protocol is the port's number), and the message and network events its
    // notifications come with.
    struct ServerSocketKind
    {
        int type = 0;
        int protocol = 0;
        loop::UINT message = 0;
        long events = 0;
    };
    // Opens a server's socket for one port: made, watched, bound to the
    // server's address and the port (raw sockets ignore the port), and for a
    // stream socket listening. Reported with the port's server row: 1 "Порт
    // открыт"; 3 when the system refuses the socket for want of rights; 2 when
    // the port is in use; else 14, with the last socket error. On a failure the
    // socket is closed and the port stays without one.
    void OpenServerSocket(SOCKET& socket, std::uint16_t port, const ServerSocketKind& kind);
    // Reads one datagram of a server's socket into buffer; the sender's
    // address in sender. A failed read is reported for the port (an ICMP
    // answer to an earlier send, 10054, is a failed receive; anything else an
    // internal error) and gives -1.
    int ReceiveDatagram(SOCKET socket, char* buffer, int size, sockaddr_in& sender,
                        std::uint16_t port);
    // AddEvent with the status of the code, no peer, (port, 0), not incoming;
    // then UpdateServerRow. For server sockets opening and server-side errors.
    int ReportWithServerRow(int code, int error, std::uint16_t port);
    // AddEvent; -1 when there is no sink.
    int Report(int status, int code, int error, const char* peerText, std::uint16_t port1,
               std::uint16_t port2, bool incoming);
    // AddClientRow, then WM_CLIENT_ROW_QUEUED with the sequence number.
    void QueueClientRow(const channel::ClientRow& row);

    // Whether the index is one of the slots and holds this socket: what every
    // notification is checked against before it is looked at.
    bool IsSocketAt(int index, SOCKET socket) const;

    // The life of the socket the slot holds; a slot gets a new one when it
    // takes a new socket (Start gives every slot one before OpenSocket).
    std::uint32_t LifeAt(int index) const;
    std::uint32_t NewLifeAt(int index);
    // Whether a posted code belongs to the slot's present socket: its life is
    // the slot's. Codes without a life (socket notifications, timers) do not.
    bool IsCurrent(int index, loop::LPARAM code) const;
    // Whether a client's request for the slot (its own message, or its probe
    // timer: PROBE_TIMER) is meant for the slot's present socket: a message
    // must carry that socket's life, a timer must have been armed by that
    // socket (and is taken, once).
    bool IsOwnRequest(int index, loop::LPARAM code);

    // The port's probe timer (its expiry reaches the client as PROBE_TIMER,
    // without a life): armed for the slot's present socket, and taken once when
    // it fires. An expiry the slot's present socket did not arm is not its own.
    void ArmTimer(int index, SOCKET socket, int seconds);
    // The same timer, once after `milliseconds` (IApp::StartPauseTimer).
    void ArmPauseTimer(int index, SOCKET socket, int milliseconds);
    bool TakeTimer(int index);
    // Stops the timer a socket of that life armed, if it is still armed.
    void StopTimerOfLife(SOCKET socket, std::uint32_t life);

public:
    // A port's second timer, beside its probe timer: the deadline of a wait
    // that the event loop keeps for a client (a TCP probe's echo). Its id is
    // the socket with this bit set; its expiry reaches the client as
    // PROBE_DEADLINE. Its owner kills it when the wait ends, so none outlives
    // its socket.
    static constexpr loop::UINT_PTR kDeadlineTimerBit = loop::UINT_PTR{1} << 40;

protected:
    void ArmDeadline(SOCKET socket, int milliseconds);
    void StopDeadline(SOCKET socket);
    // Stops every armed timer: a client that goes leaves none behind to fire on
    // a later socket with the same number. Call before the sockets are closed.
    void StopTimers();

    IApp* m_sink;
    channel::PeerAddress m_address;
    int m_protocol;
    std::vector<std::uint16_t> m_ports;

private:
    // One slot per port, read and written with atomic operations (a client
    // replaces a slot's socket on a pool thread while the GUI thread looks it up);
    // plain SOCKETs so that Start can hand a slot to OpenSocket by reference.
    std::unique_ptr<SOCKET[]> m_sockets;
    // Per slot: the present socket's life, and the life that armed the timer (0:
    // none armed). Read and written from the GUI and pool threads.
    std::unique_ptr<std::atomic<std::uint32_t>[]> m_lives;
    std::unique_ptr<std::atomic<std::uint32_t>[]> m_timerLives;
    int m_count = 0;
    IStartGate* m_startGate = nullptr;
};

} // namespace engine

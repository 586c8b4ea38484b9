#pragma once

// A tiny UDP service for tests: it records every datagram that reaches its port
// (bytes, sender, arrival time) and may answer each one, from its own socket or
// from another socket of the host (another port), with a reply of a chosen
// size. It runs on a thread of its own until the object goes away.
//
//   CUdpResponder responder;                   // 127.0.0.1, a free port, answers 4 bytes
//   CUdpResponder silent(Reply::None);         // records only
//   responder.WaitForDatagrams(1, 10s);

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class CUdpResponder
{
public:
    enum class Reply
    {
        None,        // never answers
        SameSocket,  // answers from the port it was sent to
        OtherSocket, // answers from another port (any datagram from anywhere counts)
    };

    struct Datagram
    {
        std::vector<std::uint8_t> bytes;
        std::uint16_t senderPort = 0;
        std::chrono::system_clock::time_point arrived;
    };

    // address: dotted IPv4 to bind (in the calling thread's network namespace);
    // port 0 picks a free one. replySize: bytes of each answer.
    explicit CUdpResponder(Reply reply = Reply::SameSocket, std::size_t replySize = 4,
                           const std::string& address = "127.0.0.1", std::uint16_t port = 0);
    ~CUdpResponder();
    CUdpResponder(const CUdpResponder&) = delete;
    CUdpResponder& operator=(const CUdpResponder&) = delete;

    std::uint16_t Port() const { return m_port; }
    std::vector<Datagram> Datagrams() const;
    // Waits (without a loop of its own to run) until count datagrams have come.
    bool WaitForDatagrams(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    void Run();

    const Reply m_reply;
    const std::size_t m_replySize;
    int m_socket = -1;
    int m_otherSocket = -1;
    std::uint16_t m_port = 0;
    int m_stopPipe[2] = {-1, -1};
    mutable std::mutex m_lock;
    std::vector<Datagram> m_datagrams;
    std::thread m_thread;
};

} // namespace testsupport

// A UDP server under a flood: one thread sends N datagrams at a server port as
// fast as it can (bounded in time) while the GUI thread serves them through the
// event loop and the program's dispatch. Prints the datagrams the server read
// and echoed per second, and what the kernel dropped for want of buffer.
//
//   bench_udp_flood [datagrams=100000]

#include "channel/AppMessages.h"
#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"
#include "engine/CEngineDispatch.h"
#include "engine/CUdpServer.h"
#include "loop/AsyncSelect.h"
#include "loop/EventLoop.h"
#include "loop/Window.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class CFloodApp final : public engine::IApp, public loop::CWindow
{
public:
    engine::CEngineDispatch dispatch{*this};
    std::atomic<long> received{0};
    std::atomic<long> echoed{0};
    std::atomic<long> failures{0};

    bool PostToWindow(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override
    {
        return loop::PostToWindow(Handle(), message, wParam, lParam);
    }
    int SelectAsync(platform::SOCKET s, loop::UINT message, long events) override
    {
        return loop::WSAAsyncSelect(s, Handle(), message, events);
    }
    void StartSendTimer(loop::UINT_PTR, int) override {}
    void StartPauseTimer(loop::UINT_PTR, int) override {}
    void StopSendTimer(loop::UINT_PTR) override {}
    int AddEvent(int, int code, int, int, const char*, std::uint16_t, std::uint16_t, bool) override
    {
        if (code == channel::EC_RECEIVED)
            ++received;
        else if (code == channel::EC_SENT)
            ++echoed;
        else if (code != channel::EC_PORT_OPEN)
            ++failures;
        return 0;
    }
    void UpdateServerRow(int, int, std::uint16_t, int) override {}
    std::uint32_t AddClientRow(const channel::ClientRow&) override { return 0; }

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM lParam) override
    {
        if (const auto route = engine::CEngineDispatch::RouteOf(message))
            dispatch.Dispatch(*route, static_cast<platform::SOCKET>(wParam), lParam);
    }
};

} // namespace

int main(int argc, char** argv)
{
    const long total = argc > 1 ? std::atol(argv[1]) : 100000;
    QCoreApplication application(argc, argv);
    CFloodApp app;

    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(sender, reinterpret_cast<sockaddr*>(&self), sizeof(self));
    socklen_t length = sizeof(self);
    ::getsockname(sender, reinterpret_cast<sockaddr*>(&self), &length);
    int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target = self;
    target.sin_port = 0;
    ::bind(probe, reinterpret_cast<sockaddr*>(&target), sizeof(target));
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&target), &length);
    ::close(probe);

    engine::CUdpServer server(&app, channel::PeerAddress{});
    app.dispatch.AddServer(&server);
    server.Start({ntohs(target.sin_port), ntohs(self.sin_port)});

    const std::vector<char> datagram = channel::BuildRequest(10);
    std::atomic<long> sent{0};
    std::atomic<bool> done{false};
    auto begin = std::chrono::steady_clock::now();
    std::thread flood([&] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (sent < total && std::chrono::steady_clock::now() < deadline) {
            ::sendto(sender, datagram.data(), datagram.size(), 0,
                     reinterpret_cast<sockaddr*>(&target), sizeof(target));
            ++sent;
        }
        done = true;
    });
    loop::RunUntil([&] { return done.load(); }, std::chrono::minutes(2));
    flood.join();
    // Serve what is still queued, then stop when nothing new comes for 200 ms.
    long last = -1;
    while (last != app.received.load()) {
        last = app.received.load();
        loop::ProcessEventsFor(std::chrono::milliseconds(200));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() - 0.2;
    std::printf("sent %ld datagrams; the server read %ld and echoed %ld (%ld failures) in %.2f s\n",
                sent.load(), app.received.load(), app.echoed.load(), app.failures.load(), seconds);
    std::printf("handled %.0f datagrams/s; %ld dropped by the kernel before the server read them\n",
                app.received.load() / seconds, sent.load() - app.received.load());
    ::close(sender);
    return 0;
}

// kanaliko-cli access: the check of the channel to an access server, as the
// dialog "Проверка канала связи с СД" runs it, with the result on standard
// output.

#include "channel/AppMessages.h"
#include "cli/AddressList.h"
#include "cli/CCommandLine.h"
#include "cli/CSignalWatcher.h"
#include "cli/Commands.h"
#include "engine/CChanelTester.h"
#include "ferrox/strings/Strings.h"
#include "loop/EventLoop.h"
#include "loop/Window.h"
#include "platform/IcmpEcho.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <arpa/inet.h>
#include <chrono>
#include <iostream>
#include <vector>

namespace cli {

namespace {

// The dialog's ranges and defaults.
const std::vector<OptionInfo> kAccessOptions = {
    {"port", true, "PORT  the access server's UDP port, 1-65535 (default 4433)"},
    {"local-port", true,
     "PORT  the local UDP port the datagram leaves from, 1-65535 (default 7500)"},
    {"timeout", true, "SECONDS  wait for an answer before tracing, 1-600 (default 1)"},
    {"json", false, "print one JSON document (outcome, text and hops) instead of text"},
    {"debug", false, "also write diagnostic output to standard error"},
    {"help", false, "show this help"},
};

// The dialog's part: stage messages and the time-out timer go to the tester.
class CAccessWindow final : public loop::CWindow
{
public:
    engine::CChanelTester* tester = nullptr;
    engine::ChanelStage result = engine::ChanelStage::Ignored;

    bool Done() const
    {
        return result == engine::ChanelStage::Answered || result == engine::ChanelStage::Reported;
    }

protected:
    void OnMessage(loop::UINT message, loop::WPARAM wParam, loop::LPARAM) override
    {
        if (message != channel::WM_EVENT_ADDED || tester == nullptr)
            return;
        const engine::ChanelStage stage = tester->StageEnded(wParam);
        if (stage == engine::ChanelStage::Answered || stage == engine::ChanelStage::Reported)
            result = stage;
    }
    void OnTimer(loop::UINT_PTR id) override
    {
        if (tester != nullptr && id == engine::CChanelTester::TimerId)
            tester->TimeOutExpired();
    }
};

// The result text with the terminal's line ends.
std::string ConsoleText(const std::wstring& text)
{
    std::string out = as_string(text);
    for (std::size_t at = out.find("\r\n"); at != std::string::npos; at = out.find("\r\n", at))
        out.erase(at, 1);
    return out;
}

QJsonObject Document(const std::string& server, long port, long localPort, long timeOut,
                     bool answered, const std::string& text,
                     const std::vector<engine::ChanelHop>& hops)
{
    QJsonArray hopList;
    int ttl = 0;
    for (const engine::ChanelHop& hop : hops) {
        QJsonObject h;
        h["ttl"] = ++ttl;
        h["answered"] = hop.Answered;
        if (hop.Answered) {
            in_addr address{};
            address.s_addr = hop.Address;
            char dotted[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &address, dotted, sizeof dotted);
            h["address"] = QString::fromLatin1(dotted);
            h["portOpen"] = hop.PortOpen;
        } else {
            h["address"] = QJsonValue::Null;
        }
        h["text"] = QString::fromStdWString(hop.Text);
        hopList.append(h);
    }
    QJsonObject document;
    document["server"] = QString::fromStdString(server);
    document["port"] = static_cast<int>(port);
    document["localPort"] = static_cast<int>(localPort);
    document["timeout"] = static_cast<int>(timeOut);
    document["answered"] = answered;
    document["outcome"] = answered ? QStringLiteral("answered") : QStringLiteral("timed out");
    document["text"] = QString::fromStdString(text);
    document["hops"] = hopList;
    return document;
}

} // namespace

int RunAccess(int argc, char** argv)
{
    CCommandLine command(argc, argv, 2, kAccessOptions);
    if (command.Has("help")) {
        std::cout
            << "Usage: kanaliko-cli access SERVER [options]\n\n"
               "Sends the access-server datagram (19 bytes) from the local port to SERVER and\n"
               "waits for any answer on the local port. When none comes within the time-out,\n"
               "traces the path hop by hop and tells where the port was found closed. Tracing\n"
               "needs ICMP echo (root, CAP_NET_RAW, the group kanaliko set up by the package,\n"
               "or a group in net.ipv4.ping_group_range).\n"
               "Exit status: 0 when the server answered, 1 when it did not, 2 for usage or\n"
               "set-up errors (a busy local port included).\n\n"
            << CCommandLine::OptionsHelp(kAccessOptions);
        return 0;
    }
    const std::vector<std::string> servers = ParseAddressList(command.Positional(), "server");
    if (servers.size() != 1)
        throw EUsage("give exactly one access server");
    const std::string& server = servers.front();
    const long port = command.Number("port", 4433, 1, 65535);
    const long localPort = command.Number("local-port", 7500, 1, 65535);
    const long timeOut = command.Number("timeout", 1, 1, 600);
    const bool json = command.Has("json");
    ApplyDebugOption(command.Has("debug"));

    if (!CanSendIcmpEcho())
        std::cerr << "kanaliko-cli: without ICMP echo (root, CAP_NET_RAW, the group kanaliko set "
                     "up by the package, or a group in net.ipv4.ping_group_range) a trace "
                     "cannot name the hops\n";

    CAccessWindow window;
    engine::CChanelTester tester(window.Handle());
    window.tester = &tester;
    tester.SetAccessServer(::inet_addr(server.c_str()), static_cast<std::uint16_t>(port));
    tester.SetLocalPort(static_cast<std::uint16_t>(localPort));
    tester.SetTimeOut(static_cast<unsigned>(timeOut));
    bool interrupted = false;
    CSignalWatcher interrupts([&](int) { interrupted = true; });
    if (!tester.Start())
        throw ESetupError(as_string(tester.StartErrorText()));
    const auto done = [&] {
        return interrupted || window.Done();
    };
    while (!done())
        loop::RunUntil(done, std::chrono::hours(1));
    if (interrupted) {
        tester.Close(); // waits for a running trace to end its hop
        std::cerr << "kanaliko-cli: interrupted\n";
        return 1;
    }

    const bool answered = window.result == engine::ChanelStage::Answered;
    const std::string text =
        ConsoleText(answered ? std::wstring(L"Проверка успешно завершена") : tester.ReportText());
    if (json) {
        std::cout << QJsonDocument(
                         Document(server, port, localPort, timeOut, answered, text,
                                  answered ? std::vector<engine::ChanelHop>() : tester.Hops()))
                         .toJson(QJsonDocument::Indented)
                         .toStdString();
    } else {
        std::cout << text;
        if (answered)
            std::cout << "\n";
    }
    return answered ? 0 : 1;
}

} // namespace cli

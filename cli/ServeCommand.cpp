#include "cli/CChannelSession.h"
#include "cli/CCommandLine.h"
#include "cli/CSignalWatcher.h"
#include "cli/Commands.h"

#include <QEventLoop>

#include <iostream>

namespace cli {

namespace {
// The events a serving node keeps: 100000 records of 72 bytes, about 7 MB
// (9 MB with the quarter it may run over before the oldest go).
constexpr long kDefaultKeptEvents = 100000;

const std::vector<OptionInfo> kServeOptions = {
    {"scheme", true, "FILE  the channel scheme (default: settings.xml in the current folder)"},
    {"options", true, "FILE  the options file (default: ~/.config/Kanaliko/options.xml)"},
    {"keep-events", true,
     "N  the most events kept, 100-100000000 (default 100000); the oldest go first"},
    {"debug", false, "also write diagnostic output to standard error"},
    {"help", false, "show this help"},
};
} // namespace

int RunServe(int argc, char** argv)
{
    CCommandLine command(argc, argv, 2, kServeOptions);
    if (command.Has("help")) {
        std::cout
            << "Usage: kanaliko-cli serve [--scheme FILE] [--options FILE]\n\n"
               "Listens on every TCP port, UDP server port and IP protocol of the scheme and\n"
               "echoes the probes of other nodes; prints every event until SIGINT or SIGTERM.\n"
               "A node that serves for long keeps only its latest events (--keep-events)\n"
               "and says how many older ones it dropped.\n\n"
            << CCommandLine::OptionsHelp(kServeOptions);
        return 0;
    }
    if (!command.Positional().empty())
        throw EUsage("serve takes no addresses");
    const long keep = command.Number("keep-events", kDefaultKeptEvents, 100, 100000000);
    ApplyDebugOption(command.Has("debug"));

    CChannelSession session(command, true);
    session.RequirePorts("nothing to listen on");
    // Whatever peers send, the history stays bounded: the oldest events go.
    session.KeepEvents(static_cast<int>(keep));
    // The watcher calls on the GUI thread, from inside the loop it quits.
    QEventLoop serving;
    CSignalWatcher interrupts([&](int) { serving.quit(); });
    session.StartServers();
    session.PrintNewEvents();
    serving.exec();
    session.Logic().StopServers();
    session.PrintNewEvents();
    std::cerr << "kanaliko-cli: servers stopped" << std::endl;
    if (const std::uint64_t dropped = session.Logic().Events().DroppedCount())
        std::cerr << "kanaliko-cli: " << dropped << " older events were dropped in all, the last "
                  << session.Logic().GetEventCount() << " kept" << std::endl;
    return 0;
}

} // namespace cli

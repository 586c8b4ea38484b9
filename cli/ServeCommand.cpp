#include "cli/CChannelSession.h"
#include "cli/CCommandLine.h"
#include "cli/CSignalWatcher.h"
#include "cli/Commands.h"
#include "loop/EventLoop.h"

#include <chrono>
#include <iostream>

namespace cli {

namespace {
const std::vector<OptionInfo> kServeOptions = {
    {"scheme", true, "FILE  the channel scheme (default: settings.xml in the current folder)"},
    {"options", true, "FILE  the options file (default: ~/.config/Kanaliko/options.xml)"},
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
               "echoes the probes of other nodes; prints every event until SIGINT or SIGTERM.\n\n"
            << CCommandLine::OptionsHelp(kServeOptions);
        return 0;
    }
    if (!command.Positional().empty())
        throw EUsage("serve takes no addresses");
    ApplyDebugOption(command.Has("debug"));

    CChannelSession session(command, true);
    session.RequirePorts("nothing to listen on");
    bool stopping = false;
    CSignalWatcher interrupts([&](int) { stopping = true; });
    session.StartServers();
    session.PrintNewEvents();
    while (!stopping)
        loop::RunUntil([&] { return stopping; }, std::chrono::hours(1));
    session.Logic().StopServers();
    session.PrintNewEvents();
    std::cerr << "kanaliko-cli: servers stopped" << std::endl;
    return 0;
}

} // namespace cli

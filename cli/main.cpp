// kanaliko-cli: the headless front end. It drives the same application logic,
// engines and client check as the GUI, on QtCore alone, for nodes without a
// display.

#include "cli/CCommandLine.h"
#include "cli/Commands.h"
#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"
#include "ferrox/system/Paths.h"
#include "platform/IcmpEcho.h"
#include "platform/Sockets.h"
#include "version/Version.h"

#include <QCoreApplication>

#include <cstring>
#include <iostream>

namespace cli {

void ApplyDebugOption(bool debug)
{
    // Diagnostic output goes to standard error only when asked for, so that a
    // node's log and --json stay clean.
    if (!debug)
        Debug.ClearWriters();
}

bool CanSendIcmpEcho()
{
    const platform::HANDLE probe = platform::IcmpCreateFile();
    if (probe == platform::INVALID_HANDLE_VALUE)
        return false;
    platform::IcmpCloseHandle(probe);
    return true;
}

void RequireIcmpEcho()
{
    if (!CanSendIcmpEcho())
        throw ESetupError(
            "ICMP echo needs root, CAP_NET_RAW, the group kanaliko (set up by the "
            "package) or a group in net.ipv4.ping_group_range");
}

} // namespace cli

namespace {

const char* kUsage = "Usage: kanaliko-cli COMMAND [ARGUMENTS] [OPTIONS]\n\n"
                     "Commands:\n"
                     "  serve              serve every channel of the scheme until interrupted\n"
                     "  check PEER...      probe the peers on every channel of the scheme\n"
                     "  ping TARGET...     ICMP echo requests with statistics\n"
                     "  trace TARGET...    continuous route trace with per-hop statistics\n"
                     "  access SERVER      check the UDP channel to an access server\n\n"
                     "Run 'kanaliko-cli COMMAND --help' for the options of a command,\n"
                     "'kanaliko-cli --version' for the version.\n";

} // namespace

int main(int argc, char** argv)
{
    ferrox_set_program_name("Kanaliko");
    platform::RaiseDescriptorLimit();
    if (argc < 2) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (name == "--version") {
        std::cout << "kanaliko-cli " << product::kVersion << "\n" << product::kCopyright << "\n";
        return 0;
    }
    QCoreApplication application(argc, argv);
    try {
        if (name == "serve")
            return cli::RunServe(argc, argv);
        if (name == "check")
            return cli::RunCheck(argc, argv);
        if (name == "ping")
            return cli::RunPing(argc, argv);
        if (name == "trace")
            return cli::RunTrace(argc, argv);
        if (name == "access")
            return cli::RunAccess(argc, argv);
        std::cerr << "kanaliko-cli: unknown command " << name << "\n" << kUsage;
        return 2;
    } catch (const cli::EUsage& e) {
        std::cerr << "kanaliko-cli: " << e.what() << "\nRun 'kanaliko-cli " << name
                  << " --help' for usage.\n";
        return 2;
    } catch (const cli::ESetupError& e) {
        std::cerr << "kanaliko-cli: " << e.what() << std::endl;
        return 2;
    } catch (const EGeneric& e) {
        _value_t text = e.get_value("Text");
        std::cerr << "kanaliko-cli: " << (text.empty() ? e.what() : text.as_string()) << std::endl;
        return 2;
    }
}

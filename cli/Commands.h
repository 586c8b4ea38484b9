#pragma once

// The commands of kanaliko-cli. Each parses its own arguments (argv[2..]) and
// returns the exit status: 0 success, 1 something did not answer, 2 usage,
// file or set-up errors (those are thrown as EUsage / ESetupError).
//
// Threads: the GUI thread (a QCoreApplication exists).

namespace cli {

int RunServe(int argc, char** argv);
int RunCheck(int argc, char** argv);
int RunPing(int argc, char** argv);
int RunTrace(int argc, char** argv);
int RunAccess(int argc, char** argv);

// Keeps the Debug stream's output (standard error) only with --debug.
void ApplyDebugOption(bool debug);
// Whether this process may send ICMP echo requests (root, CAP_NET_RAW or a
// group in net.ipv4.ping_group_range): asked of the system by opening a handle.
bool CanSendIcmpEcho();
// ESetupError when it may not: what ping and trace need.
void RequireIcmpEcho();

} // namespace cli

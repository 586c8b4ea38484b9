// The scheme reader on arbitrary bytes given as a file. Beyond "no crash, no
// sanitizer report" it checks what the rest of the program relies on:
// - only EGeneric leaves ReadScheme, and the scheme path is the file's path
//   after a read and "" after a refusal;
// - the three port lists are what the groups give, also after a refusal
//   part-way (the engine is started with these lists), and every UDP client
//   port is known as one;
// - reading the same file again gives the same scheme (nothing of an earlier
//   read survives);
// - whatever was read writes, and reads back unchanged.

#include "core/CXmlSettings.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

#include "fuzz/support/CDiscardWriter.h"
#include "fuzz/support/CMemoryFile.h"
#include "fuzz/support/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

CMemoryFile& InputFile()
{
    static CMemoryFile file("scheme-in.xml");
    return file;
}

CMemoryFile& OutputFile()
{
    static CMemoryFile file("scheme-out.xml");
    return file;
}

// The list rule of CAppSettings, restated from the groups: the server port, then
// the client port (TCP and IP only when not 0; UDP always, so the list stays a
// list of pairs).
void CheckListsMatchGroups(const core::CXmlSettings& settings)
{
    channel::PortList tcp;
    channel::PortList udp;
    channel::PortList ip;
    for (const auto& group : settings.Groups()) {
        FUZZ_CHECK(group != nullptr);
        for (const channel::PortPair& pair : group->tcpPairs) {
            tcp.push_back(pair.serverPort);
            if (pair.clientPort != 0)
                tcp.push_back(pair.clientPort);
        }
        for (const channel::PortPair& pair : group->udpPairs) {
            udp.push_back(pair.serverPort);
            udp.push_back(pair.clientPort);
        }
        for (const channel::PortPair& pair : group->ipPairs) {
            ip.push_back(pair.serverPort);
            if (pair.clientPort != 0)
                ip.push_back(pair.clientPort);
        }
    }
    FUZZ_CHECK(settings.TcpPorts() == tcp);
    FUZZ_CHECK(settings.UdpPorts() == udp);
    FUZZ_CHECK(settings.IpPorts() == ip);
    // The logic asks this of every UDP port it listens on.
    FUZZ_CHECK(!settings.IsUdpClientPort(0));
    for (const auto& group : settings.Groups()) {
        for (const channel::PortPair& pair : group->udpPairs)
            FUZZ_CHECK(pair.clientPort == 0 || settings.IsUdpClientPort(pair.clientPort));
    }
}

// Reads the file; true when it was read, false when EGeneric left the reader.
// Any other exception escapes and ends the run as a crash.
bool Read(core::CXmlSettings& settings, const std::string& path)
{
    try {
        settings.ReadScheme(path);
        return true;
    } catch (const EGeneric& error) {
        // The message is built from values that hold hostile text.
        FUZZ_CHECK(error.what() != nullptr);
        return false;
    }
}

bool SameGroups(const core::CXmlSettings& a, const core::CXmlSettings& b)
{
    if (a.Groups().size() != b.Groups().size())
        return false;
    for (std::size_t i = 0; i < a.Groups().size(); ++i) {
        if (!(*a.Groups()[i] == *b.Groups()[i]))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Debug.ChangeWriter(SmartPtr<TStreamWriter>(new CDiscardWriter));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CMemoryFile& input = InputFile();
    input.Replace(data, size);

    core::CXmlSettings settings;
    const bool loaded = Read(settings, input.Path());
    FUZZ_CHECK(settings.SchemePath() == (loaded ? input.Path() : std::string()));
    CheckListsMatchGroups(settings);

    // A second read into the same object must not keep anything of the first.
    core::CXmlSettings again;
    again.SetGroups(std::vector<channel::SchemeGroup>{
        channel::SchemeGroup{L"earlier", L"scheme", {{1, 2}}, {{3, 4}}, {{5, 0}}}});
    FUZZ_CHECK(Read(again, input.Path()) == loaded);
    FUZZ_CHECK(SameGroups(settings, again));
    FUZZ_CHECK(settings.TcpPorts() == again.TcpPorts() && settings.UdpPorts() == again.UdpPorts() &&
               settings.IpPorts() == again.IpPorts());
    if (!loaded)
        return 0;

    // Round trip: what was read is written whole and reads back the same.
    CMemoryFile& output = OutputFile();
    output.Replace(nullptr, 0);
    FUZZ_CHECK(settings.WriteScheme(output.Path()));
    FUZZ_CHECK(settings.SchemePath() == output.Path());
    core::CXmlSettings written;
    FUZZ_CHECK(Read(written, output.Path()));
    FUZZ_CHECK(SameGroups(settings, written));
    CheckListsMatchGroups(written);
    return 0;
}

// Damaged, hostile and oversized scheme files: reading never crashes, nothing
// but EGeneric leaves ReadScheme, and what is left behind is always consistent.

#include "core/CXmlSettings.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

#include <gtest/gtest.h>

#include "core/support/SettingsTestSupport.h"
#include "support/TestFiles.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace testsupport;
using settingstest::ExpectListsMatchGroups;

const std::string kGood = R"(<?xml version="1.0" encoding="UTF-8"?>
<Chanels>
  <Group senderName="Узел А" receiverName="Узел Б">
    <Proto name="TCP"><Port srvPort="46001" clPort="0"/><Port srvPort="46002" clPort="46102"/></Proto>
    <Proto name="UDP"><Port srvPort="47001" clPort="47002"/><Port srvPort="47011"/></Proto>
    <Proto name="IP"><Port srvPort="253" clPort="0"/></Proto>
  </Group>
  <Group senderName="Б" receiverName="А">
    <Proto name="UDP"><Port srvPort="47021" clPort="47022"/></Proto>
  </Group>
</Chanels>
)";

// Loads kGood first, so that each case also shows what a failed read leaves.
void ExpectWholeFileRefused(const std::string& path, const std::string& what)
{
    TempFolder folder("kanaliko-damaged");
    WriteBytes(folder.File("good.xml"), kGood);
    core::CXmlSettings settings;
    settings.ReadScheme(folder.File("good.xml"));
    ASSERT_EQ(settings.Groups().size(), 2u);
    EXPECT_THROW(settings.ReadScheme(path), EGeneric) << what;
    EXPECT_EQ(settings.SchemePath(), "") << what;
    EXPECT_TRUE(settings.Groups().empty()) << what;
    ExpectListsMatchGroups(settings);
}

} // namespace

TEST(DamagedScheme, PortWithoutSrvPortIsIgnoredEvenWithAClPort)
{
    TempFolder folder("kanaliko-damaged");
    WriteBytes(folder.File("s.xml"), R"(<Chanels><Group senderName="a" receiverName="b">
      <Proto name="TCP"><Port clPort="5"/><Port srvPort="6"/><Port/></Proto>
      <Proto name="UDP"><Port clPort="7"/><Port srvPort="8" clPort="9"/></Proto>
    </Group></Chanels>)");
    core::CXmlSettings settings;
    settings.ReadScheme(folder.File("s.xml"));
    ASSERT_EQ(settings.Groups().size(), 1u);
    EXPECT_EQ(settings.Groups()[0]->tcpPairs, (std::vector<channel::PortPair>{{6, 0}}));
    EXPECT_EQ(settings.Groups()[0]->udpPairs, (std::vector<channel::PortPair>{{8, 9}}));
    EXPECT_EQ(settings.TcpPorts(), (channel::PortList{6}));
    EXPECT_EQ(settings.UdpPorts(), (channel::PortList{8, 9}));
}

TEST(DamagedScheme, UdpPairsWithoutClientPortKeepTheFollowingPairsInPlace)
{
    // A missing clPort used to drop one entry of the UDP list and shift every
    // later pair: servers listened on client ports and replied to server ports.
    TempFolder folder("kanaliko-damaged");
    WriteBytes(folder.File("s.xml"), R"(<Chanels><Group senderName="a" receiverName="b">
      <Proto name="UDP">
        <Port srvPort="5001" clPort="5002"/><Port srvPort="5011"/>
        <Port srvPort="5021" clPort="0"/><Port srvPort="5031" clPort="5032"/>
      </Proto></Group></Chanels>)");
    core::CXmlSettings settings;
    settings.ReadScheme(folder.File("s.xml"));
    const channel::PortList& udp = settings.UdpPorts();
    ASSERT_EQ(udp.size(), 8u);
    std::vector<channel::PortPair> pairs;
    for (std::size_t i = 0; i + 1 < udp.size(); i += 2)
        pairs.push_back({udp[i], udp[i + 1]});
    EXPECT_EQ(pairs,
              (std::vector<channel::PortPair>{{5001, 5002}, {5011, 0}, {5021, 0}, {5031, 5032}}));
    EXPECT_TRUE(settings.IsUdpClientPort(5032));
    EXPECT_FALSE(settings.IsUdpClientPort(5031));
}

TEST(DamagedScheme, NumbersBeyondSixteenBitsKeepTheirLowBits)
{
    TempFolder folder("kanaliko-damaged");
    WriteBytes(folder.File("s.xml"), R"(<Chanels><Group senderName="a" receiverName="b">
      <Proto name="TCP"><Port srvPort="65616" clPort="70000"/><Port srvPort="-1" clPort="65536"/></Proto>
      <Proto name="IP"><Port srvPort="65789"/></Proto>
    </Group></Chanels>)");
    core::CXmlSettings settings;
    settings.ReadScheme(folder.File("s.xml"));
    ASSERT_EQ(settings.Groups().size(), 1u);
    EXPECT_EQ(settings.Groups()[0]->tcpPairs,
              (std::vector<channel::PortPair>{{80, 4464}, {65535, 0}}));
    EXPECT_EQ(settings.Groups()[0]->ipPairs, (std::vector<channel::PortPair>{{253, 0}}));
    EXPECT_EQ(settings.TcpPorts(), (channel::PortList{80, 4464, 65535}));
    EXPECT_EQ(settings.IpPorts(), (channel::PortList{253}));
}

TEST(DamagedScheme, BadNumberEndsItsProtoAndTheRestOfTheGroupLoads)
{
    TempFolder folder("kanaliko-damaged");
    WriteBytes(folder.File("s.xml"), R"(<Chanels>
      <Group senderName="a" receiverName="b">
        <Proto name="TCP"><Port srvPort="1"/><Port srvPort="x2"/><Port srvPort="3"/></Proto>
        <Proto name="UDP"><Port srvPort="4" clPort="5"/><Port srvPort="6" clPort="99999999999"/></Proto>
        <Proto name="IP"><Port srvPort="7"/></Proto>
      </Group>
      <Group senderName="c" receiverName="d"><Proto name="TCP"><Port srvPort="8"/></Proto></Group>
    </Chanels>)");
    core::CXmlSettings settings;
    StreamCapture debug(Debug);
    settings.ReadScheme(folder.File("s.xml"));
    ASSERT_EQ(settings.Groups().size(), 2u);
    EXPECT_EQ(settings.Groups()[0]->tcpPairs, (std::vector<channel::PortPair>{{1, 0}}));
    EXPECT_EQ(settings.Groups()[0]->udpPairs, (std::vector<channel::PortPair>{{4, 5}}))
        << "the pair whose clPort is bad is not half-added";
    EXPECT_EQ(settings.Groups()[0]->ipPairs, (std::vector<channel::PortPair>{{7, 0}}));
    ExpectListsMatchGroups(settings);
    EXPECT_EQ(settings.SchemePath(), folder.File("s.xml"));
    const std::string text = debug.Text();
    EXPECT_NE(text.find("\"x2\""), std::string::npos) << text;
    EXPECT_NE(text.find("/Chanels/Group[1]/Proto[2]/Port[2]"), std::string::npos) << text;
}

TEST(DamagedScheme, GroupWithoutNamesIsDroppedAndTheRestLoads)
{
    TempFolder folder("kanaliko-damaged");
    WriteBytes(folder.File("s.xml"), R"(<Chanels>
      <Group receiverName="b"><Proto name="TCP"><Port srvPort="1"/></Proto></Group>
      <Group senderName="c" receiverName="d"><Proto name="TCP"><Port srvPort="2"/></Proto></Group>
      <Group senderName="e"><Proto name="UDP"><Port srvPort="3" clPort="4"/></Proto></Group>
      <group senderName="f" receiverName="g"><Proto name="TCP"><Port srvPort="5"/></Proto></group>
      <Group senderName="" receiverName=""/>
    </Chanels>)");
    core::CXmlSettings settings;
    settings.ReadScheme(folder.File("s.xml"));
    ASSERT_EQ(settings.Groups().size(), 2u);
    EXPECT_EQ(settings.Groups()[0]->senderName, L"c");
    EXPECT_EQ(settings.Groups()[1]->senderName, L"") << "empty names are names";
    EXPECT_EQ(settings.TcpPorts(), (channel::PortList{2}));
    EXPECT_TRUE(settings.UdpPorts().empty()) << "a dropped group leaves no ports behind";
}

TEST(DamagedScheme, UnreadableOrNonXmlFilesLeaveAnEmptySchemeAndNoPath)
{
    TempFolder folder("kanaliko-damaged");
    const std::string good = kGood;
    WriteBytes(folder.File("truncated.xml"), good.substr(0, good.size() * 2 / 3));
    WriteBytes(folder.File("text.xml"), "Chanels: none\n");
    WriteBytes(folder.File("empty.xml"), "");
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
    WriteBytes(folder.File("binary.xml"), binary);
    WriteBytes(folder.File("nul.xml"), std::string("<Chanels>\0<Group/></Chanels>", 28));

    ExpectWholeFileRefused(folder.File("truncated.xml"), "truncated");
    ExpectWholeFileRefused(folder.File("text.xml"), "not XML");
    ExpectWholeFileRefused(folder.File("empty.xml"), "empty");
    ExpectWholeFileRefused(folder.File("binary.xml"), "binary");
    ExpectWholeFileRefused(folder.File("nul.xml"), "NUL byte");
    ExpectWholeFileRefused(folder.File("absent.xml"), "missing");
    ExpectWholeFileRefused(fs::temp_directory_path().string(), "a folder");
}

TEST(DamagedScheme, OtherRootsAndStrayContentAreIgnored)
{
    TempFolder folder("kanaliko-damaged");
    WriteBytes(folder.File("s.xml"), R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- written by hand -->
<Chanels version="2">
  text between groups
  <Group senderName="a" receiverName="b" extra="x">
    <Note>hello</Note>
    <Proto name="TCP" kind="q"><Port srvPort="1" clPort="2" mode="fast"><Sub/></Port></Proto>
  </Group>
  <![CDATA[ <Group senderName="hidden"/> ]]>
</Chanels>)");
    core::CXmlSettings settings;
    settings.ReadScheme(folder.File("s.xml"));
    ASSERT_EQ(settings.Groups().size(), 1u);
    EXPECT_EQ(settings.TcpPorts(), (channel::PortList{1, 2}));
}

TEST(DamagedScheme, HugeFilesLoadOrFailCleanly)
{
    TempFolder folder("kanaliko-damaged");
    // Tens of megabytes of well-formed scheme.
    constexpr int groups = 120000;
    std::string big = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chanels>\n";
    big.reserve(static_cast<std::size_t>(groups) * 260);
    for (int i = 0; i < groups; ++i) {
        const std::string n = std::to_string(i);
        big += "  <Group senderName=\"Узел отправитель номер " + n +
               "\" receiverName=\"Узел получатель номер " + n +
               "\">\n    <Proto name=\"TCP\">"
               "<Port srvPort=\"" +
               std::to_string(1025 + i % 60000) +
               "\" clPort=\"0\"/></Proto>\n    <Proto name=\"UDP\"><Port srvPort=\"" +
               std::to_string(20000 + i % 40000) + "\" clPort=\"" +
               std::to_string(30000 + i % 30000) + "\"/></Proto>\n  </Group>\n";
    }
    big += "</Chanels>\n";
    ASSERT_GT(big.size(), 20u << 20);
    const std::string bigPath = folder.File("big.xml");
    WriteBytes(bigPath, big);
    {
        core::CXmlSettings settings;
        settings.ReadScheme(bigPath);
        ASSERT_EQ(settings.Groups().size(), static_cast<std::size_t>(groups));
        EXPECT_EQ(settings.TcpPorts().size(), static_cast<std::size_t>(groups));
        EXPECT_EQ(settings.UdpPorts().size(), 2u * groups);
        EXPECT_EQ(settings.Groups().back()->receiverName,
                  L"Узел получатель номер " + std::to_wstring(groups - 1));
    }
    // The same cut off in the middle of a group.
    WriteBytes(bigPath, big.substr(0, big.size() / 2 + 17));
    ExpectWholeFileRefused(bigPath, "huge truncated");
    // Tens of megabytes of noise.
    std::string noise(24u << 20, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : noise) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    WriteBytes(bigPath, noise);
    ExpectWholeFileRefused(bigPath, "huge noise");
    fs::remove(bigPath);
    EXPECT_FALSE(fs::exists(bigPath));
}

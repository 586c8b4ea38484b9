// A bounded fuzz loop over mutated scheme files: no crash, nothing but EGeneric
// leaving ReadScheme, consistent settings after every read, and whatever loads
// writes and reads back unchanged.

#include "core/CXmlSettings.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

#include <gtest/gtest.h>

#include "core/support/SettingsTestSupport.h"
#include "support/TestFiles.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace testsupport;
using settingstest::ExpectListsMatchGroups;

const char* const kSeeds[] = {
    R"(<?xml version="1.0" encoding="UTF-8"?>
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
)",
    R"(<Chanels><!-- c --><Group senderName="&lt;&amp;&#x44F;&#9;" receiverName='b'><Proto name="IP">)"
    R"(<Port srvPort=" 7 " clPort="+8"/><![CDATA[x]]></Proto><Proto name="TCP"><Port srvPort="1"/>)"
    R"(</Proto></Group><Group senderName="c" receiverName="d"/></Chanels>)",
};

const char* const kTokens[] = {
    "<Group senderName=\"s\" receiverName=\"r\">",
    "</Group>",
    "<Proto name=\"UDP\">",
    "</Proto>",
    "<Proto name=\"TCP\">",
    "<Port srvPort=\"",
    "\" clPort=\"",
    "\"/>",
    "<",
    ">",
    "\"",
    "'",
    "&",
    "&#0;",
    "&#xD800;",
    "&#x110000;",
    "&amp;",
    "&bogus;",
    "<![CDATA[",
    "]]>",
    "<!--",
    "-->",
    "\xEF\xBB\xBF",
    "\xFF\xFE",
    "\xC0\x80",
    "\xF4\x90\x80\x80",
    "4294967296",
    "-2147483649",
    "65536",
    "/>",
    "<?xml version=\"1.0\"?>",
    "<!DOCTYPE Chanels [<!ENTITY e \"x\">]>",
    "&e;",
    " ",
    "\n",
    "\t",
    "=",
};

class Mutator
{
public:
    explicit Mutator(std::uint32_t seed) : m_random(seed) {}

    std::string Mutate(std::string text)
    {
        const int steps = 1 + Below(4);
        for (int i = 0; i < steps; ++i)
            Step(text);
        return text;
    }

private:
    std::size_t Below(std::size_t n) { return n == 0 ? 0 : m_random() % n; }

    void Step(std::string& text)
    {
        const std::size_t at = Below(text.size() + 1);
        switch (Below(7)) {
        case 0: // flip bits of one byte
            if (!text.empty())
                text[Below(text.size())] ^= static_cast<char>(1 + Below(255));
            break;
        case 1: // insert a random byte
            text.insert(at, 1, static_cast<char>(Below(256)));
            break;
        case 2: // delete a range
            text.erase(at, 1 + Below(32));
            break;
        case 3: { // duplicate a range
            const std::string piece = text.substr(Below(text.size() + 1), 1 + Below(64));
            text.insert(at, piece);
            break;
        }
        case 4: // cut the end off
            text.resize(at);
            break;
        case 5: // insert a token of the format (or a troublemaker)
            text.insert(at, kTokens[Below(std::size(kTokens))]);
            break;
        default: { // replace a number with another
            const std::size_t digit = text.find_first_of("0123456789", at);
            if (digit != std::string::npos)
                text.replace(digit, 1 + Below(4),
                             std::to_string(static_cast<std::int64_t>(m_random()) - (1ll << 31)));
            break;
        }
        }
    }

    std::mt19937 m_random;
};

} // namespace

TEST(SchemeFuzz, MutatedSchemesNeverCrashAndLeaveConsistentSettings)
{
    // Bounded in count and in time; the seed is fixed so a failure repeats.
    constexpr int kIterations = 4000;
    constexpr auto kTimeLimit = std::chrono::seconds(60);
    const std::uint32_t seed = 20240611;
    Mutator mutator(seed);
    TempFolder folder("kanaliko-fuzz");
    const std::string input = folder.File("fuzz.xml");
    const std::string output = folder.File("fuzz-out.xml");

    // Messages of skipped parts would flood the log: switch Debug off meanwhile.
    TDebugStream savedDebug(Debug);
    Debug.ClearWriters();

    int loaded = 0;
    int refused = 0;
    const auto started = std::chrono::steady_clock::now();
    core::CXmlSettings settings;
    for (int i = 0; i < kIterations && std::chrono::steady_clock::now() - started < kTimeLimit;
         ++i) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", iteration " + std::to_string(i));
        const std::string text = mutator.Mutate(kSeeds[i % std::size(kSeeds)]);
        WriteBytes(input, text);
        bool ok = false;
        try {
            settings.ReadScheme(input);
            ok = true;
        } catch (const EGeneric&) {
        } catch (const std::exception& other) {
            ADD_FAILURE() << "a non-EGeneric exception left ReadScheme: " << other.what();
        } catch (...) {
            ADD_FAILURE() << "an unknown exception left ReadScheme";
        }
        ExpectListsMatchGroups(settings);
        EXPECT_EQ(settings.SchemePath(), ok ? input : std::string());
        if (!ok) {
            ++refused;
            continue;
        }
        ++loaded;
        // What was read writes and reads back unchanged.
        if (i % 4 == 0) {
            ASSERT_TRUE(settings.WriteScheme(output));
            core::CXmlSettings again;
            again.ReadScheme(output);
            ASSERT_EQ(again.Groups().size(), settings.Groups().size());
            for (std::size_t g = 0; g < again.Groups().size(); ++g)
                EXPECT_TRUE(*again.Groups()[g] == *settings.Groups()[g]) << "group " << g;
            EXPECT_EQ(again.UdpPorts(), settings.UdpPorts());
        }
        if (HasFatalFailure() || HasNonfatalFailure())
            break; // one reported case is enough to repeat it
    }
    Debug = savedDebug;
    // Both outcomes must have been exercised for the loop to mean anything.
    EXPECT_GT(loaded, 100);
    EXPECT_GT(refused, 100);
    std::printf("fuzz: %d loaded, %d refused\n", loaded, refused);
}

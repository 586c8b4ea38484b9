// The options file: the four probe options read and written, the defaults that
// stand in for a damaged or missing file, and where the file lives.

#include "core/CXmlSettings.h"
#include "core/OptionsLocation.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace testsupport;

void ExpectDefaults(const core::CXmlSettings& settings)
{
    EXPECT_EQ(settings.TimeOut(), 200);
    EXPECT_EQ(settings.TimeSendDelay(), 1);
    EXPECT_EQ(settings.SendDataSize(), 10);
    EXPECT_EQ(settings.MaxSendCount(), 5);
}

std::string OptionsText(const std::string& inner)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options>" + inner + "</Options>\n";
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_had = true;
            m_old = old;
        }
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};

} // namespace

TEST(OptionsFile, ReadingTakesTheFourValuesAsTheyAreAndThePath)
{
    TempFolder folder("kanaliko-options");
    const std::string path = folder.File("options.xml");
    // Any element order in the file; values outside the dialog's ranges stay.
    WriteBytes(path, OptionsText("<SendDataSize>4096</SendDataSize><MaxSendCount>0</MaxSendCount>"
                                 "<TimeOut> 5 </TimeOut><TimeSendDelay>-3</TimeSendDelay>"));
    core::CXmlSettings settings;
    settings.ReadOptions(path);
    EXPECT_EQ(settings.TimeOut(), 5);
    EXPECT_EQ(settings.TimeSendDelay(), -3);
    EXPECT_EQ(settings.SendDataSize(), 4096);
    EXPECT_EQ(settings.MaxSendCount(), 0);
    EXPECT_EQ(settings.OptionsPath(), path);
    // The current path may be passed back in.
    settings.ReadOptions(settings.OptionsPath());
    EXPECT_EQ(settings.OptionsPath(), path);
}

TEST(OptionsFile, DamagedOrMissingFileGivesDefaultsAnErrorAndKeepsThePath)
{
    TempFolder folder("kanaliko-options");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"no SendDataSize", OptionsText("<TimeOut>300</TimeOut><TimeSendDelay>2</TimeSendDelay>"
                                        "<MaxSendCount>3</MaxSendCount>")},
        {"no TimeOut", OptionsText("<TimeSendDelay>2</TimeSendDelay><MaxSendCount>3</MaxSendCount>"
                                   "<SendDataSize>20</SendDataSize>")},
        {"not a number",
         OptionsText("<TimeOut>fast</TimeOut><TimeSendDelay>2</TimeSendDelay>"
                     "<MaxSendCount>3</MaxSendCount><SendDataSize>20</SendDataSize>")},
        {"not XML", "TimeOut=300\n"},
        {"truncated",
         OptionsText("<TimeOut>300</TimeOut><TimeSendDelay>2</TimeSendDelay>").substr(0, 60)},
        {"empty", ""},
    };
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        const std::string path = folder.File("bad.xml");
        WriteBytes(path, text);
        core::CXmlSettings settings;
        settings.SetOptionsPath(folder.File("current.xml"));
        const EGeneric error = ExpectFailure([&] { settings.ReadOptions(path); });
        EXPECT_FALSE(error.get_value("Text").as_string().empty());
        ExpectDefaults(settings);
        EXPECT_EQ(settings.OptionsPath(), folder.File("current.xml"));
    }
    // A missing element is named in the message, with the file.
    WriteBytes(folder.File("bad.xml"), cases[0].second);
    core::CXmlSettings settings;
    const EGeneric error = ExpectFailure([&] { settings.ReadOptions(folder.File("bad.xml")); });
    EXPECT_EQ(error.get_value("Text").as_string(),
              "Нет элемента \"SendDataSize\" в элементе /Options в файле \"" +
                  folder.File("bad.xml") + "\"");

    // No file at all.
    core::CXmlSettings fresh;
    EXPECT_THROW(fresh.ReadOptions(folder.File("absent.xml")), EGeneric);
    ExpectDefaults(fresh);
    EXPECT_EQ(fresh.OptionsPath(), "options.xml");
}

TEST(OptionsFile, WritingPutsTheFourElementsInTheirOrderAndKeepsThePath)
{
    TempFolder folder("kanaliko-options");
    core::CXmlSettings settings;
    settings.SetOptionsPath(folder.File("current.xml"));
    settings.SetOptions(3000, 7, 512, 42);
    const std::string path = folder.File("written.xml");
    settings.WriteOptions(path);
    EXPECT_EQ(settings.OptionsPath(), folder.File("current.xml"));
    EXPECT_EQ(ReadBytes(path), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<Options>\n"
                               "  <TimeOut>3000</TimeOut>\n"
                               "  <TimeSendDelay>7</TimeSendDelay>\n"
                               "  <MaxSendCount>42</MaxSendCount>\n"
                               "  <SendDataSize>512</SendDataSize>\n"
                               "</Options>\n");
    core::CXmlSettings other;
    other.ReadOptions(path);
    EXPECT_EQ(other.TimeOut(), 3000);
    EXPECT_EQ(other.TimeSendDelay(), 7);
    EXPECT_EQ(other.SendDataSize(), 512);
    EXPECT_EQ(other.MaxSendCount(), 42);
}

TEST(OptionsFile, SetOptionsWritesToTheCurrentPathAndLogsAFailedWrite)
{
    TempFolder folder("kanaliko-options");
    core::CXmlSettings settings;
    settings.SetOptionsPath(folder.File("options.xml"));
    settings.SetOptions(
        core::CAppSettings::DefaultTimeOut, core::CAppSettings::DefaultTimeSendDelay,
        core::CAppSettings::DefaultSendDataSize, core::CAppSettings::DefaultMaxSendCount);
    core::CXmlSettings reader;
    reader.ReadOptions(folder.File("options.xml"));
    ExpectDefaults(reader);

    // A failed save used to throw, which start-up then showed as a damaged
    // options file: a path that cannot be written keeps the values in memory and
    // writes one line to the Error stream.
    StreamCapture error(Error);
    settings.SetOptionsPath(folder.File("no-such-folder/options.xml"));
    EXPECT_NO_THROW(settings.SetOptions(1000, 2, 64, 9));
    EXPECT_EQ(settings.TimeOut(), 1000);
    EXPECT_EQ(settings.MaxSendCount(), 9);
    EXPECT_FALSE(fs::exists(folder.File("no-such-folder")));
    EXPECT_EQ(error.Text(), "Не удалось записать настройки в файл \"" +
                                folder.File("no-such-folder/options.xml") + "\"\n");

    EXPECT_NO_THROW(settings.WriteOptions(""));
    EXPECT_EQ(error.Text().substr(error.Text().rfind("Не удалось")),
              "Не удалось записать настройки в файл \"\"\n");
}

TEST(OptionsLocation, FolderFollowsXdgConfigHomeElseHome)
{
    TempFolder folder("kanaliko-options");
    {
        ScopedEnv config("XDG_CONFIG_HOME", folder.File("cfg").c_str());
        EXPECT_EQ(core::OptionsFolderPath(), folder.File("cfg") + "/Kanaliko");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", "relative/ignored");
        ScopedEnv home("HOME", folder.File("home").c_str());
        EXPECT_EQ(core::OptionsFolderPath(), folder.File("home") + "/.config/Kanaliko");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", folder.File("home2").c_str());
        EXPECT_EQ(core::OptionsFolderPath(), folder.File("home2") + "/.config/Kanaliko");
    }
}

TEST(OptionsLocation, PreparingCreatesTheFolderAndReturnsTheFilePath)
{
    TempFolder folder("kanaliko-options");
    ScopedEnv config("XDG_CONFIG_HOME", folder.File("deep/config").c_str());
    StreamCapture error(Error);
    const std::string path = core::PrepareOptionsFilePath();
    EXPECT_EQ(path, folder.File("deep/config") + "/Kanaliko/options.xml");
    EXPECT_TRUE(fs::is_directory(folder.File("deep/config/Kanaliko")));
    EXPECT_EQ(core::PrepareOptionsFilePath(), path) << "an existing folder is fine";
    EXPECT_EQ(error.Text(), "");

    // The options can be written there at once.
    core::CXmlSettings settings;
    settings.SetOptionsPath(path);
    settings.SetOptions(200, 1, 10, 5);
    EXPECT_TRUE(fs::exists(path));
}

TEST(OptionsLocation, FolderThatCannotBeCreatedIsReportedAndThePathStillGiven)
{
    TempFolder folder("kanaliko-options");
    WriteBytes(folder.File("occupied"), "a file where a folder should be");
    ScopedEnv config("XDG_CONFIG_HOME", folder.File("occupied").c_str());
    StreamCapture error(Error);
    const std::string path = core::PrepareOptionsFilePath();
    EXPECT_EQ(path, folder.File("occupied") + "/Kanaliko/options.xml");
    EXPECT_EQ(error.Text(), "Не удалось создать дирректорию для хранения настроек приложения\n");
}

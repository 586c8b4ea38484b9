#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/Exceptions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

// Collects what reaches it, one entry per StreamWriteString call.
class TCollectingWriter final : public TStreamWriter
{
public:
    void StreamWriteString(const char* text, unsigned length) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pieces.emplace_back(text, length);
    }
    std::string All() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::string out;
        for (const auto& p : m_pieces)
            out += p;
        return out;
    }
    std::vector<std::string> Pieces() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_pieces;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_pieces;
};

class TThrowingWriter final : public TStreamWriter
{
public:
    void StreamWriteString(const char*, unsigned) override
    {
        throw std::runtime_error("writer broke");
    }
};

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string temp_path(const char* name)
{
    return ::testing::TempDir() + name + std::to_string(getpid());
}

TEST(DebugStream, WritesReachEveryWriterAndClearWritersSwitchesOff)
{
    SmartPtr<TCollectingWriter> a(new TCollectingWriter), b(new TCollectingWriter);
    TDebugStream stream{SmartPtr<TStreamWriter>(a), SmartPtr<TStreamWriter>(b)};
    EXPECT_TRUE(stream.GetEnabled());
    TDebugStreamSession(stream) << "x=" << 5 << ' ' << true << ' ' << 2.5 << ' ' << 7u;
    EXPECT_EQ(a->All(), "x=5 1 2.5 7");
    EXPECT_EQ(b->All(), a->All());

    stream.RemoveWriter(SmartPtr<TStreamWriter>(b));
    stream.WriteString("y");
    EXPECT_EQ(b->All(), "x=5 1 2.5 7");
    stream.ClearWriters();
    EXPECT_FALSE(stream.GetEnabled());
    stream.WriteString("z");
    stream.printf("%d", 1);
    EXPECT_EQ(a->All(), "x=5 1 2.5 7y") << "a stream without writers writes nowhere";
}

TEST(DebugStream, SessionOperatorsFollowTheirTypes)
{
    SmartPtr<TCollectingWriter> w(new TCollectingWriter);
    TDebugStream stream{SmartPtr<TStreamWriter>(w)};
    const char* nullText = nullptr;
    const wchar_t* nullWide = nullptr;
    const SmartPtrObj* nullObject = nullptr;
    TDebugStreamSession(stream) << nullText << "|" << nullWide << "|" << nullObject << "|"
                                << std::wstring(L"порт") << "|" << _value_t() << "|"
                                << _value_t(std::vector<int>{}) << "|" << _value_t(3) << "|"
                                << static_cast<unsigned char>(200) << "|" << -5LL;
    EXPECT_EQ(w->All(), "<null>|<null>|<NULL>|порт|<void>|<empty>|3|200|-5");
}

TEST(DebugStream, PrintfCapsAt4095Characters)
{
    SmartPtr<TCollectingWriter> w(new TCollectingWriter);
    TDebugStream stream{SmartPtr<TStreamWriter>(w)};
    std::string big(5000, 'q');
    stream.printf("%s", big.c_str());
    EXPECT_EQ(w->All().size(), 4095u);
    w = new TCollectingWriter;
    stream.ChangeWriter(SmartPtr<TStreamWriter>(w));
    const unsigned char bytes[] = {0x00, 0xAB, 0x7F};
    stream.Dump(bytes, 3);
    stream.WriteDouble(0.5);
    EXPECT_EQ(w->All(), "00 AB 7F0.5");
}

TEST(DebugStream, TimeStampsDecorateEachLine)
{
    SmartPtr<TCollectingWriter> w(new TCollectingWriter);
    TDebugStream stream{SmartPtr<TStreamWriter>(w)};
    stream.SetTimeStamps(true);
    stream.WriteString("a\nb");
    stream.WriteString("c\n");
    stream.WriteString("d");
    const std::string out = w->All();
    // The first write of a day starts with the date line.
    const std::string stamp = R"(\d\d:\d\d:\d\d\.\d\d\d )";
    std::regex expected("\\d\\d\\.\\d\\d\\.\\d{4}\n" + stamp + "a\n" + stamp + "bc\n" + stamp +
                        "d");
    EXPECT_TRUE(std::regex_match(out, expected)) << out;
}

TEST(DebugStream, ThrowingWriterIsDroppedOthersStillWrite)
{
    SmartPtr<TCollectingWriter> good(new TCollectingWriter);
    TDebugStream stream{SmartPtr<TStreamWriter>(new TThrowingWriter),
                        SmartPtr<TStreamWriter>(good)};
    stream.WriteString("one");
    stream.WriteString("two");
    EXPECT_EQ(good->All(), "onetwo");
    EXPECT_TRUE(stream.GetEnabled());
    TDebugStream lonely{SmartPtr<TStreamWriter>(new TThrowingWriter)};
    lonely.WriteString("x");
    EXPECT_FALSE(lonely.GetEnabled());
}

TEST(DebugStream, ChannelsNeedALetterAndAWriter)
{
    SmartPtr<TCollectingWriter> w(new TCollectingWriter);
    TDebugStream stream{SmartPtr<TStreamWriter>(w)};
    EXPECT_FALSE(stream.GetEnabled('C'));
    stream.SetEnabled('C', true);
    EXPECT_TRUE(stream.GetEnabled('C'));
    EXPECT_FALSE(stream.GetEnabled('D'));
    EXPECT_THROW(stream.GetEnabled('a'), std::out_of_range);
    EXPECT_THROW(stream.SetEnabled('1', true), std::out_of_range);
    stream.ClearWriters();
    EXPECT_FALSE(stream.GetEnabled('C'));
}

TEST(DebugStream, ConcurrentSessionsNeverInterleave)
{
    SmartPtr<TCollectingWriter> w(new TCollectingWriter);
    TDebugStream stream{SmartPtr<TStreamWriter>(w)};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                TDebugStreamSession session(stream);
                session << "<" << t << ":";
                std::this_thread::yield();
                session << i;
                std::this_thread::yield();
                session << ">";
            }
        });
    }
    for (auto& t : threads)
        t.join();
    std::vector<std::string> pieces = w->Pieces();
    ASSERT_EQ(pieces.size(), 4u * 300u * 5u);
    for (std::size_t i = 0; i < pieces.size(); i += 5) {
        ASSERT_EQ(pieces[i], "<");
        ASSERT_EQ(pieces[i + 4], ">") << "a session's pieces were split at " << i;
    }
}

TEST(FileWriters, PermanentWriterTurnsLineFeedsIntoCrLf)
{
    const std::string path = temp_path("permanent");
    ::unlink(path.c_str());
    {
        TDebugStream stream{SmartPtr<TStreamWriter>(new TPermanentFileWriter(path.c_str()))};
        stream.WriteString("x\ny");
        stream.WriteString("\n");
    }
    EXPECT_EQ(read_file(path), "x\r\ny\r\n");
    ::unlink(path.c_str());

    TPermanentFileWriter broken("/proc/nonexistent/file");
    broken.StreamWriteString("dropped", 7); // silently
}

TEST(FileWriters, FileWriterAppendsAndCreatesMissingFolders)
{
    const std::string folder = temp_path("writerdir");
    const std::string path = folder + "/sub/log.txt";
    TFileWriter writer(path);
    writer.StreamWriteString("a\n", 2);
    writer.StreamWriteString("b\n", 2);
    EXPECT_EQ(read_file(path), "a\nb\n");
    std::remove(path.c_str());
    ::rmdir((folder + "/sub").c_str());
    ::rmdir(folder.c_str());
}

TEST(GlobalStreams, ErrorGoesToTheOverriddenLogFile)
{
    const std::string path = temp_path("error.log");
    ::unlink(path.c_str());
    ::setenv("FERROX_ERROR_LOG", path.c_str(), 1);
    EXPECT_EQ(ferrox_error_log_path(), path);
    ASSERT_TRUE(Error.GetEnabled());
    TDebugStreamSession(Error) << "Ошибка " << 42 << "\n";
    ::unsetenv("FERROX_ERROR_LOG");
    EXPECT_EQ(read_file(path), "Ошибка 42\n");
    ::unlink(path.c_str());
    EXPECT_TRUE(Debug.GetEnabled());
    EXPECT_TRUE(Console.GetEnabled());
}

} // namespace

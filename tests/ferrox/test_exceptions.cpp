#include "ferrox/exceptions/EStructuredException.h"
#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/system/Paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

bool file_exists(const std::string& path)
{
    struct stat st
    {};
    return ::stat(path.c_str(), &st) == 0;
}

// The exception machinery writes reports into the state folder; tests point it at
// the build tree (XDG_STATE_HOME) and keep the files small.
TEST(EGenericText, SingleTextEntryIsTheWholeMessage)
{
    EGeneric e({"Text", "abc"});
    e.cancel_minidump();
    EXPECT_STREQ(e.what(), "abc");

    EGeneric lower({"text", "abc"});
    lower.cancel_minidump();
    EXPECT_STREQ(lower.what(), "text: abc") << "only the exact name \"Text\" stands alone";

    EGeneric two({"Text", "abc"}, {"Code", 5});
    two.cancel_minidump();
    EXPECT_STREQ(two.what(), "Text: abc\nCode: 5 (0x5)");
}

TEST(EGenericText, ListsEveryEntryWithHexForIntegers)
{
    EGeneric wsa({"WSA", 10048});
    wsa.cancel_minidump();
    EXPECT_STREQ(wsa.what(), "WSA: 10048 (0x2740)");

    EGeneric negative({"Code", -1}, {"Count", static_cast<ulong32_t>(4000000000u)},
                      {"Big", static_cast<std::int64_t>(5)});
    negative.cancel_minidump();
    EXPECT_STREQ(negative.what(), "Code: -1 (0xffffffff)\nCount: 4000000000 (0xee6b2800)\nBig: 5");

    EGeneric bare(false);
    EXPECT_STREQ(bare.what(), "");

    EGeneric emptyValue(false);
    emptyValue.put_value("Nothing", _value_t());
    EXPECT_STREQ(emptyValue.what(), "Nothing: ");
}

TEST(EGenericText, SystemExceptionNamesCodeAndMessage)
{
    ESystemException e(5);
    e.cancel_minidump();
    std::string text = e.what();
    EXPECT_EQ(text.rfind("Code: 5 (0x5)\nText: ", 0), 0u) << text;
    EXPECT_GT(text.size(), std::strlen("Code: 5 (0x5)\nText: "));
    EXPECT_EQ(e.get_value("Code").as_int(), 5);
}

TEST(EGenericText, WhatIsSafeFromManyThreads)
{
    EGeneric a({"A", 1}, {"Text", "first"});
    EGeneric b({"B", 2}, {"Text", "second"});
    a.cancel_minidump();
    b.cancel_minidump();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const EGeneric& mine = (t % 2) ? a : b;
            const char* expected = (t % 2) ? "A: 1 (0x1)\nText: first" : "B: 2 (0x2)\nText: second";
            for (int i = 0; i < 2000; ++i) {
                const char* text = mine.what();
                std::this_thread::yield();
                if (std::strcmp(text, expected) != 0)
                    ++wrong;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(EGenericValues, NamesMatchIgnoringAsciiCaseOnly)
{
    EGeneric e(false);
    e.put_value("WSA", 10054);
    EXPECT_EQ(e.get_value("wsa").as_int(), 10054);
    EXPECT_EQ(e["Wsa"].as_int(), 10054);
    EXPECT_TRUE(e.get_value("WSA ").empty());
    EXPECT_TRUE(e.get_value("missing").empty())
        << "a missing name is an empty value, never a throw";

    // Only A-Z fold: other bytes (here UTF-8 Cyrillic) compare exactly.
    e.put_value("Имя", 1);
    EXPECT_TRUE(e.get_value("ИМЯ").empty());
    EXPECT_EQ(e.get_value("Имя").as_int(), 1);
}

TEST(EGenericValues, PutValueKeepsPositionAndStoredName)
{
    EGeneric e(false);
    e.put_value("First", 1);
    e.put_value("Second", 2);
    e.put_value("FIRST", 10);
    ASSERT_EQ(e.values().size(), 2u);
    EXPECT_EQ(e.values()[0].first, "First");
    EXPECT_EQ(e.values()[0].second.as_int(), 10);
    EXPECT_EQ(e.values()[1].first, "Second");

    // The writable operator[] appends an empty entry for a new name.
    e["Third"] = 3;
    ASSERT_EQ(e.values().size(), 3u);
    EXPECT_EQ(e.values()[2].second.as_int(), 3);
    e.clear_values();
    EXPECT_TRUE(e.values().empty());
}

TEST(EGenericValues, CopySharesValuesWithoutNewReport)
{
    EGeneric original({"Text", "x"}, {"N", 1});
    original.cancel_minidump();
    EGeneric copy(original);
    EXPECT_EQ(copy.values().size(), 2u);
    EXPECT_TRUE(copy.get_value("MiniDump").empty());
    EXPECT_STREQ(copy.what(), original.what());
}

TEST(EGenericReports, ThrowingWritesAReportThatCanBeCancelled)
{
    EGeneric e({"Text", "report me"});
    _value_t path = e.get_value("MiniDump");
    ASSERT_FALSE(path.empty()) << "a report is written for every thrown exception by default";
    std::string file = path.as_string();
    EXPECT_TRUE(file_exists(file));
    EXPECT_EQ(file.find(ferrox_state_folder()), 0u) << file;
    std::string name = file.substr(file.rfind('/') + 1);
    EXPECT_NE(name.find("_EGeneric_"), std::string::npos) << name;

    e.put_value("After", 1);
    e.cancel_minidump();
    EXPECT_FALSE(file_exists(file));
    ASSERT_EQ(e.values().size(), 2u);
    EXPECT_EQ(e.values()[0].first, "Text");
    EXPECT_EQ(e.values()[1].first, "After");
}

template <class T>
struct Holder
{};

TEST(EGenericReports, KindPartNeverHoldsAngleBracketsOrColons)
{
    // A templated exception type: its name has <, > and ::.
    class ETemplated : public EGeneric
    {
    public:
        ETemplated() : EGeneric(false) { ExtendDebugInformation(static_cast<CONTEXT*>(nullptr)); }
    };
    ETemplated e;
    std::string path = e.get_value("MiniDump").as_string();
    ASSERT_FALSE(path.empty());
    std::string name = path.substr(path.rfind('/') + 1);
    std::string module = name.substr(0, name.find('_'));
    std::string rest = name.substr(module.size());
    EXPECT_EQ(rest.find_first_of("<>:"), std::string::npos) << name;
    e.cancel_minidump();

    EThreadInterrupt interrupt;
    EXPECT_TRUE(interrupt.get_value("MiniDump").empty()) << "interrupts are never reported";
}

TEST(EGenericReports, UnwritableFolderGivesNoReportAndNoThrow)
{
    const char* previous = MiniDumpFileFormat;
    MiniDumpFileFormat =
        "/proc/ferrox-no-such-dir/%s_%s_%04hd_%02hd_%02hd_%02hd_%02hd_%02hd_%03hd.txt";
    EGeneric e({"Text", "x"});
    MiniDumpFileFormat = previous;
    EXPECT_TRUE(e.get_value("MiniDump").empty());
    EXPECT_STREQ(e.what(), "x");
}

TEST(ExceptionFamily, EachClassFillsItsValuesInOrder)
{
    ELegacyException legacy("io", "broken", 7);
    legacy.cancel_minidump();
    EXPECT_STREQ(legacy.what(), "Code: 7 (0x7)\nType: io\nText: broken");

    EComException com(static_cast<HRESULT>(0x80004005u), _bstr_t(L"описание"), _bstr_t());
    com.cancel_minidump();
    EXPECT_EQ(com.get_value("HRESULT").as_string(), "80004005");
    EXPECT_EQ(com.get_value("Code").as_int(), static_cast<int>(0x80004005u));
    EXPECT_FALSE(com.get_value("Text").empty());
    EXPECT_EQ(com.get_value("Description").as_string(), "описание");
    EXPECT_TRUE(com.get_value("Source").empty()) << "an empty source is left out";

    EComException unknown(static_cast<HRESULT>(0x12345), _bstr_t(), _bstr_t());
    unknown.cancel_minidump();
    EXPECT_TRUE(unknown.get_value("Text").empty());
    EXPECT_EQ(unknown.get_value("HRESULT").as_string(), "12345");

    ENotImplemented ni("file.cpp", 12, "f");
    ni.cancel_minidump();
    EXPECT_EQ(ni.get_value("Text").as_string(), "Not implemented");
    EXPECT_EQ(ni.get_value("SourceLine").as_int(), 12);

    ERuntimeException rt(ENOENT, {"Path", "/x"});
    rt.cancel_minidump();
    ASSERT_GE(rt.values().size(), 3u);
    EXPECT_EQ(rt.values()[0].first, "Code");
    EXPECT_EQ(rt.values()[1].first, "Path");
    EXPECT_EQ(rt.values()[2].first, "Text");
}

TEST(ExceptionFamily, FreeFunctionsThrowTheirClasses)
{
    errno = EACCES;
    try {
        ThrowSystemException();
        FAIL();
    } catch (const ESystemException& e) {
        EXPECT_EQ(e.get_value("Code").as_int(), EACCES);
        const_cast<ESystemException&>(e).cancel_minidump();
    }
    try {
        OnSysLibExc("t", "x", 3);
        FAIL();
    } catch (const ELegacyException& e) {
        EXPECT_EQ(e.get_value("Type").as_string(), "t");
        const_cast<ELegacyException&>(e).cancel_minidump();
    }

    struct Info final : IErrorInfo
    {
        bool* released;
        explicit Info(bool* r) : released(r) {}
        _bstr_t GetDescription() const override { return _bstr_t(L"desc"); }
        _bstr_t GetSource() const override { return _bstr_t(L"src"); }
        void Release() override { *released = true; }
    };
    bool released = false;
    Info info(&released);
    try {
        throw_EGeneric_from_com_error(static_cast<HRESULT>(0x80070057u), &info);
        FAIL();
    } catch (const EComException& e) {
        EXPECT_TRUE(released);
        EXPECT_EQ(e.get_value("Source").as_string(), "src");
        const_cast<EComException&>(e).cancel_minidump();
    }
}

// ---- fault signals ----

// ThreadSanitizer runs signal handlers inside its own wrapper, which a handler
// cannot leave by throwing; fault translation is checked in the other builds.
#if defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_TSAN() GTEST_SKIP() << "fault translation is not checked under ThreadSanitizer"
#else
#define SKIP_UNDER_TSAN() (void)0
#endif

// The address comes through a volatile so the compiler cannot see (and warn
// about) the access.
__attribute__((noinline)) void write_to_address(std::uintptr_t address)
{
    volatile std::uintptr_t where = address;
    *reinterpret_cast<volatile int*>(where) = 1;
}

__attribute__((noinline)) int read_from_address(std::uintptr_t address)
{
    volatile std::uintptr_t where = address;
    return *reinterpret_cast<volatile int*>(where);
}

__attribute__((noinline, no_sanitize("undefined"))) int divide(int a, int b)
{
    volatile int x = a;
    volatile int y = b;
    return x / y;
}

TEST(StructuredExceptions, AccessViolationNamesTheWriteAndTheAddress)
{
    SKIP_UNDER_TSAN();
    std::thread worker([] {
        redirect_structured_exceptions translate;
        try {
            write_to_address(0x10);
            ADD_FAILURE() << "the write did not fault";
        } catch (const EStructuredException& e) {
            EXPECT_EQ(e.get_value("Text").as_string(), "Access Violation (write to 0x10)");
            EXPECT_EQ(static_cast<unsigned>(e.get_value("Code").as_int()), 0xC0000005u);
            EXPECT_EQ(e.get_value("Parameter0").as_int64(), 1);
            EXPECT_EQ(e.get_value("Parameter1").as_int64(), 0x10);
            const_cast<EStructuredException&>(e).cancel_minidump();
        }
        try {
            read_from_address(0x20);
            ADD_FAILURE() << "the read did not fault";
        } catch (const EStructuredException& e) {
            EXPECT_EQ(e.get_value("Text").as_string(), "Access Violation (read from 0x20)");
            const_cast<EStructuredException&>(e).cancel_minidump();
        }
    });
    worker.join();
}

TEST(StructuredExceptions, DivideByZeroAndTheThreadGoesOn)
{
    SKIP_UNDER_TSAN();
    temporary_redirect_structured_exceptions translate;
    int faults = 0;
    for (int i = 0; i < 3; ++i) {
        try {
            divide(7, 0);
        } catch (const EStructuredException& e) {
            ++faults;
            EXPECT_EQ(e.get_value("Text").as_string(), "Divide by Zero");
            EXPECT_EQ(static_cast<unsigned>(e.get_value("Code").as_int()), 0xC0000094u);
            const_cast<EStructuredException&>(e).cancel_minidump();
        }
    }
    EXPECT_EQ(faults, 3) << "the handler must stay usable after each translated fault";
    EXPECT_EQ(divide(8, 2), 4);
}

TEST(StructuredExceptions, OnlyRedirectedThreadsTranslate)
{
    SKIP_UNDER_TSAN();
    {
        temporary_redirect_structured_exceptions translate;
        EXPECT_TRUE(structured_exceptions_redirected());
    }
    EXPECT_FALSE(structured_exceptions_redirected());
    // A fault on a thread that did not ask ends the process as before.
    EXPECT_EXIT(
        {
            std::thread t([] { write_to_address(0x30); });
            t.join();
        },
        ::testing::KilledBySignal(SIGSEGV), "");
}

volatile bool g_keepRecursing = true;

__attribute__((noinline)) int recurse_forever(int depth)
{
    volatile char pad[512];
    pad[0] = static_cast<char>(depth);
    if (!g_keepRecursing)
        return pad[0];
    return recurse_forever(depth + 1) + pad[0];
}

// The compiler takes stack accesses for ones that cannot fault, so a function
// that only touches its stack counts as unable to throw, and a caller that sees
// that drops its handler. Called through this pointer, it cannot see it.
int (*volatile g_recurse)(int) = &recurse_forever;

TEST(StructuredExceptions, StackOverflowBecomesAnException)
{
    SKIP_UNDER_TSAN();
    // Run in a child so that an unforeseen failure cannot take the suite down.
    EXPECT_EXIT(
        {
            std::thread t([] {
                redirect_structured_exceptions translate;
                try {
                    g_recurse(0);
                } catch (const EStackOverflowException& e) {
                    bool ok = e.get_value("Text").as_string() == "Stack Overflow" &&
                              static_cast<unsigned>(e.get_value("Code").as_int()) == 0xC00000FDu;
                    const_cast<EStackOverflowException&>(e).cancel_minidump();
                    std::_Exit(ok ? 42 : 1);
                }
                std::_Exit(2);
            });
            t.join();
        },
        ::testing::ExitedWithCode(42), "");
}

} // namespace

// Outside the anonymous namespace: there the compiler knows every class that
// could override hook() and calls the only override directly.
namespace purecalltest {

class PureBase;
void CallHook(PureBase* p);
// Called through a pointer the optimiser cannot follow: a pure call that it can
// see is undefined behaviour it may simply drop.
void (*volatile g_callHook)(PureBase*) = &CallHook;

class PureBase
{
public:
    PureBase() { g_callHook(this); }
    virtual ~PureBase() = default;
    virtual void hook() = 0;
};

void CallHook(PureBase* p)
{
    p->hook();
}

class PureDerived final : public PureBase
{
public:
    void hook() override {}
};

} // namespace purecalltest

namespace {

using purecalltest::PureDerived;

TEST(PureCall, InstalledHandlerTurnsPureCallIntoException)
{
    purecall_handler previous = _set_purecall_handler(_my_purecall_translator);
    bool caught = false;
    try {
        PureDerived d;
    } catch (const EPurecallException& e) {
        caught = true;
        EXPECT_EQ(e.get_value("Text").as_string(), "Purecall");
        const_cast<EPurecallException&>(e).cancel_minidump();
    }
    _set_purecall_handler(previous);
    EXPECT_TRUE(caught);
}

TEST(Symbols, FullNameOfAFunctionAddress)
{
    void (*function)(int) = &ThrowSystemException;
    const auto address = reinterpret_cast<std::uintptr_t>(function);
    std::string name = SymGetFullNameFromAddress(address);
    EXPECT_NE(name.find("libferrox!"), std::string::npos) << name;
    EXPECT_NE(name.find("ThrowSystemException"), std::string::npos) << name;

    std::string offset = SymGetFullNameFromAddress(address + 1);
    EXPECT_NE(offset.find("+0x1"), std::string::npos) << offset;

    EXPECT_EQ(SymGetFullNameFromAddress(0x10), "0x10");
    EXPECT_EQ(SymGetStackTrace({reinterpret_cast<void*>(0x10), reinterpret_cast<void*>(0x20)}),
              "0x10\n-> 0x20");
}

} // namespace

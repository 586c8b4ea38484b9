#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/values/Value.h"

#include <gtest/gtest.h>

#include <limits>
#include <list>
#include <set>
#include <thread>
#include <vector>

namespace {

// Reads the "From"/"To" of the bad cast a conversion raises.
template <class F>
std::pair<std::string, std::string> bad_cast_of(F&& conversion)
{
    try {
        conversion();
    } catch (EBadCastException& e) {
        e.cancel_minidump();
        return {e.get_value("From").as_string(), e.get_value("To").as_string()};
    }
    return {"no throw", ""};
}

TEST(ValueConversions, NumbersAndTheirText)
{
    _value_t v(10048);
    EXPECT_EQ(v.as_string(), "10048");
    EXPECT_EQ(v.as_int(), 10048);
    EXPECT_EQ(v.as_int64(), 10048);
    EXPECT_DOUBLE_EQ(v.as_double(), 10048.0);
    EXPECT_TRUE(v.as_bool());

    _value_t negative(-2);
    EXPECT_EQ(negative.as_int64(), -2) << "int widens with its sign";
    EXPECT_EQ(negative.as_ulong(), 0xFFFFFFFEu);

    _value_t big(static_cast<ulong32_t>(0xFFFFFFFFu));
    EXPECT_EQ(big.as_string(), "4294967295");
    EXPECT_EQ(big.as_int(), -1) << "the same 32 bits read as signed";
    EXPECT_EQ(big.as_int64(), 4294967295LL) << "unsigned long widens with zeros";
    EXPECT_DOUBLE_EQ(big.as_double(), 4294967295.0);

    _value_t d(2.75);
    EXPECT_EQ(d.as_int(), 2);
    EXPECT_EQ(_value_t(-2.75).as_int(), -2) << "doubles truncate toward zero";
    EXPECT_EQ(_value_t(1234567.89).as_string(), "1234568") << "seven significant digits";

    EXPECT_EQ(_value_t(true).as_string(), "true");
    EXPECT_EQ(_value_t(false).as_string(), "false");
    EXPECT_EQ(_value_t(true).as_int(), 1);

    _value_t i64(static_cast<std::int64_t>(1) << 40);
    EXPECT_EQ(i64.as_string(), "1099511627776");
    EXPECT_EQ(bad_cast_of([&] { (void)i64.as_int(); }),
              std::make_pair(std::string("__int64"), std::string("int")))
        << "a 64-bit integer does not narrow silently";
}

TEST(ValueConversions, TextConvertsLikeTheCRuntime)
{
    EXPECT_EQ(_value_t("12abc").as_int(), 12);
    EXPECT_EQ(_value_t("abc").as_int(), 0);
    EXPECT_EQ(_value_t(std::string(" -7")).as_int(), -7);
    EXPECT_DOUBLE_EQ(_value_t("2.5x").as_double(), 2.5);
    EXPECT_EQ(_value_t(L"привет").as_string(), "привет") << "wide text becomes UTF-8";
    EXPECT_EQ(_value_t("привет").as_wstring(), L"привет");
    EXPECT_EQ(_value_t(L"42").as_int(), 42) << "all three text types share one code";
    EXPECT_EQ(_value_t(_bstr_t(L"8")).as_int(), 8);
}

TEST(ValueConversions, EmptyValueThrowsBadCastFromVoid)
{
    _value_t empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(bad_cast_of([&] { (void)empty.as_int(); }),
              std::make_pair(std::string("void"), std::string("int")));
    EXPECT_EQ(bad_cast_of([&] { (void)empty.as_string(); }).first, "void");
    EXPECT_EQ(bad_cast_of([&] { (void)empty.as_double(); }).second, "double");
}

TEST(ValueSequences, TextIndexingAndWritesThroughElements)
{
    _value_t seq(std::list<int>{1, 2, 3});
    EXPECT_TRUE(seq.container());
    EXPECT_EQ(seq.size(), 3u);
    EXPECT_EQ(seq.as_string(), "{1,2,3}");
    EXPECT_EQ(seq[1].as_int(), 2);

    seq[1].put(20);
    EXPECT_EQ(seq.as_string(), "{1,20,3}") << "an element view writes into the sequence";
    seq.push_back(4);
    EXPECT_EQ(seq.as_vector<int>(), (std::vector<int>{1, 20, 3, 4}));

    EXPECT_EQ(_value_t(std::vector<int>{}).as_string(), "{}");
    EXPECT_EQ(_value_t(std::set<std::string>{"b", "a"}).as_string(), "{a,b}");
    EXPECT_EQ(bad_cast_of([&] { (void)seq[7]; }).first, "int") << "index past the end";
    EXPECT_EQ(bad_cast_of([&] { seq.push_back(std::string("x")); }).second, "std::string");
    EXPECT_EQ(bad_cast_of([&] { (void)seq.as_int(); }).second, "int")
        << "a sequence is not one number";
}

TEST(ValueSharing, CopiesShareUntilReassigned)
{
    _value_t first(1);
    _value_t second = first;
    EXPECT_EQ(first.holder(), second.holder());
    second = 2;
    EXPECT_EQ(first.as_int(), 1);
    EXPECT_EQ(second.as_int(), 2);

    // A put changes the shared holder: every copy sees it.
    _value_t a(std::string("x"));
    _value_t b = a;
    a.put(std::string("y"));
    EXPECT_EQ(b.as_string(), "y");
}

TEST(ValueSharing, ReferenceCountsHoldUnderConcurrentCopies)
{
    _value_t shared(std::vector<int>{1, 2, 3});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                _value_t copy = shared;
                _value_t another(copy);
                another = _value_t(i);
                if (copy.size() != 3)
                    std::abort();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(shared.as_string(), "{1,2,3}");
}

class Described final : public SmartPtrObj
{
public:
    std::string GetDescription() const override { return "described"; }
};

TEST(ValueObjects, SharedObjectsKeepTheirTargetAlive)
{
    _value_t null(SmartPtr<SmartPtrObj>{});
    EXPECT_EQ(null.as_string(), "<null>");
    Described* raw = new Described;
    {
        _value_t v(static_cast<SmartPtrObj*>(raw));
        EXPECT_EQ(v.as_string(), "described");
        EXPECT_EQ(raw->RefCount(), 1);
        _value_t copy = v;
        EXPECT_EQ(raw->RefCount(), 1) << "copies share the holder, not the object";
        EXPECT_EQ(copy.as_object().get(), raw);
    }
}

} // namespace

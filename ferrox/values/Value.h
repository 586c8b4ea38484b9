#pragma once

#include "ferrox/FerroxApi.h"
#include "ferrox/strings/Bstr.h"
#include "ferrox/strings/ConstString.h"
#include "ferrox/threads/SmartPtr.h"
#include "ferrox/values/Time.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

class _value_t;

// The element types a _value_t can hold. "unsigned long" keeps its Windows width
// of 32 bits (ulong32_t), so that its readings as int (the same 32 bits, signed)
// and as double behave the same on every platform.
using ulong32_t = std::uint32_t;

#define FERROX_VALUE_ELEMENT_TYPES(X)                                                              \
    X(int)                                                                                         \
    X(ulong32_t)                                                                                   \
    X(std::int64_t)                                                                                \
    X(double)                                                                                      \
    X(bool)                                                                                        \
    X(std::string)                                                                                 \
    X(std::wstring)                                                                                \
    X(_bstr_t)                                                                                     \
    X(_time_t)                                                                                     \
    X(SmartPtr<SmartPtrObj>)                                                                       \
    X(SmartPtr<const SmartPtrObj>)

// Type codes (the COM VARTYPE numbers); several element types share one code.
enum : int
{
    VT_EMPTY_CODE = 0,
    VT_R8_CODE = 5,
    VT_DATE_CODE = 7,
    VT_BSTR_CODE = 8,
    VT_BOOL_CODE = 11,
    VT_UNKNOWN_CODE = 13,
    VT_UI4_CODE = 19,
    VT_I8_CODE = 20,
    VT_INT_CODE = 22,
};

// A readable name for an element type ("int", "unsigned long", "std::string",
// "void" for no type, ...), used in "From"/"To" of EBadCastException.
FERROX_API std::string value_type_name(const std::type_info& type);

template <class T>
class _value_t_pdata_t;
template <class T>
class _value_t_pcdata_t;

// The abstract holder. Each concrete holder overrides only the combinations it
// supports; every base version throws EBadCastException from the holder's element
// type to the requested one. Holders are shared by reference count between all
// _value_t copies; a shared holder is treated as read-only.
class FERROX_API _value_t_data
{
public:
    _value_t_data() = default;
    _value_t_data(const _value_t_data&) = delete;
    _value_t_data& operator=(const _value_t_data&) = delete;
    virtual ~_value_t_data();

    virtual const std::type_info& type() const = 0;
    // The value's own text form (as_string of a holder).
    virtual std::string text() const = 0;
    virtual std::size_t size() const = 0;
    virtual bool container() const = 0;
    // True for holders of a shared object pointer.
    virtual bool object() const { return false; }
    virtual int code() const = 0;

#define FERROX_DECLARE_GETTER(T) virtual T get(const T*) const;
    FERROX_VALUE_ELEMENT_TYPES(FERROX_DECLARE_GETTER)
#undef FERROX_DECLARE_GETTER

    // Element access on a sequence yields a view holder of that element.
    virtual _value_t get(unsigned index);
    virtual _value_t get(unsigned index) const;

#define FERROX_DECLARE_PUSH(T) virtual void push_back(const T&);
    FERROX_VALUE_ELEMENT_TYPES(FERROX_DECLARE_PUSH)
#undef FERROX_DECLARE_PUSH
    virtual void push_back(const _value_t&);

#define FERROX_DECLARE_PUT(T) virtual void put(const T&);
    FERROX_VALUE_ELEMENT_TYPES(FERROX_DECLARE_PUT)
#undef FERROX_DECLARE_PUT

#define FERROX_DECLARE_GETP(T) virtual T* getp(const T*);
    FERROX_VALUE_ELEMENT_TYPES(FERROX_DECLARE_GETP)
#undef FERROX_DECLARE_GETP

    void add_ref() const noexcept
    {
        m_refs.fetch_add(1, std::memory_order_relaxed);
    }
    void release() const noexcept
    {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

protected:
    [[noreturn]] void bad_cast(const std::type_info& to) const;

private:
    mutable std::atomic<long> m_refs{0};
};

// The dynamically typed value: one pointer to a shared holder, null when empty.
// Copies share the holder; assigning a new value swaps the pointer atomically and
// releases the old holder, so other copies keep the old value.
class FERROX_API _value_t
{
public:
    _value_t() noexcept = default;
    _value_t(const _value_t& other) noexcept;
    _value_t(_value_t&& other) noexcept;
    ~_value_t();
    _value_t& operator=(const _value_t& other) noexcept;
    _value_t& operator=(_value_t&& other) noexcept;

    _value_t(const int& v);
    _value_t(const ulong32_t& v);
    _value_t(const std::int64_t& v);
    _value_t(const long long& v);
    _value_t(const double& v);
    _value_t(const bool& v);
    _value_t(const std::string& v);
    _value_t(const std::wstring& v);
    _value_t(const _bstr_t& v);
    _value_t(const _time_t& v);
    _value_t(const char* v);
    _value_t(const wchar_t* v);
    _value_t(basic_const_string<char> v);
    _value_t(basic_const_string<wchar_t> v);
    _value_t(SmartPtrObj* v);
    _value_t(const SmartPtrObj* v);
    _value_t(const SmartPtr<SmartPtrObj>& v);
    _value_t(const SmartPtr<const SmartPtrObj>& v);

    // Sequences: the elements are copied into a sequence holder.
    template <class T>
    _value_t(const std::vector<T>& items);
    template <class T>
    _value_t(const std::list<T>& items);
    template <class T>
    _value_t(const std::set<T>& items);

    template <class T>
    _value_t& operator=(const T& v)
    {
        return *this = _value_t(v);
    }

    // Adopts a holder (takes a reference). For the library's own views and tests.
    explicit _value_t(_value_t_data* holder) noexcept;

    bool empty() const noexcept { return m_data.load(std::memory_order_acquire) == nullptr; }
    std::size_t size() const;           // 0 when empty
    bool container() const;             // false when empty
    int code() const;                   // VT_EMPTY_CODE when empty
    const std::type_info& type() const; // typeid(void) when empty

    void push_back(const _value_t& v);
#define FERROX_DECLARE_VALUE_PUSH(T) void push_back(const T& v);
    FERROX_VALUE_ELEMENT_TYPES(FERROX_DECLARE_VALUE_PUSH)
#undef FERROX_DECLARE_VALUE_PUSH
    // An element view of a sequence: writes through it change the sequence.
    _value_t operator[](unsigned index);
    const _value_t operator[](unsigned index) const;
    // Replaces the held element in place (in every copy that shares the holder).
    template <class T>
    void put(const T& v)
    {
        holder_or_throw(typeid(T))->put(v);
    }

    int as_int() const;
    std::int64_t as_int64() const;
    ulong32_t as_ulong() const;
    bool as_bool() const;
    double as_double() const;
    std::string as_string() const;
    std::wstring as_wstring() const;
    _bstr_t as_bstr() const;
    _time_t as_time() const;
    SmartPtr<SmartPtrObj> as_object() const;

    explicit operator int() const
    {
        return as_int();
    }
    explicit operator ulong32_t() const
    {
        return as_ulong();
    }
    explicit operator std::int64_t() const
    {
        return as_int64();
    }
    explicit operator double() const
    {
        return as_double();
    }
    explicit operator bool() const
    {
        return as_bool();
    }
    explicit operator std::string() const
    {
        return as_string();
    }
    explicit operator std::wstring() const
    {
        return as_wstring();
    }

    // Copies of the elements of a sequence (or of the one scalar) as T.
    template <class T>
    std::vector<T> as_vector() const;

    _value_t_data* holder() const noexcept
    {
        return m_data.load(std::memory_order_acquire);
    }

private:
    _value_t_data* holder_or_throw(const std::type_info& to) const;
    void adopt(_value_t_data* holder) noexcept;

    std::atomic<_value_t_data*> m_data{nullptr};
};

#include "ferrox/values/ValueHolders.h"

#include "ferrox/values/Value.h"

#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/strings/Strings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

std::string value_type_name(const std::type_info& type)
{
    if (type == typeid(void))
        return "void";
    if (type == typeid(int))
        return "int";
    if (type == typeid(ulong32_t))
        return "unsigned long";
    if (type == typeid(std::int64_t))
        return "__int64";
    if (type == typeid(double))
        return "double";
    if (type == typeid(bool))
        return "bool";
    if (type == typeid(std::string))
        return "std::string";
    if (type == typeid(std::wstring))
        return "std::wstring";
    if (type == typeid(_bstr_t))
        return "_bstr_t";
    if (type == typeid(_time_t))
        return "_time_t";
    if (type == typeid(SmartPtr<SmartPtrObj>))
        return "SmartPtr<SmartPtrObj>";
    if (type == typeid(SmartPtr<const SmartPtrObj>))
        return "SmartPtr<const SmartPtrObj>";
    return type_display_name(type);
}

namespace ferrox::detail {

std::string element_text(const int& v)
{
    return std::to_string(v);
}
std::string element_text(const ulong32_t& v)
{
    return std::to_string(v);
}
std::string element_text(const std::int64_t& v)
{
    return std::to_string(v);
}
std::string element_text(const double& v)
{
    // Seven significant digits.
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.7g", v);
    return buffer;
}
std::string element_text(const bool& v)
{
    return v ? "true" : "false";
}
std::string element_text(const std::string& v)
{
    return v;
}
std::string element_text(const std::wstring& v)
{
    return as_string(v, CP_ACP);
}
std::string element_text(const _bstr_t& v)
{
    return as_string(v.wstr(), CP_ACP);
}
std::string element_text(const _time_t& v)
{
    return v.text();
}
std::string element_text(const SmartPtr<SmartPtrObj>& v)
{
    return v ? v->GetDescription() : std::string("<null>");
}
std::string element_text(const SmartPtr<const SmartPtrObj>& v)
{
    return v ? v->GetDescription() : std::string("<null>");
}

std::wstring element_wide_text(const std::string& v)
{
    return as_wstring(v, CP_ACP);
}
std::wstring element_wide_text(const std::wstring& v)
{
    return v;
}
std::wstring element_wide_text(const _bstr_t& v)
{
    return v.wstr();
}

} // namespace ferrox::detail

// ---- holder base: every unsupported combination is a bad cast ----

_value_t_data::~_value_t_data() = default;

void _value_t_data::bad_cast(const std::type_info& to) const
{
    throw EBadCastException(type(), to);
}

#define FERROX_DEFINE_GETTER(T)                                                                    \
    T _value_t_data::get(const T*) const                                                           \
    {                                                                                              \
        bad_cast(typeid(T));                                                                       \
    }
FERROX_VALUE_ELEMENT_TYPES(FERROX_DEFINE_GETTER)
#undef FERROX_DEFINE_GETTER

_value_t _value_t_data::get(unsigned)
{
    bad_cast(typeid(_value_t));
}

_value_t _value_t_data::get(unsigned) const
{
    bad_cast(typeid(_value_t));
}

#define FERROX_DEFINE_PUSH(T)                                                                      \
    void _value_t_data::push_back(const T&)                                                        \
    {                                                                                              \
        bad_cast(typeid(T));                                                                       \
    }
FERROX_VALUE_ELEMENT_TYPES(FERROX_DEFINE_PUSH)
#undef FERROX_DEFINE_PUSH

void _value_t_data::push_back(const _value_t& v)
{
    bad_cast(v.type());
}

#define FERROX_DEFINE_PUT(T)                                                                       \
    void _value_t_data::put(const T&)                                                              \
    {                                                                                              \
        bad_cast(typeid(T));                                                                       \
    }
FERROX_VALUE_ELEMENT_TYPES(FERROX_DEFINE_PUT)
#undef FERROX_DEFINE_PUT

#define FERROX_DEFINE_GETP(T)                                                                      \
    T* _value_t_data::getp(const T*)                                                               \
    {                                                                                              \
        bad_cast(typeid(T));                                                                       \
    }
FERROX_VALUE_ELEMENT_TYPES(FERROX_DEFINE_GETP)
#undef FERROX_DEFINE_GETP

// ---- _value_t ----

_value_t::_value_t(_value_t_data* holder) noexcept
{
    adopt(holder);
}

void _value_t::adopt(_value_t_data* holder) noexcept
{
    if (holder)
        holder->add_ref();
    _value_t_data* old = m_data.exchange(holder, std::memory_order_acq_rel);
    if (old)
        old->release();
}

_value_t::_value_t(const _value_t& other) noexcept
{
    adopt(other.holder());
}

_value_t::_value_t(_value_t&& other) noexcept
    : m_data(other.m_data.exchange(nullptr, std::memory_order_acq_rel))
{}

_value_t::~_value_t()
{
    adopt(nullptr);
}

_value_t& _value_t::operator=(const _value_t& other) noexcept
{
    adopt(other.holder()); // takes the new reference before dropping the old one
    return *this;
}

_value_t& _value_t::operator=(_value_t&& other) noexcept
{
    if (this != &other) {
        _value_t_data* incoming = other.m_data.exchange(nullptr, std::memory_order_acq_rel);
        _value_t_data* old = m_data.exchange(incoming, std::memory_order_acq_rel);
        if (old)
            old->release();
    }
    return *this;
}

_value_t::_value_t(const int& v)
{
    adopt(new _value_t_data_t<int>(v));
}
_value_t::_value_t(const ulong32_t& v)
{
    adopt(new _value_t_data_t<ulong32_t>(v));
}
_value_t::_value_t(const std::int64_t& v)
{
    adopt(new _value_t_data_t<std::int64_t>(v));
}
_value_t::_value_t(const long long& v)
{
    adopt(new _value_t_data_t<std::int64_t>(static_cast<std::int64_t>(v)));
}
_value_t::_value_t(const double& v)
{
    adopt(new _value_t_data_t<double>(v));
}
_value_t::_value_t(const bool& v)
{
    adopt(new _value_t_data_t<bool>(v));
}
_value_t::_value_t(const std::string& v)
{
    adopt(new _value_t_data_t<std::string>(v));
}
_value_t::_value_t(const std::wstring& v)
{
    adopt(new _value_t_data_t<std::wstring>(v));
}
_value_t::_value_t(const _bstr_t& v)
{
    adopt(new _value_t_data_t<_bstr_t>(v));
}
_value_t::_value_t(const _time_t& v)
{
    adopt(new _value_t_data_t<_time_t>(v));
}
_value_t::_value_t(const char* v)
{
    adopt(new _value_t_data_t<std::string>(v ? std::string(v) : std::string()));
}
_value_t::_value_t(const wchar_t* v)
{
    adopt(new _value_t_data_t<std::wstring>(v ? std::wstring(v) : std::wstring()));
}
_value_t::_value_t(basic_const_string<char> v)
{
    adopt(new _value_t_data_t<std::string>(v.str()));
}
_value_t::_value_t(basic_const_string<wchar_t> v)
{
    adopt(new _value_t_data_t<std::wstring>(v.str()));
}
_value_t::_value_t(SmartPtrObj* v)
{
    adopt(new _value_t_data_t<SmartPtr<SmartPtrObj>>(SmartPtr<SmartPtrObj>(v)));
}
_value_t::_value_t(const SmartPtrObj* v)
{
    adopt(new _value_t_data_t<SmartPtr<const SmartPtrObj>>(SmartPtr<const SmartPtrObj>(v)));
}
_value_t::_value_t(const SmartPtr<SmartPtrObj>& v)
{
    adopt(new _value_t_data_t<SmartPtr<SmartPtrObj>>(v));
}
_value_t::_value_t(const SmartPtr<const SmartPtrObj>& v)
{
    adopt(new _value_t_data_t<SmartPtr<const SmartPtrObj>>(v));
}

_value_t_data* _value_t::holder_or_throw(const std::type_info& to) const
{
    _value_t_data* h = holder();
    if (h == nullptr)
        throw EBadCastException(typeid(void), to);
    return h;
}

std::size_t _value_t::size() const
{
    const _value_t_data* h = holder();
    return h ? h->size() : 0;
}

bool _value_t::container() const
{
    const _value_t_data* h = holder();
    return h && h->container();
}

int _value_t::code() const
{
    const _value_t_data* h = holder();
    return h ? h->code() : VT_EMPTY_CODE;
}

const std::type_info& _value_t::type() const
{
    const _value_t_data* h = holder();
    return h ? h->type() : typeid(void);
}

void _value_t::push_back(const _value_t& v)
{
    holder_or_throw(v.type())->push_back(v);
}

#define FERROX_DEFINE_VALUE_PUSH(T)                                                                \
    void _value_t::push_back(const T& v)                                                           \
    {                                                                                              \
        holder_or_throw(typeid(T))->push_back(v);                                                  \
    }
FERROX_VALUE_ELEMENT_TYPES(FERROX_DEFINE_VALUE_PUSH)
#undef FERROX_DEFINE_VALUE_PUSH

_value_t _value_t::operator[](unsigned index)
{
    return holder_or_throw(typeid(_value_t))->get(index);
}

const _value_t _value_t::operator[](unsigned index) const
{
    return static_cast<const _value_t_data*>(holder_or_throw(typeid(_value_t)))->get(index);
}

namespace {
template <class T>
T read(const _value_t_data* h)
{
    return h->get(static_cast<const T*>(nullptr));
}
} // namespace

int _value_t::as_int() const
{
    const _value_t_data* h = holder_or_throw(typeid(int));
    if (h->container())
        return read<int>(h); // a sequence is not one number: bad cast
    switch (h->code()) {
    case VT_R8_CODE: return static_cast<int>(std::trunc(read<double>(h)));
    case VT_DATE_CODE:
        return static_cast<int>(static_cast<std::uint32_t>(read<_time_t>(h).value()));
    case VT_BSTR_CODE: return std::atoi(read<std::string>(h).c_str());
    case VT_BOOL_CODE: return read<bool>(h) ? 1 : 0;
    case VT_UI4_CODE: return static_cast<int>(read<ulong32_t>(h));
    case VT_INT_CODE: return read<int>(h);
    default: return read<int>(h);
    }
}

std::int64_t _value_t::as_int64() const
{
    const _value_t_data* h = holder_or_throw(typeid(std::int64_t));
    if (h->container())
        return read<std::int64_t>(h);
    switch (h->code()) {
    case VT_R8_CODE: return static_cast<std::int64_t>(std::trunc(read<double>(h)));
    case VT_DATE_CODE: return read<_time_t>(h).value();
    case VT_BSTR_CODE: return std::atoll(read<std::string>(h).c_str());
    case VT_BOOL_CODE: return read<bool>(h) ? 1 : 0;
    case VT_UI4_CODE: return static_cast<std::int64_t>(read<ulong32_t>(h)); // zero extension
    case VT_INT_CODE: return static_cast<std::int64_t>(read<int>(h));       // sign extension
    default: return read<std::int64_t>(h);
    }
}

ulong32_t _value_t::as_ulong() const
{
    const _value_t_data* h = holder_or_throw(typeid(ulong32_t));
    if (h->container())
        return read<ulong32_t>(h);
    switch (h->code()) {
    case VT_R8_CODE:
        return static_cast<ulong32_t>(static_cast<std::int64_t>(std::trunc(read<double>(h))));
    case VT_DATE_CODE: return static_cast<ulong32_t>(read<_time_t>(h).value());
    case VT_BSTR_CODE:
        return static_cast<ulong32_t>(std::strtoul(read<std::string>(h).c_str(), nullptr, 10));
    case VT_BOOL_CODE: return read<bool>(h) ? 1u : 0u;
    case VT_UI4_CODE: return read<ulong32_t>(h);
    case VT_INT_CODE: return static_cast<ulong32_t>(read<int>(h));
    case VT_I8_CODE: return static_cast<ulong32_t>(read<std::int64_t>(h));
    default: return read<ulong32_t>(h);
    }
}

bool _value_t::as_bool() const
{
    const _value_t_data* h = holder_or_throw(typeid(bool));
    if (h->container())
        return read<bool>(h);
    switch (h->code()) {
    case VT_R8_CODE: return read<double>(h) != 0.0;
    case VT_DATE_CODE: return read<_time_t>(h).value() != 0;
    case VT_BSTR_CODE: {
        std::string text = read<std::string>(h);
        return text == "true" || std::atoi(text.c_str()) != 0;
    }
    case VT_UI4_CODE: return read<ulong32_t>(h) != 0;
    case VT_INT_CODE: return read<int>(h) != 0;
    case VT_I8_CODE: return read<std::int64_t>(h) != 0;
    default: return read<bool>(h);
    }
}

double _value_t::as_double() const
{
    const _value_t_data* h = holder_or_throw(typeid(double));
    if (h->container())
        return read<double>(h);
    switch (h->code()) {
    case VT_DATE_CODE: return static_cast<double>(read<_time_t>(h).value());
    case VT_BSTR_CODE: return std::atof(read<std::string>(h).c_str());
    case VT_BOOL_CODE: return read<bool>(h) ? 1.0 : 0.0;
    case VT_UI4_CODE: return static_cast<double>(read<ulong32_t>(h));
    case VT_INT_CODE: return static_cast<double>(read<int>(h));
    case VT_I8_CODE: return static_cast<double>(read<std::int64_t>(h));
    default: return read<double>(h);
    }
}

std::string _value_t::as_string() const
{
    return holder_or_throw(typeid(std::string))->text();
}

std::wstring _value_t::as_wstring() const
{
    const _value_t_data* h = holder_or_throw(typeid(std::wstring));
    if (!h->container() && h->code() == VT_BSTR_CODE)
        return read<std::wstring>(h);
    return ::as_wstring(h->text(), CP_ACP);
}

_bstr_t _value_t::as_bstr() const
{
    return _bstr_t(as_wstring());
}

_time_t _value_t::as_time() const
{
    const _value_t_data* h = holder_or_throw(typeid(_time_t));
    if (!h->container() && h->code() != VT_DATE_CODE && h->code() != VT_UNKNOWN_CODE &&
        h->code() != VT_BSTR_CODE)
        return _time_t(as_int64());
    return read<_time_t>(h);
}

SmartPtr<SmartPtrObj> _value_t::as_object() const
{
    return read<SmartPtr<SmartPtrObj>>(holder_or_throw(typeid(SmartPtr<SmartPtrObj>)));
}

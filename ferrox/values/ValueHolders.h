#pragma once

// Holder templates of _value_t; included by Value.h only.

#include <cstdio>
#include <type_traits>

namespace ferrox::detail {

template <class T>
struct value_traits;

#define FERROX_VALUE_TRAIT(T, CODE)                                                                \
    template <>                                                                                    \
    struct value_traits<T>                                                                         \
    {                                                                                              \
        static constexpr int code = CODE;                                                          \
    };
FERROX_VALUE_TRAIT(int, VT_INT_CODE)
FERROX_VALUE_TRAIT(ulong32_t, VT_UI4_CODE)
FERROX_VALUE_TRAIT(std::int64_t, VT_I8_CODE)
FERROX_VALUE_TRAIT(double, VT_R8_CODE)
FERROX_VALUE_TRAIT(bool, VT_BOOL_CODE)
FERROX_VALUE_TRAIT(std::string, VT_BSTR_CODE)
FERROX_VALUE_TRAIT(std::wstring, VT_BSTR_CODE)
FERROX_VALUE_TRAIT(_bstr_t, VT_BSTR_CODE)
FERROX_VALUE_TRAIT(_time_t, VT_DATE_CODE)
FERROX_VALUE_TRAIT(SmartPtr<SmartPtrObj>, VT_UNKNOWN_CODE)
FERROX_VALUE_TRAIT(SmartPtr<const SmartPtrObj>, VT_UNKNOWN_CODE)
#undef FERROX_VALUE_TRAIT

template <class T>
constexpr bool is_value_element = requires
{
    value_traits<T>::code;
};

template <class T>
constexpr bool is_text_element =
    std::is_same_v<T, std::string> || std::is_same_v<T, std::wstring> || std::is_same_v<T, _bstr_t>;

template <class T>
constexpr bool is_object_element =
    std::is_same_v<T, SmartPtr<SmartPtrObj>> || std::is_same_v<T, SmartPtr<const SmartPtrObj>>;

// Text form of one element (as_string of a scalar holder).
FERROX_API std::string element_text(const int& v);
FERROX_API std::string element_text(const ulong32_t& v);
FERROX_API std::string element_text(const std::int64_t& v);
FERROX_API std::string element_text(const double& v);
FERROX_API std::string element_text(const bool& v);
FERROX_API std::string element_text(const std::string& v);
FERROX_API std::string element_text(const std::wstring& v);
FERROX_API std::string element_text(const _bstr_t& v);
FERROX_API std::string element_text(const _time_t& v);
FERROX_API std::string element_text(const SmartPtr<SmartPtrObj>& v);
FERROX_API std::string element_text(const SmartPtr<const SmartPtrObj>& v);

FERROX_API std::wstring element_wide_text(const std::string& v);
FERROX_API std::wstring element_wide_text(const std::wstring& v);
FERROX_API std::wstring element_wide_text(const _bstr_t& v);

// Reads the element of holder type T as the requested type U when the two share a
// type code (the three text types, the two object pointer types); nullptr-returning
// "no" otherwise.
template <class U, class T>
constexpr bool shares_code = (is_text_element<U> && is_text_element<T>) ||
                             (std::is_same_v<U, SmartPtr<const SmartPtrObj>> &&
                              is_object_element<T>) ||
                             std::is_same_v<U, T>;

template <class U, class T>
U convert_same_code(const T& v)
{
    if constexpr (std::is_same_v<U, T>) {
        return v;
    } else if constexpr (std::is_same_v<U, std::string>) {
        return element_text(v);
    } else if constexpr (std::is_same_v<U, std::wstring>) {
        return element_wide_text(v);
    } else if constexpr (std::is_same_v<U, _bstr_t>) {
        return _bstr_t(element_wide_text(v));
    } else {
        return U(v.get());
    }
}

} // namespace ferrox::detail

// Common part of the holders of one element type T: the typed getters that can
// answer for T, everything else falls back to the throwing base.
template <class T>
class _value_t_elem_base : public _value_t_data
{
public:
    const std::type_info& type() const override { return typeid(T); }
    int code() const override { return ferrox::detail::value_traits<T>::code; }
    bool object() const override { return ferrox::detail::is_object_element<T>; }

#define FERROX_ELEM_GETTER(U)                                                                      \
    U get(const U* p) const override                                                               \
    {                                                                                              \
        if constexpr (ferrox::detail::shares_code<U, T>) {                                         \
            if (!this->container())                                                                \
                return ferrox::detail::convert_same_code<U>(element());                            \
        }                                                                                          \
        return _value_t_data::get(p);                                                              \
    }
    FERROX_VALUE_ELEMENT_TYPES(FERROX_ELEM_GETTER)
#undef FERROX_ELEM_GETTER
    using _value_t_data::get;

protected:
    virtual const T& element() const = 0;
};

// One stored element (scalar) or a view of one element inside a sequence.
template <class T>
class _value_t_scalar_base : public _value_t_elem_base<T>
{
public:
    std::string text() const override { return ferrox::detail::element_text(this->element()); }
    std::size_t size() const override { return 1; }
    bool container() const override { return false; }
    void put(const T& v) override { mutable_element() = v; }
    T* getp(const T*) override { return &mutable_element(); }
    using _value_t_data::getp;
    using _value_t_data::put;

protected:
    virtual T& mutable_element() = 0;
};

template <class T>
class _value_t_data_t final : public _value_t_scalar_base<T>
{
public:
    explicit _value_t_data_t(const T& v) : m_value(v) {}

protected:
    const T& element() const override { return m_value; }
    T& mutable_element() override { return m_value; }

private:
    T m_value;
};

template <class T>
class _value_t_cont_t final : public _value_t_elem_base<T>
{
public:
    _value_t_cont_t() = default;
    template <class It>
    _value_t_cont_t(It first, It last) : m_items(first, last)
    {}

    std::string text() const override
    {
        std::string out = "{";
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (i)
                out += ",";
            out += ferrox::detail::element_text(m_items[i]);
        }
        return out + "}";
    }
    std::size_t size() const override { return m_items.size(); }
    bool container() const override { return true; }
    void push_back(const T& v) override { m_items.push_back(v); }
    void push_back(const _value_t& v) override;
    using _value_t_data::push_back;
    _value_t get(unsigned index) override;
    _value_t get(unsigned index) const override;
    using _value_t_elem_base<T>::get;

    std::vector<T>& items() { return m_items; }
    const std::vector<T>& items() const { return m_items; }

protected:
    // A sequence answers typed getters only when asked for a single value of
    // its element type: never; its elements are reached through get(index).
    const T& element() const override { this->bad_cast(typeid(T)); }

private:
    std::vector<T> m_items;
};

// Mutable view of element `index` of a sequence holder; keeps the sequence alive.
template <class T>
class _value_t_pdata_t final : public _value_t_scalar_base<T>
{
public:
    _value_t_pdata_t(_value_t_cont_t<T>* owner, unsigned index) : m_owner(owner), m_index(index)
    {
        m_owner->add_ref();
    }
    ~_value_t_pdata_t() override { m_owner->release(); }

protected:
    const T& element() const override { return m_owner->items().at(m_index); }
    T& mutable_element() override { return m_owner->items().at(m_index); }

private:
    _value_t_cont_t<T>* m_owner;
    unsigned m_index;
};

// Read-only view of one element of a sequence holder.
template <class T>
class _value_t_pcdata_t final : public _value_t_scalar_base<T>
{
public:
    _value_t_pcdata_t(const _value_t_cont_t<T>* owner, unsigned index)
        : m_owner(owner), m_index(index)
    {
        m_owner->add_ref();
    }
    ~_value_t_pcdata_t() override { m_owner->release(); }
    void put(const T&) override { this->bad_cast(typeid(T)); }
    T* getp(const T*) override { this->bad_cast(typeid(T)); }

protected:
    const T& element() const override { return m_owner->items().at(m_index); }
    T& mutable_element() override { this->bad_cast(typeid(T)); }

private:
    const _value_t_cont_t<T>* m_owner;
    unsigned m_index;
};

template <class T>
_value_t _value_t_cont_t<T>::get(unsigned index)
{
    if (index >= m_items.size())
        this->bad_cast(typeid(T));
    return _value_t(new _value_t_pdata_t<T>(this, index));
}

template <class T>
_value_t _value_t_cont_t<T>::get(unsigned index) const
{
    if (index >= m_items.size())
        this->bad_cast(typeid(T));
    return _value_t(new _value_t_pcdata_t<T>(this, index));
}

template <class T>
void _value_t_cont_t<T>::push_back(const _value_t& v)
{
    const _value_t_data* h = v.holder();
    if (h == nullptr || h->container())
        this->bad_cast(h ? h->type() : typeid(void));
    m_items.push_back(h->get(static_cast<const T*>(nullptr)));
}

template <class T>
_value_t::_value_t(const std::vector<T>& items)
{
    static_assert(ferrox::detail::is_value_element<T>, "not a _value_t element type");
    adopt(new _value_t_cont_t<T>(items.begin(), items.end()));
}

template <class T>
_value_t::_value_t(const std::list<T>& items)
{
    static_assert(ferrox::detail::is_value_element<T>, "not a _value_t element type");
    adopt(new _value_t_cont_t<T>(items.begin(), items.end()));
}

template <class T>
_value_t::_value_t(const std::set<T>& items)
{
    static_assert(ferrox::detail::is_value_element<T>, "not a _value_t element type");
    adopt(new _value_t_cont_t<T>(items.begin(), items.end()));
}

template <class T>
std::vector<T> _value_t::as_vector() const
{
    const _value_t_data* h = holder_or_throw(typeid(T));
    std::vector<T> out;
    if (!h->container()) {
        out.push_back(h->get(static_cast<const T*>(nullptr)));
        return out;
    }
    for (unsigned i = 0; i < h->size(); ++i)
        out.push_back(h->get(i).holder()->get(static_cast<const T*>(nullptr)));
    return out;
}

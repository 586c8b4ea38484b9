#pragma once

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>

// A non-owning view of characters: a pointer and a length. Functions that need a
// zero-terminated text from a view require the character just past the end to be 0.
template <class C>
class basic_const_string
{
public:
    basic_const_string() = default;
    basic_const_string(const C* text) : m_data(text), m_length(text ? measure(text) : 0) {}
    basic_const_string(const C* text, std::size_t length) : m_data(text), m_length(length) {}
    basic_const_string(const std::basic_string<C>& text)
        : m_data(text.c_str()), m_length(text.size())
    {}

    const C* data() const { return m_data; }
    std::size_t length() const { return m_length; }
    std::size_t size() const { return m_length; }
    bool empty() const { return m_length == 0; }
    const C* begin() const { return m_data; }
    const C* end() const { return m_data + m_length; }
    C operator[](std::size_t i) const { return m_data[i]; }

    // True when the view can be handed to a C function as a terminated string.
    bool is_terminated() const { return m_data == nullptr ? m_length == 0 : m_data[m_length] == 0; }
    std::basic_string<C> str() const
    {
        return m_data ? std::basic_string<C>(m_data, m_length) : std::basic_string<C>();
    }

private:
    static std::size_t measure(const C* text)
    {
        std::size_t n = 0;
        while (text[n] != 0)
            ++n;
        return n;
    }

    const C* m_data = nullptr;
    std::size_t m_length = 0;
};

using const_string = basic_const_string<char>;
using const_wstring = basic_const_string<wchar_t>;

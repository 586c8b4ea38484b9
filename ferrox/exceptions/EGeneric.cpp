#include "ferrox/exceptions/EGeneric.h"

#include "ferrox/exceptions/EStructuredException.h"
#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/exceptions/MiniDump.h"
#include "ferrox/strings/Strings.h"
#include "ferrox/system/ThreadLocal.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

bool SaveMiniDumpOnCppException = true;
bool SaveMiniDumpOnStructuredException = true;
bool ExtendDebugInformationFromException = false;
bool UseVEH = true;
unsigned MiniDumpType = 0;
const char* MiniDumpFileFormat = "Dumps/%s_%s_%04hd_%02hd_%02hd_%02hd_%02hd_%02hd_%03hd.txt";
std::string MiniDumpExcludedTypes = "EThreadInterrupt;EStructuredException;C++";
std::string SkipModulesForError =
    "kernel32;ntdll;nt;ferrox;MSVCR100D;MSVCR100;MSVCP100D;MSVCP100;KERNELBASE";

bool value_name_equal(const std::string& a, const std::string& b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

EGeneric::EGeneric()
{
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EGeneric::EGeneric(bool gather)
{
    if (gather)
        ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EGeneric::EGeneric(const value_pair& v1) : m_values{v1}
{
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EGeneric::EGeneric(const value_pair& v1, const value_pair& v2) : m_values{v1, v2}
{
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EGeneric::EGeneric(const value_pair& v1, const value_pair& v2, const value_pair& v3)
    : m_values{v1, v2, v3}
{
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EGeneric::EGeneric(const value_pair& v1, const value_pair& v2, const value_pair& v3,
                   const value_pair& v4)
    : m_values{v1, v2, v3, v4}
{
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EGeneric::EGeneric(const value_pair& v1, const value_pair& v2, const value_pair& v3,
                   const value_pair& v4, const value_pair& v5)
    : m_values{v1, v2, v3, v4, v5}
{
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EGeneric::EGeneric(const value_pair& v1, const value_pair& v2, const value_pair& v3,
                   const value_pair& v4, const value_pair& v5, const value_pair& v6)
    : m_values{v1, v2, v3, v4, v5, v6}
{
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EGeneric::EGeneric(const EGeneric& other) : std::exception(other), m_values(other.m_values) {}

EGeneric& EGeneric::operator=(const EGeneric& other)
{
    if (this != &other)
        m_values = other.m_values;
    return *this;
}

EGeneric::~EGeneric() = default;

EGeneric::values_type::iterator EGeneric::find_value(const std::string& name)
{
    return std::find_if(m_values.begin(), m_values.end(),
                        [&](const value_pair& v) { return value_name_equal(v.first, name); });
}

EGeneric::values_type::const_iterator EGeneric::find_value(const std::string& name) const
{
    return std::find_if(m_values.begin(), m_values.end(),
                        [&](const value_pair& v) { return value_name_equal(v.first, name); });
}

const _value_t EGeneric::get_value(const std::string& name) const
{
    auto it = find_value(name);
    return it == m_values.end() ? _value_t() : it->second;
}

const _value_t EGeneric::operator[](const std::string& name) const
{
    return get_value(name);
}

_value_t& EGeneric::operator[](const std::string& name)
{
    auto it = find_value(name);
    if (it != m_values.end())
        return it->second;
    m_values.emplace_back(name, _value_t());
    return m_values.back().second;
}

void EGeneric::put_value(const std::string& name, const _value_t& value)
{
    auto it = find_value(name);
    if (it != m_values.end())
        it->second = value;
    else
        m_values.emplace_back(name, value);
}

void EGeneric::clear_values()
{
    m_values.clear();
}

void EGeneric::move_to_back(const std::string& name)
{
    auto it = find_value(name);
    if (it != m_values.end() && it + 1 != m_values.end())
        std::iter_swap(it, m_values.end() - 1);
}

void EGeneric::cancel_minidump()
{
    auto it = find_value("MiniDump");
    if (it == m_values.end())
        return;
    try {
        std::string path = it->second.empty() ? std::string() : it->second.as_string();
        if (!path.empty())
            ::unlink(path.c_str());
    } catch (...) {
    }
    m_values.erase(it);
}

namespace {
struct WhatTag;
} // namespace

const char* EGeneric::what() const noexcept
{
    // Per-thread text: valid until this thread's next what(); at exit, after the
    // thread's own storage is gone, a process-wide fallback keeps what() usable.
    static std::string fallback;
    std::string* slot = TThreadLocal<std::string, WhatTag>::Get();
    std::string& text = slot ? *slot : fallback;
    try {
        text.clear();
        if (m_values.size() == 1 && m_values[0].first == "Text") {
            if (!m_values[0].second.empty())
                text = m_values[0].second.as_string();
            return text.c_str();
        }
        for (std::size_t i = 0; i < m_values.size(); ++i) {
            const value_pair& v = m_values[i];
            if (i)
                text += "\n";
            text += v.first;
            text += ": ";
            if (!v.second.empty() && v.second.size() > 0) {
                text += v.second.as_string();
                const std::type_info& type = v.second.type();
                if (!v.second.container() && (type == typeid(int) || type == typeid(ulong32_t))) {
                    text += " (0x";
                    text += itoa(v.second.as_int(), 16);
                    text += ")";
                }
            }
        }
    } catch (...) {
        // Whatever was built so far is the best text there is.
    }
    return text.c_str();
}

void EGeneric::ExtendDebugInformation(CONTEXT* context)
{
    extend(context, nullptr);
}

void EGeneric::ExtendDebugInformation(EXCEPTION_POINTERS* pointers)
{
    extend(pointers ? pointers->ContextRecord : nullptr, pointers);
}

// Never lets anything escape: a failing report must not replace the exception
// that is being built.
void EGeneric::extend(CONTEXT* context, EXCEPTION_POINTERS* pointers)
{
    using namespace ferrox::detail;
    if (report_in_progress())
        return; // an exception raised while a report is written gets no report of its own
    try {
        const std::string kind = exception_kind(typeid(*this));
        const bool structured = pointers != nullptr;
        const bool dump = structured ? SaveMiniDumpOnStructuredException
                                     : SaveMiniDumpOnCppException && !kind_excluded(kind);
        if (dump) {
            std::string path = write_report(pointers, MiniDumpType, current_thread_id(), this,
                                            structured ? nullptr : kind.c_str());
            if (!path.empty())
                put_value("MiniDump", path);
        }
        if (ExtendDebugInformationFromException) {
            std::vector<void*> frames = capture_frames(context);
            std::uintptr_t failing = actual_error_address(frames, context);
            if (failing != 0) {
                put_value("ModuleName", SymGetModuleFromAddress(failing));
                put_value("AddressName", SymGetFullNameFromAddress(failing));
            }
            if (!frames.empty())
                put_value("Stack", SymGetStackTrace(frames));
        }
    } catch (...) {
    }
}

std::string EGeneric::SaveMiniDump(EXCEPTION_POINTERS* pointers, unsigned dumpType, pid_t threadId,
                                   const EGeneric* exception, const char* kind)
{
    return ferrox::detail::write_report(pointers, dumpType, threadId, exception, kind);
}

std::string EGeneric::BuildStack(EXCEPTION_POINTERS* pointers)
{
    return ferrox::detail::build_stack(pointers);
}

#pragma once

#include "ferrox/FerroxApi.h"
#include "ferrox/values/Value.h"

#include <cstdint>
#include <exception>
#include <string>
#include <sys/types.h>
#include <typeinfo>
#include <ucontext.h>
#include <utility>
#include <vector>

// The platform's counterparts of the structured-exception records: a fault signal
// is described by an exception code in Windows' numbering, the faulting address,
// up to 15 parameters and the machine context of the fault.
using CONTEXT = ucontext_t;

struct EXCEPTION_RECORD
{
    unsigned ExceptionCode = 0;
    void* ExceptionAddress = nullptr;
    unsigned NumberParameters = 0;
    std::uintptr_t ExceptionInformation[15] = {};
};

struct EXCEPTION_POINTERS
{
    EXCEPTION_RECORD* ExceptionRecord = nullptr;
    CONTEXT* ContextRecord = nullptr;
};

using value_pair = std::pair<std::string, _value_t>;

// The one exception root of the library and the program. It carries no fixed
// fields, only an ordered list of named values; derived classes only decide which
// values they put there. Catch sites read single values with get_value (names
// match case-insensitively for A-Z only) or show the whole list with what().
class FERROX_API EGeneric : public std::exception
{
public:
    using values_type = std::vector<value_pair>;

    EGeneric();
    // gather = false builds the bare object without diagnostic values or a dump.
    explicit EGeneric(bool gather);
    explicit EGeneric(const value_pair& v1);
    EGeneric(const value_pair& v1, const value_pair& v2);
    EGeneric(const value_pair& v1, const value_pair& v2, const value_pair& v3);
    EGeneric(const value_pair& v1, const value_pair& v2, const value_pair& v3,
             const value_pair& v4);
    EGeneric(const value_pair& v1, const value_pair& v2, const value_pair& v3, const value_pair& v4,
             const value_pair& v5);
    EGeneric(const value_pair& v1, const value_pair& v2, const value_pair& v3, const value_pair& v4,
             const value_pair& v5, const value_pair& v6);
    // Copies the value list only.
    EGeneric(const EGeneric& other);
    EGeneric& operator=(const EGeneric& other);
    ~EGeneric() override;

    // The first entry with that name, or an empty value. Never throws.
    const _value_t get_value(const std::string& name) const;
    const _value_t operator[](const std::string& name) const;
    // The first matching entry's value; appends an empty entry when there is none.
    _value_t& operator[](const std::string& name);
    // Replaces the first match's value (the stored name stays), else appends.
    void put_value(const std::string& name, const _value_t& value);
    void clear_values();
    const values_type& values() const { return m_values; }

    // Deletes the report file named by "MiniDump" and removes that entry.
    void cancel_minidump();

    // A single "Text" entry (exact case) gives its text alone; otherwise one line
    // "name: value" per entry, int and unsigned long values followed by " (0x..)".
    // The text lives in a per-thread buffer: valid until the next what() on the
    // same thread, never touched by another thread.
    const char* what() const noexcept override;

    // Writes the short text report of an exception and returns its path, or an
    // empty string when it could not be written. Never throws.
    static std::string SaveMiniDump(EXCEPTION_POINTERS* pointers, unsigned dumpType, pid_t threadId,
                                    const EGeneric* exception = nullptr,
                                    const char* kind = nullptr);
    // The call stack ("module!symbol+0x.." joined with "\n-> ") of the calling
    // thread, or of the fault when pointers are given.
    static std::string BuildStack(EXCEPTION_POINTERS* pointers);

protected:
    values_type::iterator find_value(const std::string& name);
    values_type::const_iterator find_value(const std::string& name) const;
    void move_to_back(const std::string& name);
    void append(const value_pair& v) { m_values.push_back(v); }

    // Run at the end of the gathering constructors: the dump (when enabled) and,
    // when enabled, "ModuleName", "AddressName" and "Stack".
    void ExtendDebugInformation(CONTEXT* context = nullptr);
    void ExtendDebugInformation(EXCEPTION_POINTERS* pointers);

private:
    void extend(CONTEXT* context, EXCEPTION_POINTERS* pointers);

    values_type m_values;
};

// Library settings, exported so that a program may change them; the program keeps
// the defaults.
FERROX_API extern bool SaveMiniDumpOnCppException;          // true
FERROX_API extern bool SaveMiniDumpOnStructuredException;   // true
FERROX_API extern bool ExtendDebugInformationFromException; // false
FERROX_API extern bool UseVEH;                              // true
FERROX_API extern unsigned MiniDumpType;                    // 0
FERROX_API extern const char* MiniDumpFileFormat;           // "Dumps/%s_%s_%04hd_..._%03hd.txt"
FERROX_API extern std::string MiniDumpExcludedTypes; // "EThreadInterrupt;EStructuredException;C++"
FERROX_API extern std::string SkipModulesForError;   // modules skipped for the failing address

// Compares names ignoring case for the ASCII letters A-Z only.
FERROX_API bool value_name_equal(const std::string& a, const std::string& b) noexcept;

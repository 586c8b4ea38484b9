#pragma once

#include "ferrox/exceptions/EGeneric.h"
#include "ferrox/strings/Bstr.h"

#include <cstdint>
#include <typeinfo>

// A failed system call: "Code" (the errno value standing for the Win32 code),
// "Text" (the system's message, wide), then up to two extra pairs.
class FERROX_API ESystemException : public EGeneric
{
public:
    explicit ESystemException(int code);
    ESystemException(int code, const value_pair& extra1);
    ESystemException(int code, const value_pair& extra1, const value_pair& extra2);
};

// A failed C runtime call: "Code" (errno), the extra pairs, then "Text" (wide
// text of the error, left out when the runtime has none).
class FERROX_API ERuntimeException : public EGeneric
{
public:
    explicit ERuntimeException(int error);
    ERuntimeException(int error, const value_pair& extra1);
    ERuntimeException(int error, const value_pair& extra1, const value_pair& extra2);
};

// An error of an older system library: "Code", "Type", "Text".
class FERROX_API ELegacyException : public EGeneric
{
public:
    ELegacyException(const char* type, const char* text, int code);
};

using HRESULT = std::int32_t;

// Error information that comes with a failed component call.
class FERROX_API IErrorInfo
{
public:
    virtual ~IErrorInfo();
    virtual _bstr_t GetDescription() const = 0;
    virtual _bstr_t GetSource() const = 0;
    virtual void Release() = 0;
};

// A failed component call as a value: the HRESULT with optional description and
// source texts.
class FERROX_API _com_error
{
public:
    explicit _com_error(HRESULT hr, const _bstr_t& description = {}, const _bstr_t& source = {})
        : m_hr(hr), m_description(description), m_source(source)
    {}
    HRESULT Error() const { return m_hr; }
    const _bstr_t& Description() const { return m_description; }
    const _bstr_t& Source() const { return m_source; }

private:
    HRESULT m_hr;
    _bstr_t m_description;
    _bstr_t m_source;
};

// "Code" (the HRESULT), "HRESULT" (lower-case hex, 8 digits for negative codes),
// "Text" (only when the code has a known message), "Description" and "Source"
// (only when non-empty).
class FERROX_API EComException : public EGeneric
{
public:
    EComException(HRESULT hr, const IErrorInfo* info);
    EComException(HRESULT hr, const _bstr_t& description, const _bstr_t& source);
    explicit EComException(const _com_error& error);

private:
    void fill(HRESULT hr, const _bstr_t& description, const _bstr_t& source);
};

// "Text" = "Purecall".
class FERROX_API EPurecallException : public EGeneric
{
public:
    EPurecallException();
};

// "Text" = "Bad cast", "From", "To" [, "RealType"].
class FERROX_API EBadCastException : public EGeneric
{
public:
    EBadCastException(const std::type_info& from, const std::type_info& to);
    EBadCastException(const std::type_info& from, const std::type_info& to,
                      const std::type_info& real);
};

// "Text" = "Not implemented", "SourceFile", "SourceLine", "Function".
class FERROX_API ENotImplemented : public EGeneric
{
public:
    ENotImplemented(const char* sourceFile, int sourceLine, const char* function);
};
#define FERROX_NOT_IMPLEMENTED() throw ENotImplemented(__FILE__, __LINE__, __func__)

// Thrown into a thread to interrupt it; carries nothing and is never dumped.
class FERROX_API EThreadInterrupt : public EGeneric
{
public:
    EThreadInterrupt();
};

// Throws ESystemException for the calling thread's last error (errno), or for code.
[[noreturn]] FERROX_API void ThrowSystemException();
[[noreturn]] FERROX_API void ThrowSystemException(int code);

// Builds EComException(hr, info), releases info when given, and throws it.
[[noreturn]] FERROX_API void throw_EGeneric_from_com_error(HRESULT hr, IErrorInfo* info);

// Throws ELegacyException(type, text, code).
[[noreturn]] FERROX_API void OnSysLibExc(const char* type, const char* text, int code);

// The pure-call handler: throws EPurecallException. Install it with
// _set_purecall_handler; without a handler a pure call ends the process.
[[noreturn]] FERROX_API void _my_purecall_translator();
using purecall_handler = void (*)();
FERROX_API purecall_handler _set_purecall_handler(purecall_handler handler);

// "module!symbol+0xdisp", "module+0xoffset" or "module!0xaddress" for a code
// address; serialised by one process-wide lock.
FERROX_API std::string SymGetFullNameFromAddress(std::uintptr_t address);
FERROX_API std::string SymGetModuleFromAddress(std::uintptr_t address);
// The full names of the addresses joined with "\n-> ".
FERROX_API std::string SymGetStackTrace(const std::vector<void*>& frames);
// Name of a member function from its pointer (for task descriptions).
template <class M>
std::string SymGetFullNameFromMember(M member)
{
    static_assert(sizeof(M) >= sizeof(std::uintptr_t));
    std::uintptr_t words[sizeof(M) / sizeof(std::uintptr_t) + 1] = {};
    __builtin_memcpy(words, &member, sizeof(M));
    // Itanium ABI: an odd first word is a virtual-table offset, not an address.
    if (words[0] & 1u)
        return "virtual+" + std::to_string(words[0] - 1);
    return SymGetFullNameFromAddress(words[0]);
}

// The readable name of a type (demangled).
FERROX_API std::string type_display_name(const std::type_info& type);

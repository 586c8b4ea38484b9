#include "ferrox/exceptions/Exceptions.h"

#include "ferrox/strings/Strings.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// The system's message for an error number, or "" when it has none.
std::string system_message(int code)
{
    char buffer[1024];
    const char* text = strerror_r(code, buffer, sizeof(buffer));
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0)
        return std::string();
    std::string out(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// Messages of the generic component error codes; others have none.
const char* hresult_message(HRESULT hr)
{
    switch (static_cast<std::uint32_t>(hr)) {
    case 0x00000000u: return "The call succeeded";
    case 0x80004001u: return "The call is not implemented";
    case 0x80004002u: return "The interface is not supported";
    case 0x80004003u: return "A pointer is not valid";
    case 0x80004004u: return "The call was aborted";
    case 0x80004005u: return "The call failed for an unknown reason";
    case 0x8000FFFFu: return "An unexpected failure occurred";
    case 0x80070005u: return "Access is denied";
    case 0x80070006u: return "The handle is not valid";
    case 0x8007000Eu: return "There is not enough memory for the call";
    case 0x80070057u: return "An argument is not valid";
    default: return nullptr;
    }
}

std::atomic<purecall_handler> g_purecall{nullptr};

} // namespace

ESystemException::ESystemException(int code) : EGeneric(false)
{
    append({"Code", code});
    append({"Text", as_wstring(system_message(code))});
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

ESystemException::ESystemException(int code, const value_pair& extra1) : EGeneric(false)
{
    append({"Code", code});
    append({"Text", as_wstring(system_message(code))});
    append(extra1);
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

ESystemException::ESystemException(int code, const value_pair& extra1, const value_pair& extra2)
    : EGeneric(false)
{
    append({"Code", code});
    append({"Text", as_wstring(system_message(code))});
    append(extra1);
    append(extra2);
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

namespace {
void append_runtime_text(EGeneric& e, int error)
{
    std::string text = system_message(error);
    if (!text.empty())
        e.put_value("Text", as_wstring(text));
}
} // namespace

ERuntimeException::ERuntimeException(int error) : EGeneric(false)
{
    append({"Code", error});
    append_runtime_text(*this, error);
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

ERuntimeException::ERuntimeException(int error, const value_pair& extra1) : EGeneric(false)
{
    append({"Code", error});
    append(extra1);
    append_runtime_text(*this, error);
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

ERuntimeException::ERuntimeException(int error, const value_pair& extra1, const value_pair& extra2)
    : EGeneric(false)
{
    append({"Code", error});
    append(extra1);
    append(extra2);
    append_runtime_text(*this, error);
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

ELegacyException::ELegacyException(const char* type, const char* text, int code) : EGeneric(false)
{
    append({"Code", code});
    append({"Type", type ? type : ""});
    append({"Text", text ? text : ""});
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

IErrorInfo::~IErrorInfo() = default;

EComException::EComException(HRESULT hr, const IErrorInfo* info) : EGeneric(false)
{
    fill(hr, info ? info->GetDescription() : _bstr_t(), info ? info->GetSource() : _bstr_t());
}

EComException::EComException(HRESULT hr, const _bstr_t& description, const _bstr_t& source)
    : EGeneric(false)
{
    fill(hr, description, source);
}

EComException::EComException(const _com_error& error) : EGeneric(false)
{
    fill(error.Error(), error.Description(), error.Source());
}

void EComException::fill(HRESULT hr, const _bstr_t& description, const _bstr_t& source)
{
    append({"Code", static_cast<int>(hr)});
    append({"HRESULT", itoa(static_cast<int>(hr), 16)});
    if (const char* text = hresult_message(hr))
        append({"Text", as_wstring(text)});
    if (!description.empty())
        append({"Description", description});
    if (!source.empty())
        append({"Source", source});
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EPurecallException::EPurecallException() : EGeneric(false)
{
    append({"Text", "Purecall"});
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EBadCastException::EBadCastException(const std::type_info& from, const std::type_info& to)
    : EGeneric(false)
{
    append({"Text", "Bad cast"});
    append({"From", value_type_name(from)});
    append({"To", value_type_name(to)});
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EBadCastException::EBadCastException(const std::type_info& from, const std::type_info& to,
                                     const std::type_info& real)
    : EGeneric(false)
{
    append({"Text", "Bad cast"});
    append({"From", value_type_name(from)});
    append({"To", value_type_name(to)});
    append({"RealType", value_type_name(real)});
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

ENotImplemented::ENotImplemented(const char* sourceFile, int sourceLine, const char* function)
    : EGeneric(false)
{
    append({"Text", "Not implemented"});
    append({"SourceFile", sourceFile ? sourceFile : ""});
    append({"SourceLine", sourceLine});
    append({"Function", function ? function : ""});
    ExtendDebugInformation(static_cast<CONTEXT*>(nullptr));
}

EThreadInterrupt::EThreadInterrupt() : EGeneric(false) {}

void ThrowSystemException()
{
    throw ESystemException(errno);
}

void ThrowSystemException(int code)
{
    throw ESystemException(code);
}

void throw_EGeneric_from_com_error(HRESULT hr, IErrorInfo* info)
{
    EComException e(hr, info);
    if (info)
        info->Release();
    throw e;
}

void OnSysLibExc(const char* type, const char* text, int code)
{
    throw ELegacyException(type, text, code);
}

void _my_purecall_translator()
{
    throw EPurecallException();
}

purecall_handler _set_purecall_handler(purecall_handler handler)
{
    return g_purecall.exchange(handler);
}

// The C++ runtime calls this for a pure virtual call. Defined here, it takes the
// place of the runtime's own (libferrox comes before libstdc++ in the link), so an
// installed handler can turn the call into an exception; without one the process
// ends as it would have.
extern "C" FERROX_API void __cxa_pure_virtual()
{
    if (purecall_handler handler = g_purecall.load())
        handler();
    std::abort();
}

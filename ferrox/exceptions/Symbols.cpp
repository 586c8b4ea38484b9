#include "ferrox/exceptions/Exceptions.h"

#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <dlfcn.h>
#include <memory>
#include <mutex>

namespace {

// dladdr and the demangler are not documented as thread-safe together: every
// symbol look-up is serialised on one lock.
std::mutex& symbol_lock()
{
    static std::mutex lock;
    return lock;
}

std::string demangle(const char* name)
{
    if (name == nullptr)
        return std::string();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                               std::free);
    return status == 0 && out ? std::string(out.get()) : std::string(name);
}

// "/usr/lib/x86_64-linux-gnu/libstdc++.so.6" -> "libstdc++"; "/work/bin/app" -> "app".
std::string module_name(const char* path)
{
    if (path == nullptr || *path == 0)
        return std::string();
    std::string name(path);
    std::size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    std::size_t so = name.find(".so");
    if (so != std::string::npos)
        name.erase(so);
    return name;
}

std::string hex(std::uintptr_t value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "0x%lx", static_cast<unsigned long>(value));
    return buffer;
}

} // namespace

std::string type_display_name(const std::type_info& type)
{
    return demangle(type.name());
}

std::string SymGetModuleFromAddress(std::uintptr_t address)
{
    std::lock_guard<std::mutex> lock(symbol_lock());
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(address), &info) == 0)
        return std::string();
    return module_name(info.dli_fname);
}

std::string SymGetFullNameFromAddress(std::uintptr_t address)
{
    std::lock_guard<std::mutex> lock(symbol_lock());
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(address), &info) == 0 || info.dli_fname == nullptr)
        return hex(address);
    std::string name = module_name(info.dli_fname);
    if (info.dli_sname != nullptr && info.dli_saddr != nullptr) {
        name += "!";
        name += demangle(info.dli_sname);
        std::uintptr_t displacement = address - reinterpret_cast<std::uintptr_t>(info.dli_saddr);
        if (displacement != 0)
            name += "+" + hex(displacement);
    } else {
        name += "+" + hex(address - reinterpret_cast<std::uintptr_t>(info.dli_fbase));
    }
    // No source file and line information is read, so the name part stands alone
    // and is never shortened.
    return name;
}

std::string SymGetStackTrace(const std::vector<void*>& frames)
{
    std::string out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (i)
            out += "\n-> ";
        out += SymGetFullNameFromAddress(reinterpret_cast<std::uintptr_t>(frames[i]));
    }
    return out;
}

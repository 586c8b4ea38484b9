#include "ferrox/exceptions/MiniDump.h"
#include "ferrox/values/TimeUnits.h"

#include "ferrox/exceptions/EStructuredException.h"
#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/system/Paths.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <sys/time.h>
#include <unistd.h>

namespace ferrox::detail {

namespace {

thread_local bool t_reporting = false;

struct ReportGuard
{
    ReportGuard() { t_reporting = true; }
    ~ReportGuard() { t_reporting = false; }
};

std::uintptr_t context_ip(const CONTEXT* context)
{
#if defined(__x86_64__)
    return context ? static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RIP]) : 0;
#elif defined(__aarch64__)
    return context ? static_cast<std::uintptr_t>(context->uc_mcontext.pc) : 0;
#else
    (void)context;
    return 0;
#endif
}

bool module_skipped(const std::string& module)
{
    if (module.empty())
        return false;
    std::string bare = module.rfind("lib", 0) == 0 ? module.substr(3) : module;
    std::size_t start = 0;
    while (start <= SkipModulesForError.size()) {
        std::size_t end = SkipModulesForError.find(';', start);
        if (end == std::string::npos)
            end = SkipModulesForError.size();
        std::string entry = SkipModulesForError.substr(start, end - start);
        if (!entry.empty() && (value_name_equal(entry, module) || value_name_equal(entry, bare)))
            return true;
        start = end + 1;
    }
    return false;
}

void remove_chars(std::string& text, const char* chars)
{
    text.erase(std::remove_if(text.begin(), text.end(),
                              [&](char c) { return std::strchr(chars, c) != nullptr; }),
               text.end());
}

} // namespace

std::string exception_kind(const std::type_info& type)
{
    std::string name = type_display_name(type);
    if (name.rfind("class ", 0) == 0)
        name.erase(0, 6);
    if (name.rfind("std::", 0) == 0)
        name.erase(0, 5);
    return name.empty() ? std::string("C++") : name;
}

bool kind_excluded(const std::string& kind)
{
    return MiniDumpExcludedTypes.find(kind) != std::string::npos;
}

bool report_in_progress()
{
    return t_reporting;
}

std::vector<void*> capture_frames(const CONTEXT* context)
{
    void* raw[96];
    int n = ::backtrace(raw, 96);
    std::vector<void*> frames(raw, raw + std::max(n, 0));
    // Drop our own frames: from a fault, start at the faulting instruction; else
    // skip this function and the exception machinery that called it.
    std::size_t first = 0;
    if (std::uintptr_t ip = context_ip(context)) {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (reinterpret_cast<std::uintptr_t>(frames[i]) == ip) {
                first = i;
                break;
            }
        }
    } else {
        first = std::min<std::size_t>(frames.size(), 1);
    }
    frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(first));
    if (frames.size() > 64)
        frames.resize(64);
    return frames;
}

std::uintptr_t actual_error_address(const std::vector<void*>& frames, const CONTEXT* context)
{
    for (void* frame : frames) {
        auto address = reinterpret_cast<std::uintptr_t>(frame);
        if (!module_skipped(SymGetModuleFromAddress(address)))
            return address;
    }
    return context_ip(context);
}

std::string build_stack(EXCEPTION_POINTERS* pointers)
{
    return SymGetStackTrace(capture_frames(pointers ? pointers->ContextRecord : nullptr));
}

std::string write_report(EXCEPTION_POINTERS* pointers, unsigned dumpType, pid_t threadId,
                         const EGeneric* exception, const char* kind) noexcept
{
    if (t_reporting)
        return std::string();
    ReportGuard guard;
    try {
        std::vector<void*> frames = capture_frames(pointers ? pointers->ContextRecord : nullptr);

        // Module part: the exception's "ModuleName", else the module of the failing
        // address, else the program's own name.
        std::string module;
        if (exception) {
            _value_t m = exception->get_value("ModuleName");
            if (!m.empty())
                module = m.as_string();
        }
        if (module.empty())
            module = SymGetModuleFromAddress(
                actual_error_address(frames, pointers ? pointers->ContextRecord : nullptr));
        if (module.empty())
            module = program_invocation_short_name;

        // Kind part: the thrown type, or the structured exception's code.
        std::string kindText;
        if (pointers && pointers->ExceptionRecord) {
            char code[16];
            std::snprintf(code, sizeof(code), "%X", pointers->ExceptionRecord->ExceptionCode);
            kindText = code;
        } else {
            kindText = kind && *kind ? kind : "C++";
        }
        remove_chars(kindText, "<>:");
        remove_chars(module, "/");

        const local_time_ms_t now = local_time_now();
        const std::tm& local = now.tm;
        char relative[260];
        std::snprintf(relative, sizeof(relative), MiniDumpFileFormat, module.c_str(),
                      kindText.c_str(), static_cast<short>(local.tm_year + 1900),
                      static_cast<short>(local.tm_mon + 1), static_cast<short>(local.tm_mday),
                      static_cast<short>(local.tm_hour), static_cast<short>(local.tm_min),
                      static_cast<short>(local.tm_sec), static_cast<short>(now.milliseconds));
        std::string path = ferrox_state_path(relative);
        std::size_t slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0)
            ferrox_create_folders(path.substr(0, slash));

        FILE* file = std::fopen(path.c_str(), "w");
        if (file == nullptr)
            return std::string();
        std::fprintf(file, "Exception report of %s (pid %d)\n", program_invocation_name,
                     static_cast<int>(getpid()));
        std::fprintf(file, "Time: %04d-%02d-%02d %02d:%02d:%02d.%03d\n", local.tm_year + 1900,
                     local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                     now.milliseconds);
        std::fprintf(file, "Thread: %d\nKind: %s\nReport type: %u\n", static_cast<int>(threadId),
                     kindText.c_str(), dumpType);
        if (pointers && pointers->ExceptionRecord) {
            const EXCEPTION_RECORD* r = pointers->ExceptionRecord;
            std::fprintf(file, "Exception code: 0x%08X at %p\n", r->ExceptionCode,
                         r->ExceptionAddress);
            for (unsigned i = 0; i < r->NumberParameters && i < 15; ++i)
                std::fprintf(file, "Parameter%u: 0x%lx\n", i,
                             static_cast<unsigned long>(r->ExceptionInformation[i]));
        }
        if (exception)
            std::fprintf(file, "Values:\n%s\n", exception->what());
        std::fprintf(file, "Stack:\n%s\n", SymGetStackTrace(frames).c_str());
        bool ok = std::ferror(file) == 0;
        ok = std::fclose(file) == 0 && ok;
        return ok ? path : std::string();
    } catch (...) {
        return std::string();
    }
}

} // namespace ferrox::detail

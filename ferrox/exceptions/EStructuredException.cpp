#include "ferrox/exceptions/EStructuredException.h"

#include "ferrox/exceptions/Exceptions.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr unsigned kAccessViolation = 0xC0000005;
constexpr unsigned kStackOverflow = 0xC00000FD;

const char* code_name(unsigned code)
{
    switch (code) {
    case 0x80000002: return "Datatype Misalignment";
    case 0x80000003: return "Breakpoint";
    case 0x80000004: return "Debugger Exception";
    case 0xC0000006: return "Page Fault";
    case 0xC0000017: return "No Memory";
    case 0xC000001D: return "Illegal Instruction";
    case 0xC0000025: return "Noncontinuable Exception";
    case 0xC0000026: return "Invalid Disposition";
    case 0xC000008C: return "Array Bounds Exceeded";
    case 0xC000008D:
    case 0xC000008E:
    case 0xC000008F:
    case 0xC0000090:
    case 0xC0000091:
    case 0xC0000092:
    case 0xC0000093:
    case 0xC00002B4:
    case 0xC00002B5: return "FPU Error";
    case 0xC0000094: return "Divide by Zero";
    case 0xC0000095: return "Integer Overflow";
    case 0xC0000096: return "Privileged Instruction";
    case 0xC00000FD: return "Stack Overflow";
    default: return nullptr;
    }
}

// ---- per-thread state: translation switch, alternate stack, stack bounds ----

constexpr std::size_t kAltStackSize = 256 * 1024;

struct ThreadFaultState
{
    bool translate = false;
    bool inHandler = false;
    void* altStack = nullptr;
    std::uintptr_t stackLow = 0; // lowest usable address of the thread's stack
    std::uintptr_t guardSize = 0;

    ~ThreadFaultState()
    {
        if (altStack) {
            stack_t disable{};
            disable.ss_flags = SS_DISABLE;
            sigaltstack(&disable, nullptr);
            munmap(altStack, kAltStackSize);
        }
    }
};

thread_local ThreadFaultState t_fault;

struct sigaction g_previous[NSIG];
std::once_flag g_installOnce;

void fault_handler(int sig, siginfo_t* info, void* raw);

void install_process_handlers()
{
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        struct sigaction action
        {};
        action.sa_sigaction = fault_handler;
        // NODEFER: the handler leaves by throwing, so the signal must not stay
        // blocked; ONSTACK: a stack overflow can only be handled on another stack.
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, &g_previous[sig]);
    }
}

void prepare_thread()
{
    std::call_once(g_installOnce, install_process_handlers);
    if (t_fault.altStack == nullptr) {
        void* stack = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (stack != MAP_FAILED) {
            stack_t ss{};
            ss.ss_sp = stack;
            ss.ss_size = kAltStackSize;
            if (sigaltstack(&ss, nullptr) == 0)
                t_fault.altStack = stack;
            else
                munmap(stack, kAltStackSize);
        }
    }
    if (t_fault.stackLow == 0) {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* low = nullptr;
            std::size_t size = 0;
            std::size_t guard = 0;
            if (pthread_attr_getstack(&attr, &low, &size) == 0)
                t_fault.stackLow = reinterpret_cast<std::uintptr_t>(low);
            if (pthread_attr_getguardsize(&attr, &guard) == 0)
                t_fault.guardSize = guard;
            pthread_attr_destroy(&attr);
        }
    }
}

// Hands a fault that is not ours to whatever handled it before, or to the default
// action (returning re-executes the faulting instruction under that action).
void chain(int sig, siginfo_t* info, void* raw)
{
    const struct sigaction& previous = g_previous[sig];
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction) {
            previous.sa_sigaction(sig, info, raw);
            return;
        }
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(sig);
        return;
    }
    signal(sig, SIG_DFL);
    if (info->si_code <= 0) // sent, not a fault: nothing re-executes
        raise(sig);
}

unsigned code_for(int sig, const siginfo_t* info)
{
    switch (sig) {
    case SIGSEGV: return kAccessViolation;
    case SIGBUS: return info->si_code == BUS_ADRALN ? 0x80000002u : 0xC0000006u;
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTDIV: return 0xC0000094;
        case FPE_INTOVF: return 0xC0000095;
        case FPE_FLTDIV: return 0xC000008E;
        case FPE_FLTOVF: return 0xC0000091;
        case FPE_FLTUND: return 0xC0000093;
        case FPE_FLTRES: return 0xC000008F;
        case FPE_FLTINV: return 0xC0000090;
        case FPE_FLTSUB: return 0xC000008C;
        default: return 0xC0000090;
        }
    case SIGILL:
        return (info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG) ? 0xC0000096u
                                                                            : 0xC000001Du;
    default: return 0;
    }
}

bool is_stack_overflow(const siginfo_t* info)
{
    if (t_fault.stackLow == 0)
        return false;
    auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t below = t_fault.guardSize + 64 * page;
    return address + below >= t_fault.stackLow && address < t_fault.stackLow + page;
}

bool fault_is_write(const void* raw)
{
#if defined(__x86_64__)
    const auto* context = static_cast<const ucontext_t*>(raw);
    return (context->uc_mcontext.gregs[REG_ERR] & 2) != 0;
#else
    (void)raw;
    return false;
#endif
}

void* fault_ip(const void* raw, [[maybe_unused]] const siginfo_t* info)
{
#if defined(__x86_64__)
    return reinterpret_cast<void*>(static_cast<const ucontext_t*>(raw)->uc_mcontext.gregs[REG_RIP]);
#else
    return info->si_addr;
#endif
}

struct HandlerScope
{
    HandlerScope() { t_fault.inHandler = true; }
    ~HandlerScope() { t_fault.inHandler = false; }
};

void fault_handler(int sig, siginfo_t* info, void* raw)
{
    if (!t_fault.translate || t_fault.inHandler || info->si_code <= 0) {
        chain(sig, info, raw);
        return;
    }
    HandlerScope scope;
    EXCEPTION_RECORD record;
    record.ExceptionCode = code_for(sig, info);
    record.ExceptionAddress = fault_ip(raw, info);
    if (sig == SIGSEGV || sig == SIGBUS) {
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = fault_is_write(raw) ? 1 : 0;
        record.ExceptionInformation[1] = reinterpret_cast<std::uintptr_t>(info->si_addr);
    }
    EXCEPTION_POINTERS pointers{&record, static_cast<CONTEXT*>(raw)};
    if (sig == SIGSEGV && is_stack_overflow(info)) {
        record.ExceptionCode = kStackOverflow;
        EStackOverflowException::Throw(&pointers, current_thread_id());
    }
    throw EStructuredException(record.ExceptionCode, &pointers, current_thread_id());
}

} // namespace

pid_t current_thread_id()
{
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

bool structured_exceptions_redirected()
{
    return t_fault.translate;
}

EStructuredException::EStructuredException(unsigned code, EXCEPTION_POINTERS* pointers, pid_t)
    : EGeneric(false)
{
    fill(code, pointers);
}

void EStructuredException::fill(unsigned code, EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers ? pointers->ExceptionRecord : nullptr;
    if (code == kAccessViolation && record && record->NumberParameters >= 2) {
        char text[96];
        std::snprintf(text, sizeof(text), "Access Violation (%s 0x%lx)",
                      record->ExceptionInformation[0] ? "write to" : "read from",
                      static_cast<unsigned long>(record->ExceptionInformation[1]));
        append({"Text", text});
    } else if (code == kAccessViolation) {
        append({"Text", "Access Violation"});
    } else if (const char* name = code_name(code)) {
        append({"Text", name});
    }
    append({"Code", static_cast<int>(code)});
    // Addresses are 64-bit here: they are kept whole as signed 64-bit values.
    append({"Address", static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(
                           record ? record->ExceptionAddress : nullptr))});
    if (record) {
        for (unsigned i = 0; i < record->NumberParameters && i < 15; ++i)
            append({std::string("Parameter") + static_cast<char>('0' + i),
                    static_cast<std::int64_t>(record->ExceptionInformation[i])});
    }
    ExtendDebugInformation(pointers);
    move_to_back("Stack");
}

EStackOverflowException::EStackOverflowException(EXCEPTION_POINTERS* pointers, pid_t)
    : EStructuredException(false)
{
    fill(kStackOverflow, pointers);
}

void EStackOverflowException::Throw(EXCEPTION_POINTERS* pointers, pid_t threadId)
{
    // We run on the alternate signal stack, which has room to build the exception.
    throw EStackOverflowException(pointers, threadId);
}

redirect_structured_exceptions::redirect_structured_exceptions()
{
    prepare_thread();
    t_fault.translate = true;
}

temporary_redirect_structured_exceptions::temporary_redirect_structured_exceptions()
    : m_previous(t_fault.translate)
{
    prepare_thread();
    t_fault.translate = true;
}

temporary_redirect_structured_exceptions::~temporary_redirect_structured_exceptions()
{
    t_fault.translate = m_previous;
}

#pragma once

#include "ferrox/exceptions/EGeneric.h"

// A fault signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL) translated on a thread that
// asked for it: "Text" (the code's name, when known), "Code", "Address", one
// "Parameter<i>" per record parameter, then diagnostic values; "Stack" is last.
class FERROX_API EStructuredException : public EGeneric
{
public:
    EStructuredException(unsigned code, EXCEPTION_POINTERS* pointers, pid_t threadId);

protected:
    explicit EStructuredException(bool gather) : EGeneric(gather) {}
    void fill(unsigned code, EXCEPTION_POINTERS* pointers);
};

// The translation of a stack overflow (code 0xC00000FD). The fault is handled on
// the thread's alternate signal stack, so the exception can be built there.
class FERROX_API EStackOverflowException : public EStructuredException
{
public:
    EStackOverflowException(EXCEPTION_POINTERS* pointers, pid_t threadId);
    [[noreturn]] static void Throw(EXCEPTION_POINTERS* pointers, pid_t threadId);
    // The guard page of a thread stack stays in place after an overflow; there is
    // nothing to restore, so this always succeeds.
    static bool ResetStack() { return true; }
};

// Constructing one makes fault signals on the calling thread arrive as
// EStructuredException (installs the process handlers on first use and an
// alternate signal stack for this thread). Code that may fault must be built with
// -fnon-call-exceptions.
class FERROX_API redirect_structured_exceptions
{
public:
    redirect_structured_exceptions();
};

// The same for the lifetime of the object; the thread's previous state is
// restored afterwards.
class FERROX_API temporary_redirect_structured_exceptions
{
public:
    temporary_redirect_structured_exceptions();
    ~temporary_redirect_structured_exceptions();
    temporary_redirect_structured_exceptions(const temporary_redirect_structured_exceptions&) =
        delete;
    temporary_redirect_structured_exceptions&
    operator=(const temporary_redirect_structured_exceptions&) = delete;

private:
    bool m_previous;
};

// Whether the calling thread currently translates fault signals.
FERROX_API bool structured_exceptions_redirected();
// The calling thread's kernel thread id.
FERROX_API pid_t current_thread_id();

#pragma once

// A recursive mutex that clang's thread-safety analysis knows as a lock
// (ThreadChecks.h): members it guards say KANALIKO_GUARDED_BY, operations that
// must not hold it KANALIKO_EXCLUDES. A thread that holds it may take it again.
// Take it with CRecursiveMutex::Lock, the annotated scoped guard.

#include "loop/ThreadChecks.h"

#include <mutex>

namespace loop {

class KANALIKO_CAPABILITY("mutex") CRecursiveMutex final
{
public:
    CRecursiveMutex() = default;
    CRecursiveMutex(const CRecursiveMutex&) = delete;
    CRecursiveMutex& operator=(const CRecursiveMutex&) = delete;

    void lock() KANALIKO_ACQUIRE() { m_mutex.lock(); }
    void unlock() KANALIKO_RELEASE() { m_mutex.unlock(); }

    // Held from construction to the end of the scope.
    class KANALIKO_SCOPED_CAPABILITY Lock final
    {
    public:
        explicit Lock(CRecursiveMutex& mutex) KANALIKO_ACQUIRE(mutex) : m_mutex(mutex)
        {
            m_mutex.lock();
        }
        ~Lock() KANALIKO_RELEASE() { m_mutex.unlock(); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        CRecursiveMutex& m_mutex;
    };

private:
    std::recursive_mutex m_mutex;
};

} // namespace loop

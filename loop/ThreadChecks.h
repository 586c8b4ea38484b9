#pragma once

// Thread contracts that tools check, so that a header's "GUI thread only" or
// "under the client lock" is more than a comment.
//
// At run time: AssertGuiThread(operation) stops the program, naming the
// operation and the thread, when an operation reserved for the GUI thread is
// called on another one. It is active in debug builds and wherever
// _GLIBCXX_ASSERTIONS is defined (every build but Release: the CI's
// RelWithDebInfo tests run it); in Release it is empty. Its cost is one look
// at the calling thread, so it belongs at the entry of an operation, not in a
// loop.
//
// At compile time: the KANALIKO_* lock annotations below are clang's
// thread-safety attributes (-Wthread-safety; ./scripts/thread-safety runs the
// check with clang over the annotated sources). g++ does not know them: there
// they expand to nothing. Mutexes of the standard library carry no
// annotations, so annotated code uses loop::CRecursiveMutex (CRecursiveMutex.h).

#if !defined(NDEBUG) || defined(_GLIBCXX_ASSERTIONS)
#define KANALIKO_THREAD_CHECKS 1
#else
#define KANALIKO_THREAD_CHECKS 0
#endif

#if defined(__clang__)
#define KANALIKO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KANALIKO_THREAD_ANNOTATION(x)
#endif

#define KANALIKO_CAPABILITY(name) KANALIKO_THREAD_ANNOTATION(capability(name))
#define KANALIKO_SCOPED_CAPABILITY KANALIKO_THREAD_ANNOTATION(scoped_lockable)
#define KANALIKO_GUARDED_BY(lock) KANALIKO_THREAD_ANNOTATION(guarded_by(lock))
#define KANALIKO_REQUIRES(...) KANALIKO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define KANALIKO_EXCLUDES(...) KANALIKO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define KANALIKO_ACQUIRE(...) KANALIKO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define KANALIKO_RELEASE(...) KANALIKO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define KANALIKO_RETURN_CAPABILITY(lock) KANALIKO_THREAD_ANNOTATION(lock_returned(lock))

namespace loop {

namespace detail {
// The calling thread is the QCoreApplication's, or there is no application yet
// (an object tested on its own, with no event loop and no other GUI thread).
bool IsGuiThreadOrNoApplication();
[[noreturn]] void GuiThreadContractBroken(const char* operation);
} // namespace detail

// Stops the program when called off the GUI thread (see above).
inline void AssertGuiThread([[maybe_unused]] const char* operation)
{
#if KANALIKO_THREAD_CHECKS
    if (!detail::IsGuiThreadOrNoApplication())
        detail::GuiThreadContractBroken(operation);
#endif
}

} // namespace loop

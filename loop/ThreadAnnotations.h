#pragma once

// Qt hands posted events from the posting thread to the GUI thread under locks
// that ThreadSanitizer cannot see (futexes inside the uninstrumented Qt
// library), so it would take the event's contents, written by one thread and
// read by the other, for a data race. These calls state that hand-over to
// ThreadSanitizer; in every other build they are empty. Internal to loop/.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace loop::detail {

#if defined(__SANITIZE_THREAD__)
inline char g_postedEventHandOver;
#endif

// Just before an event is posted to an object of another thread.
inline void AnnotateBeforePost()
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(&g_postedEventHandOver);
#endif
}

// On the receiving thread, before a posted event is looked at.
inline void AnnotateAfterDelivery()
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(&g_postedEventHandOver);
#endif
}

} // namespace loop::detail

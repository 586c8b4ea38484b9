#pragma once

// A per-thread object that stays usable while the thread (or, at exit, the main
// thread) runs its thread-local destructors: once the thread's own copy is gone,
// Get() returns nullptr instead of a destroyed object. Destructors of static
// objects (the system pool's shutdown, for one) run after the main thread's
// thread-locals are destroyed and must not touch them.
template <class T, class Tag>
class TThreadLocal
{
public:
    static T* Get()
    {
        if (s_object)
            return s_object;
        if (s_gone)
            return nullptr;
        s_owner.touch(); // registers the owner's destructor for this thread
        s_object = new T();
        return s_object;
    }

private:
    struct Owner
    {
        void touch() {}
        ~Owner()
        {
            delete s_object;
            s_object = nullptr;
            s_gone = true;
        }
    };
    static thread_local T* s_object;
    static thread_local bool s_gone;
    static thread_local Owner s_owner;
};

template <class T, class Tag>
thread_local T* TThreadLocal<T, Tag>::s_object = nullptr;
template <class T, class Tag>
thread_local bool TThreadLocal<T, Tag>::s_gone = false;
template <class T, class Tag>
thread_local typename TThreadLocal<T, Tag>::Owner TThreadLocal<T, Tag>::s_owner;

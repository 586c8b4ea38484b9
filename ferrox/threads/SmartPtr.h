#pragma once

#include "ferrox/FerroxApi.h"

#include <atomic>
#include <string>
#include <type_traits>
#include <utility>

// The common virtual base of every shared object. The count starts at 0; each
// SmartPtr that refers to the object adds one, and the release that brings it
// back to 0 deletes the object through its virtual destructor, on whatever
// thread that happens. Objects must therefore live on the heap.
class FERROX_API SmartPtrObj
{
public:
    SmartPtrObj() = default;
    // A copy is a new object: it does not inherit the original's references.
    SmartPtrObj(const SmartPtrObj&) noexcept {}
    SmartPtrObj& operator=(const SmartPtrObj&) noexcept { return *this; }
    virtual ~SmartPtrObj();

    // The dynamic type name, " {0x", the address in hexadecimal and "}".
    virtual std::string GetDescription() const;

    void AddRef() const noexcept { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void Release() const noexcept
    {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
    long RefCount() const noexcept { return m_refs.load(std::memory_order_relaxed); }

private:
    mutable std::atomic<long> m_refs{0};
};

// An intrusive reference-counted pointer. A null SmartPtr is valid everywhere and
// means "no object". Releasing swaps the stored pointer for null with an atomic
// exchange before the count is dropped; assignment takes the new reference before
// it drops the old one, so assigning a pointer to itself is safe.
template <class T>
class SmartPtr
{
public:
    using element_type = T;

    SmartPtr() noexcept = default;
    SmartPtr(std::nullptr_t) noexcept {}
    SmartPtr(T* object) noexcept : m_ptr(object) { acquire(object); }
    SmartPtr(const SmartPtr& other) noexcept : m_ptr(other.get()) { acquire(m_ptr.load()); }
    SmartPtr(SmartPtr&& other) noexcept : m_ptr(other.m_ptr.exchange(nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    SmartPtr(const SmartPtr<U>& other) noexcept : m_ptr(other.get())
    {
        acquire(m_ptr.load());
    }
    ~SmartPtr() { reset(); }

    SmartPtr& operator=(const SmartPtr& other) noexcept { return assign(other.get()); }
    SmartPtr& operator=(SmartPtr&& other) noexcept
    {
        if (this != &other) {
            T* old = m_ptr.exchange(other.m_ptr.exchange(nullptr));
            release(old);
        }
        return *this;
    }
    SmartPtr& operator=(T* object) noexcept { return assign(object); }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    SmartPtr& operator=(const SmartPtr<U>& other) noexcept
    {
        return assign(other.get());
    }

    void reset() noexcept { release(m_ptr.exchange(nullptr)); }
    T* get() const noexcept { return m_ptr.load(std::memory_order_acquire); }
    T* operator->() const noexcept { return get(); }
    T& operator*() const noexcept { return *get(); }
    explicit operator bool() const noexcept { return get() != nullptr; }
    bool operator!() const noexcept { return get() == nullptr; }

    template <class U>
    bool operator==(const SmartPtr<U>& other) const noexcept
    {
        return get() == other.get();
    }
    bool operator==(std::nullptr_t) const noexcept { return get() == nullptr; }

    // A SmartPtr of another type to the same object, or null when the object is
    // not of that type.
    template <class U>
    SmartPtr<U> cast() const noexcept
    {
        return SmartPtr<U>(dynamic_cast<U*>(get()));
    }

private:
    SmartPtr& assign(T* object) noexcept
    {
        acquire(object);
        release(m_ptr.exchange(object));
        return *this;
    }
    static void acquire(T* object) noexcept
    {
        if (object)
            static_cast<const SmartPtrObj*>(object)->AddRef();
    }
    static void release(T* object) noexcept
    {
        if (object)
            static_cast<const SmartPtrObj*>(object)->Release();
    }

    std::atomic<T*> m_ptr{nullptr};
};

#include "ferrox/threads/ThreadSpawner.h"

#include <atomic>
#include <unistd.h>

namespace {

std::atomic<TThreadSpawner*> g_spawner{nullptr};
std::mutex g_creation;

} // namespace

TThreadSpawner& TThreadSpawner::Instance()
{
    TThreadSpawner* spawner = g_spawner.load(std::memory_order_acquire);
    if (spawner != nullptr && spawner->m_process == ::getpid())
        return *spawner;
    std::lock_guard<std::mutex> lock(g_creation);
    spawner = g_spawner.load(std::memory_order_acquire);
    // A forked child has the parent's object but not its thread: it makes its
    // own (the parent's stays allocated, as it does in the parent).
    if (spawner == nullptr || spawner->m_process != ::getpid()) {
        spawner = new TThreadSpawner;
        g_spawner.store(spawner, std::memory_order_release);
    }
    return *spawner;
}

TThreadSpawner::TThreadSpawner() : m_process(::getpid())
{
    try {
        std::thread(&TThreadSpawner::Loop, this).detach();
        m_running = true;
    } catch (const std::system_error&) {
        // Spawn then starts threads itself, as if there were no spawner.
    }
}

std::thread TThreadSpawner::Spawn(std::function<void()> body)
{
    if (!m_running)
        return std::thread(std::move(body));
    Request request{std::move(body), {}};
    std::future<std::thread> started = request.started.get_future();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_requests.push_back(&request);
    }
    m_requested.notify_one();
    return started.get(); // rethrows what std::thread threw on the spawner
}

void TThreadSpawner::Loop()
{
    for (;;) {
        std::function<void()> body;
        std::promise<std::thread> started;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_requested.wait(lock, [this] { return !m_requests.empty(); });
            // Moved out while the requester still waits: its request (on its
            // stack) is never touched once the answer is given.
            body = std::move(m_requests.front()->body);
            started = std::move(m_requests.front()->started);
            m_requests.pop_front();
        }
        try {
            started.set_value(std::thread(std::move(body)));
        } catch (...) {
            started.set_exception(std::current_exception());
        }
    }
}

#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <sys/types.h>
#include <thread>

// Starts threads from a thread of its own that never changes its priority.
//
// A new Linux thread inherits the nice value of the thread that creates it, and
// a process without CAP_SYS_NICE cannot lower a nice value again (RLIMIT_NICE
// is 0 by default). Pool workers are often started by a task that runs below
// normal priority (a client's probe queues the next step), or by a worker that
// leaves because it could not return to normal priority: started there, the
// new worker would keep that priority for good. Started here, every worker
// begins at the priority the spawner was born with, that of the thread that
// created the first pool: the process's normal priority.
//
// Threads: Spawn from any thread; it blocks until the thread exists. The
// spawner's own thread lives until the process ends. After a fork the child
// gets a spawner of its own on first use. Internal to the library.
class TThreadSpawner
{
public:
    // The process's spawner, created on first use.
    static TThreadSpawner& Instance();

    // Starts `body` on a new thread created by the spawner's thread. Throws
    // std::system_error as std::thread does when no thread can be made.
    std::thread Spawn(std::function<void()> body);

    TThreadSpawner(const TThreadSpawner&) = delete;
    TThreadSpawner& operator=(const TThreadSpawner&) = delete;

private:
    TThreadSpawner();
    ~TThreadSpawner() = delete; // lives until the process ends
    void Loop();

    struct Request
    {
        std::function<void()> body;
        std::promise<std::thread> started;
    };

    const pid_t m_process;
    std::mutex m_lock;
    std::condition_variable m_requested;
    std::deque<Request*> m_requests;
    bool m_running = false; // false: the spawner's own thread could not be made
};

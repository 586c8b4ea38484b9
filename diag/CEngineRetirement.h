#pragma once

// Where a stopped echo or route engine goes to end its life without holding
// up the GUI thread.
//
// An engine's destructor waits until every worker has returned, and a worker
// may be inside an echo call (up to its time-out) or a reverse name look-up
// (up to the resolver's time-outs, seconds). The screens stop an engine at
// once and hand it here when the next run replaces it: a pool task destroys it
// there. Before handing it over the owner drops the engine's windows (and its
// own pointers to it), so nothing the old engine still does reaches the panes
// of the new run.
//
// Threads: Retire, Pending and WaitForAll on the owner's thread (the GUI
// thread); the destruction itself runs on a worker of the system pool.

#include "ferrox/threads/ThreadTask.h"

#include <functional>
#include <memory>
#include <vector>

namespace diag {

class CEngineRetirement final
{
public:
    CEngineRetirement() = default;
    // Waits for every engine handed over (the end of the program).
    ~CEngineRetirement() { WaitForAll(-1); }
    CEngineRetirement(const CEngineRetirement&) = delete;
    CEngineRetirement& operator=(const CEngineRetirement&) = delete;

    // Takes the engine over and returns at once; a pool task deletes it.
    template <class Engine>
    void Retire(std::unique_ptr<Engine> engine)
    {
        if (!engine)
            return;
        // Moved all the way: no reference may stay behind on this thread.
        std::shared_ptr<Engine> owned(std::move(engine));
        Queue([owned = std::move(owned)]() mutable { owned.reset(); });
    }

    // Engines handed over and not yet destroyed.
    int Pending();
    // Waits until every engine handed over has been destroyed, at most ms
    // (-1: without limit); true when none is left.
    bool WaitForAll(int ms);

private:
    void Queue(std::function<void()> destroy);

    std::vector<SmartPtr<TThreadTask>> m_tasks;
};

} // namespace diag

#include "diag/CEngineRetirement.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/threads/ThreadPool.h"

#include <algorithm>
#include <chrono>

namespace diag {

namespace {

// A pool task that runs one function: here, the last release of an engine.
class CDestroyTask final : public TThreadTask
{
public:
    explicit CDestroyTask(std::function<void()> destroy) : m_destroy(std::move(destroy)) {}
    void Run(SmartPtr<IThreadContext> context) override
    {
        RunBody(context, [this] {
            m_destroy();
            m_destroy = nullptr;
        });
    }
    std::string GetDescription() const override { return "diag::CEngineRetirement"; }
    // When the pool takes no task: the engine goes on the calling thread.
    void DestroyHere() { m_destroy = nullptr; }

private:
    std::function<void()> m_destroy;
};

} // namespace

void CEngineRetirement::Queue(std::function<void()> destroy)
{
    // Finished tasks are forgotten here, so the list stays as short as the
    // number of engines still on their way out.
    std::erase_if(m_tasks, [](const SmartPtr<TThreadTask>& task) { return task->WaitForEnd(0); });
    // The function moves into the task: the engine's last reference must be
    // the one the pool worker drops, never a copy left on this thread.
    auto* destroyTask = new CDestroyTask(std::move(destroy));
    SmartPtr<TThreadTask> task(destroyTask);
    try {
        GetSystemThreadPool()->AddTask(task);
    } catch (const EGeneric& e) {
        // No room in the pool: the engine is destroyed here, late but safely.
        if (Error.GetEnabled())
            TDebugStreamSession(Error) << "CEngineRetirement: " << e.what() << "\n";
        destroyTask->DestroyHere();
        return;
    }
    m_tasks.push_back(task);
}

int CEngineRetirement::Pending()
{
    return static_cast<int>(std::count_if(
        m_tasks.begin(), m_tasks.end(),
        [](const SmartPtr<TThreadTask>& task) { return !task->WaitForEnd(0); }));
}

bool CEngineRetirement::WaitForAll(int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (auto& task : m_tasks) {
        int left = -1;
        if (ms >= 0) {
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            left = static_cast<int>(std::max<std::int64_t>(rest.count(), 0));
        }
        if (!task->WaitForEnd(left))
            return false;
    }
    m_tasks.clear();
    return true;
}

} // namespace diag

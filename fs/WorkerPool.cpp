#include "fs/WorkerPool.h"

#include "win/TavException.h"

#include <algorithm>
#include <utility>

namespace
{
// How many tasks a worker that waits for a join may run on top of each other on its stack.
constexpr unsigned kMaxNesting = 8;
}  // namespace

CWorkerPool::CWorkerPool(unsigned workers)
{
    const unsigned threads = workers > 1 ? workers - 1 : 0;
    try
    {
        m_waiting.reserve(threads + 1);
        m_workers.reserve(threads);
        m_threads.reserve(threads);
        for (unsigned i = 0; i < threads; ++i)
        {
            m_workers.push_back(std::make_unique<CPoolWorker>());
            CPoolWorker& self = *m_workers.back();
            m_threads.push_back(std::make_unique<CThread>([this, &self] { serve(self); }));
        }
    }
    catch (const CTavException&)
    {
        // No more threads to be had: the workers that have one do the work.
        m_workers.resize(m_threads.size());
    }
    catch (...)
    {
        stop();
        throw;
    }
    // Ready when every thread waits for work: the first entries can go to them already.
    CLock::CScope lock(m_lock);
    while (m_waiting.size() < m_threads.size())
    {
        m_changed.wait(m_lock);
    }
}

CWorkerPool::~CWorkerPool()
{
    stop();
}

void CWorkerPool::stop()
{
    {
        CLock::CScope lock(m_lock);
        m_stopping = true;
        m_changed.wakeAll();
    }
    // Each holder waits for its thread.
    m_threads.clear();
}

void CWorkerPool::offer(CPoolWorker& self)
{
    if (!self.m_offered)
    {
        self.m_offered = true;
        m_waiting.push_back(&self);
        ++m_waitingCount;
    }
}

void CWorkerPool::withdraw(CPoolWorker& self)
{
    if (self.m_offered)
    {
        self.m_offered = false;
        m_waiting.erase(std::find(m_waiting.begin(), m_waiting.end(), &self));
        --m_waitingCount;
    }
}

bool CWorkerPool::handOff(CPoolTask& task)
{
    CLock::CScope lock(m_lock);
    if (m_waiting.empty())
    {
        return false;
    }
    // The least nested worker first: a joiner's stack grows with every task it takes.
    CPoolWorker& worker =
        **std::min_element(m_waiting.begin(), m_waiting.end(),
                           [](const CPoolWorker* a, const CPoolWorker* b) { return a->m_nesting < b->m_nesting; });
    withdraw(worker);
    worker.m_handed = &task;
    m_changed.wakeAll();
    return true;
}

void CWorkerPool::runHanded(CPoolWorker& self)
{
    CPoolTask& task = *std::exchange(self.m_handed, nullptr);
    ++self.m_nesting;
    {
        CLock::CUnlocked unlocked(m_lock);
        try
        {
            task.run(self);
        }
        catch (...)
        {
            task.m_error = std::current_exception();
        }
    }
    --self.m_nesting;
    // The owner may destroy the task as soon as it sees it finished.
    task.m_finished.store(true, std::memory_order_release);
    m_changed.wakeAll();
}

void CWorkerPool::serve(CPoolWorker& self)
{
    CLock::CScope lock(m_lock);
    for (;;)
    {
        if (self.m_handed != nullptr)
        {
            runHanded(self);
        }
        else if (m_stopping)
        {
            withdraw(self);
            return;
        }
        else
        {
            if (!self.m_offered)
            {
                offer(self);
                m_changed.wakeAll();
            }
            m_changed.wait(m_lock);
        }
    }
}

void CWorkerPool::join(CPoolWorker& self, CPoolTask& task)
{
    {
        CLock::CScope lock(m_lock);
        // Work handed to self before the task finished is still to be done.
        while (!task.finished() || self.m_handed != nullptr)
        {
            if (self.m_handed != nullptr)
            {
                runHanded(self);
                continue;
            }
            if (self.m_nesting < kMaxNesting)
            {
                offer(self);
            }
            m_changed.wait(m_lock);
        }
        withdraw(self);
    }
    task.rethrow();
}

void CWorkerPool::waitFor(CPoolTask& task)
{
    CLock::CScope lock(m_lock);
    while (!task.finished())
    {
        m_changed.wait(m_lock);
    }
}

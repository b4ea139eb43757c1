#pragma once

#include "win/Lock.h"
#include "win/Thread.h"

#include <atomic>
#include <exception>
#include <memory>
#include <vector>

class CPoolWorker;

// A piece of work that one worker hands to another. Whoever handed it off owns it and joins it
// before it goes.
class CPoolTask
{
public:
    virtual ~CPoolTask() = default;
    // True once run() has returned on the worker that took it.
    bool finished() const { return m_finished.load(std::memory_order_acquire); }
    // True when something left run(); rethrow() throws it again.
    bool failed() const { return m_error != nullptr; }
    // Rethrows what left run(), if anything did.
    void rethrow() const
    {
        if (m_error)
        {
            std::rethrow_exception(m_error);
        }
    }

protected:
    // self: the worker running it, for the work this task hands off and joins in turn.
    virtual void run(CPoolWorker& self) = 0;

private:
    friend class CWorkerPool;
    std::atomic<bool> m_finished{false};
    std::exception_ptr m_error;
};

// One worker of the pool: the thread that created the pool or one of the pool's threads.
class CPoolWorker
{
private:
    friend class CWorkerPool;
    CPoolTask* m_handed = nullptr;
    unsigned m_nesting = 0;
    bool m_offered = false;
};

// A few threads that take work from each other, fork and join: a worker hands a task only to a
// worker that waits for one, and otherwise does the work itself, so no task ever waits in a queue
// and the tasks under way never outnumber the workers (times the nesting below). A worker that
// joins a task another worker runs takes work handed to it meanwhile, up to a few tasks deep on its
// stack. Every task waits only for tasks that started after it, so the joins cannot close a circle.
//
// The pool starts no thread for one worker. Threads that cannot be started leave fewer workers.
class CWorkerPool
{
public:
    // workers counts the thread that creates the pool, which becomes caller().
    explicit CWorkerPool(unsigned workers);
    // Ends the pool's threads and waits for them. Every task handed off must have been joined.
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    CPoolWorker& caller() { return m_caller; }
    // True while some worker waits for work (a hint: it may have found some by the time it is asked).
    bool anyWaiting() const { return m_waitingCount.load(std::memory_order_relaxed) != 0; }
    // How many workers wait for work (a hint, as above).
    unsigned waitingCount() const { return m_waitingCount.load(std::memory_order_relaxed); }
    // Hands the task to a worker that waits for work; false when none does.
    bool handOff(CPoolTask& task);
    // Waits until the task has run, taking work handed to self meanwhile; then rethrows what the
    // task threw.
    void join(CPoolWorker& self, CPoolTask& task);
    // Waits until the task has run, taking no work: for tasks left behind while an exception
    // passes.
    void waitFor(CPoolTask& task);

private:
    void stop();
    void serve(CPoolWorker& self);
    // Runs the task handed to self; called and returns with the lock held.
    void runHanded(CPoolWorker& self);
    void offer(CPoolWorker& self);
    void withdraw(CPoolWorker& self);

    CLock m_lock;
    CCondition m_changed;
    bool m_stopping = false;
    // The workers that wait for work; room for all of them is kept, so offering never allocates.
    std::vector<CPoolWorker*> m_waiting;
    std::atomic<unsigned> m_waitingCount{0};
    CPoolWorker m_caller;
    // Destroyed after the threads that serve them.
    std::vector<std::unique_ptr<CPoolWorker>> m_workers;
    std::vector<std::unique_ptr<CThread>> m_threads;
};

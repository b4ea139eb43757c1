#pragma once

#include <cstdint>

// The time a run gives the holders of entries in use to let go before they are moved aside:
// about three seconds for the whole run, waited in steps that double from 50 ms. Shared by all
// entries, so a tree with many files held for good costs the wait once, not once per file; a
// holder that is only passing (a scanner, an indexer) is usually done within the first steps.
class CInUseRetry
{
public:
    explicit CInUseRetry(std::uint32_t budgetMs = 3000) : m_leftMs(budgetMs) {}

    // One entry's retries: each wait() sleeps the entry's next step, as far as the run's time
    // lasts, and is false (without sleeping) once it is spent.
    class CEntry
    {
    public:
        explicit CEntry(CInUseRetry& run) : m_run(run) {}
        bool wait();

    private:
        CInUseRetry& m_run;
        std::uint32_t m_stepMs = 50;
    };

private:
    std::uint32_t m_leftMs;
};

#include "fs/FolderFailures.h"

CFolderFailures::~CFolderFailures()
{
    for (const CPart& part : m_parts)
    {
        m_pool->waitFor(*part.task);
    }
}

bool CFolderFailures::handOff(CWorkerPool& pool, std::unique_ptr<CPartTask> part)
{
    settleFinished();
    // Its place is made first: once handed off, the part must not be lost to a failed allocation.
    m_parts.push_back(CPart{std::move(part), {}});
    if (!pool.handOff(*m_parts.back().task))
    {
        m_parts.pop_back();
        return false;
    }
    m_pool = &pool;
    return true;
}

void CFolderFailures::settleFinished()
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_parts.size(); ++i)
    {
        CPart& part = m_parts[i];
        if (part.task->finished() && !part.task->failed())
        {
            CFailureList& before = kept == 0 ? m_settled : m_parts[kept - 1].after;
            before.add(part.task->failures);
            before.add(part.after);
        }
        else
        {
            if (kept != i)
            {
                m_parts[kept] = std::move(part);
            }
            ++kept;
        }
    }
    m_parts.erase(m_parts.begin() + static_cast<std::ptrdiff_t>(kept), m_parts.end());
}

void CFolderFailures::joinParts(CPoolWorker* self)
{
    while (!m_parts.empty())
    {
        CPart& part = m_parts.front();
        m_pool->join(*self, *part.task);
        m_settled.add(part.task->failures);
        m_settled.add(part.after);
        m_parts.erase(m_parts.begin());
    }
}

#pragma once

#include "fs/FailureList.h"
#include "fs/WorkerPool.h"

#include <memory>
#include <vector>

// A part of a folder's entries that another worker of the walk takes, with the failures it
// collects for them: the lines the folder itself would have collected.
class CPartTask : public CPoolTask
{
public:
    CFailureList failures;
};

// The failures inside one folder in the order of its listing, while parts of its entries are with
// other workers: a part keeps its place, and the failures after it wait behind it.
class CFolderFailures
{
public:
    CFolderFailures() = default;
    CFolderFailures(CFolderFailures&&) = default;
    CFolderFailures& operator=(CFolderFailures&&) = delete;
    // An exception passing leaves parts under way: they use the folder's handle, so they are
    // waited for.
    ~CFolderFailures();

    void add(const CTavException& error) { tail().add(error); }
    // The failures of an inner folder, each on its own line (a dry walk's list does not nest).
    void add(const CFailureList& inner) { tail().add(inner); }
    // Hands the part to a waiting worker; false (and the part dropped) when none took it.
    bool handOff(CWorkerPool& pool, std::unique_ptr<CPartTask> part);
    // Joins every part, in order; each one's failures take its place.
    void joinParts(CPoolWorker* self);
    // All failures; complete once the parts are joined.
    const CFailureList& all() const { return m_settled; }
    CFailureList takeAll() { return std::move(m_settled); }

private:
    struct CPart
    {
        std::unique_ptr<CPartTask> task;
        CFailureList after;
    };

    CFailureList& tail() { return m_parts.empty() ? m_settled : m_parts.back().after; }
    // Takes in the parts that are done, so that only parts under way keep a place.
    void settleFinished();

    CFailureList m_settled;
    std::vector<CPart> m_parts;
    CWorkerPool* m_pool = nullptr;
};

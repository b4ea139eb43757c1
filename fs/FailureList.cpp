#include "fs/FailureList.h"

std::wstring CFailureList::text() const
{
    std::wstring list;
    for (const CRecord& record : m_records)
    {
        list += record.text();
        list += L'\n';
    }
    return list;
}

CTavException CFailureList::error() const
{
    return CTavException(m_records.empty() ? 0 : m_records.back().code, text());
}

void CFailureList::throwIfAny() const
{
    if (any())
    {
        throw error();
    }
}

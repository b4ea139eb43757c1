#include "fs/DirectoryIterator.h"

#include "win/FileCalls.h"

#include <cwchar>

CDirectoryIterator::CDirectoryIterator(const CFilePath& folder, const std::wstring& pattern) : m_folder(folder)
{
    m_search = WinAPI::findFirstFile(CFilePath::combine(m_folder, pattern), m_data);
    accept();
}

void CDirectoryIterator::accept()
{
    while (m_search.isValid())
    {
        if (std::wcscmp(m_data.cFileName, L".") != 0 && std::wcscmp(m_data.cFileName, L"..") != 0)
        {
            m_current = CFilePath::combine(m_folder, m_data.cFileName);
            return;
        }
        step();
    }
}

void CDirectoryIterator::step()
{
    if (!WinAPI::tryFindNextFile(m_search, m_data))
    {
        reset();
    }
}

void CDirectoryIterator::advance()
{
    step();
    accept();
}

void CDirectoryIterator::reset()
{
    m_search.reset();
    m_current.clear();
}

#pragma once

#include "win/TavException.h"

#include <cstdint>
#include <string>
#include <vector>

// The failures collected inside one folder, in the order of its listing. Each record is a failed
// operation as its exception names it ("WinAPI::deleteFile(C:\x\a.txt) failed.") with its error
// code. A folder that fails because of failures inside it is one record of its parent's list, and
// its message is its own list's text: so lists nest, each level of folders adding " Error message:
// " and the text of its last code, exactly as the log shows them.
class CFailureList
{
public:
    struct CRecord
    {
        std::wstring message;
        std::uint32_t code = 0;

        // The message, " Error message: " and the system's text for the code.
        std::wstring text() const { return CTavException(code, message).fullText(); }
    };

    void add(const CTavException& error) { m_records.push_back({error.message, error.errorCode}); }
    // The failures of later entries, after these.
    void add(const CFailureList& later)
    {
        m_records.insert(m_records.end(), later.m_records.begin(), later.m_records.end());
    }

    bool any() const { return !m_records.empty(); }
    const std::vector<CRecord>& records() const { return m_records; }
    // Every record's text, each followed by a line feed.
    std::wstring text() const;
    // All failures as one exception: the list's text, with the code of the last one.
    CTavException error() const;
    void throwIfAny() const;

private:
    std::vector<CRecord> m_records;
};

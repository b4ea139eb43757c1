#pragma once

#include "config/TraceConfig.h"

#include <map>
#include <string>

// Names compare case-insensitively for A-Z only; other characters compare exactly.
struct CaseInsensitiveLess
{
    bool operator()(const std::wstring& left, const std::wstring& right) const;
};

// The process command line as options: arguments that start with '-' or '/', a name, then '='
// or (when there is no '=') ':' and a value. Other arguments are ignored. A later occurrence of
// a name replaces the value; the first spelling of the name is kept.
class CCommandLine
{
public:
    explicit CCommandLine(const std::wstring& commandLine);

    // The value of the option, or null when it is absent. An option given without value has
    // the empty text.
    const wchar_t* getOption(const std::wstring& name) const;

    const std::wstring& text() const { return m_text; }
    // The log's own options, /log and /logmode.
    CLogOptions logOptions() const;

private:
    std::wstring m_text;
    std::map<std::wstring, std::wstring, CaseInsensitiveLess> m_options;
};

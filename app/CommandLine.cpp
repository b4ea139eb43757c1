#include "app/CommandLine.h"

#include "win/SystemCalls.h"

#include <algorithm>
#include <cstdint>

namespace
{
wchar_t foldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool isQuotedBy(const std::wstring& value, wchar_t quote)
{
    return value.size() > 2 && value.front() == quote && value.back() == quote;
}
}  // namespace

bool CaseInsensitiveLess::operator()(const std::wstring& left, const std::wstring& right) const
{
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i)
    {
        const auto l = static_cast<std::uint16_t>(foldAscii(left[i]));
        const auto r = static_cast<std::uint16_t>(foldAscii(right[i]));
        if (l != r)
        {
            return l < r;
        }
    }
    return left.size() < right.size();
}

CCommandLine::CCommandLine(const std::wstring& commandLine) : m_text(commandLine)
{
    for (const std::wstring& argument : WinAPI::commandLineToArgv(m_text))
    {
        if (argument.empty() || (argument[0] != L'-' && argument[0] != L'/'))
        {
            continue;
        }
        const std::wstring body = argument.substr(1);
        std::size_t separator = body.find(L'=');
        if (separator == std::wstring::npos)
        {
            separator = body.find(L':');
        }
        std::wstring name = body.substr(0, separator);
        std::wstring value = separator == std::wstring::npos ? std::wstring() : body.substr(separator + 1);
        if (isQuotedBy(value, L'"') || isQuotedBy(value, L'\''))
        {
            value = value.substr(1, value.size() - 2);
        }
        m_options[name] = value;
    }
}

const wchar_t* CCommandLine::getOption(const std::wstring& name) const
{
    const auto found = m_options.find(name);
    return found == m_options.end() ? nullptr : found->second.c_str();
}

CLogOptions CCommandLine::logOptions() const
{
    CLogOptions options;
    options.log = getOption(L"log") != nullptr;
    if (const wchar_t* mode = getOption(L"logmode"))
    {
        options.logmode = mode;
    }
    return options;
}

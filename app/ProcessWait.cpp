#include "app/ProcessWait.h"

#include "app/DriverLog.h"
#include "win/ProcessCalls.h"
#include "win/TavException.h"

#include <windows.h>

namespace
{
// The decimal process id, or nothing when the text is anything else (blanks, signs, a "0x" lead-in
// and values beyond 32 bits included).
std::optional<std::uint32_t> processIdOf(const std::wstring& text)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
    {
        return std::nullopt;
    }
    const std::uint64_t id = std::stoull(text);
    if (id > 0xFFFFFFFFu)
    {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(id);
}

void refuse(const std::wstring& value, const std::wstring& reason)
{
    App::driverLine(kSeverityError, L"Refusing /WaitOnProcess \"", value, L"\": ", reason, L".");
}
}  // namespace

std::optional<CProcessWait> CProcessWait::open(const std::wstring& value)
{
    const std::optional<std::uint32_t> id = processIdOf(value);
    if (!id)
    {
        refuse(value, L"a process id is a decimal number");
        return std::nullopt;
    }
    if (*id == ::GetCurrentProcessId())
    {
        refuse(value, L"it is this process itself, which would wait forever");
        return std::nullopt;
    }
    try
    {
        CUniqueHandle process = WinAPI::openProcessToWait(*id);
        // Named while the handle holds the id, so the list cannot show another process of that id.
        std::wstring imageName = process.isValid() ? WinAPI::getProcessImageName(*id) : std::wstring();
        return CProcessWait(*id, std::move(process), std::move(imageName));
    }
    catch (const CTavException& error)
    {
        refuse(value, error.fullText());
        return std::nullopt;
    }
}

void CProcessWait::wait() const
{
    if (!m_process.isValid())
    {
        App::driverLine(kSeverityWarning, L"Process ", m_id, L" does not exist (any more): nothing to wait for");
        return;
    }
    App::driverLine(kSeverityInfo, L"Waiting for process ", m_id, L" (",
                    m_imageName.empty() ? std::wstring(L"ended already") : m_imageName, L")");
    WinAPI::waitForever(m_process.get(), L"process " + std::to_wstring(m_id));
    App::driverLine(kSeverityInfo, L"Finished waiting");
}

#include "fs/RestartList.h"

#include "win/RegistryCalls.h"
#include "win/RestartCalls.h"
#include "win/TavException.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace
{
using Bytes = std::vector<std::uint8_t>;
using Pair = CRestartList::Pair;

const std::wstring kValuePath = std::wstring(WinAPI::kSessionManagerKey) + L"\\" + WinAPI::kPendingOperationsValue;

// The pairs of a pending-operations value, or nothing when it is no list of whole pairs.
std::optional<std::vector<Pair>> pairsOf(const std::optional<RegValue>& value)
{
    std::vector<Pair> pairs;
    if (!value)
    {
        return pairs;
    }
    const Bytes& data = value->data;
    if (value->type != REG_MULTI_SZ || data.size() % 2 != 0)
    {
        return std::nullopt;
    }
    std::wstring units(data.size() / 2, L'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
    {
        units[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    if (units.size() <= 1 && (units.empty() || units[0] == L'\0'))
    {
        return pairs;
    }
    // The last string's zero unit, then the list's.
    if (units.size() < 2 || units.back() != L'\0' || units[units.size() - 2] != L'\0')
    {
        return std::nullopt;
    }
    units.pop_back();
    std::vector<std::wstring> strings;
    for (std::size_t start = 0; start < units.size();)
    {
        const std::size_t end = units.find(L'\0', start);
        strings.push_back(units.substr(start, end - start));
        start = end + 1;
    }
    if (strings.size() % 2 != 0)
    {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < strings.size(); i += 2)
    {
        if (strings[i].empty())
        {
            return std::nullopt;
        }
        pairs.emplace_back(std::move(strings[i]), std::move(strings[i + 1]));
    }
    return pairs;
}

void appendString(Bytes& data, const std::wstring& text)
{
    for (const wchar_t unit : text)
    {
        data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        data.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
    }
    data.insert(data.end(), {0, 0});
}

// The value's data for the pairs: each string with its zero unit, then the list's.
Bytes dataOf(const std::vector<Pair>& pairs)
{
    Bytes data;
    for (const Pair& pair : pairs)
    {
        appendString(data, pair.first);
        appendString(data, pair.second);
    }
    data.insert(data.end(), {0, 0});
    return data;
}

bool sameValue(const std::optional<RegValue>& a, const std::optional<RegValue>& b)
{
    return a.has_value() == b.has_value() && (!a || (a->type == b->type && a->data == b->data));
}

// True when the value holds the data written, alone or followed by whole pairs another program
// added after it.
bool holds(const std::optional<RegValue>& value, const Bytes& written)
{
    if (!value || value->type != REG_MULTI_SZ || value->data.size() < written.size())
    {
        return false;
    }
    if (value->data.size() == written.size())
    {
        return value->data == written;
    }
    // Written without the list's last unit: its own pairs end there.
    return std::equal(written.begin(), written.end() - 2, value->data.begin()) && pairsOf(value).has_value();
}

std::wstring namesText(const std::vector<std::wstring>& names)
{
    std::wstring text;
    for (const std::wstring& name : names)
    {
        text += (text.empty() ? L"" : L", ") + name;
    }
    return text;
}
}  // namespace

CRestartList CRestartList::read()
{
    CRestartList list;
    list.m_key = WinAPI::regOpenKeyEx(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, KEY_QUERY_VALUE | KEY_SET_VALUE);
    list.m_value = WinAPI::regQueryValueIfPresent(list.m_key.get(), WinAPI::kPendingOperationsValue);
    list.m_second = WinAPI::regQueryValueIfPresent(list.m_key.get(), WinAPI::kPendingOperations2Value);
    std::optional<std::vector<Pair>> pairs = pairsOf(list.m_value);
    if (!pairs)
    {
        throw CTavException(ERROR_INVALID_DATA, L"The pending operations " + kValuePath + L" (type " +
                                                    std::to_wstring(list.m_value->type) + L", " +
                                                    std::to_wstring(list.m_value->data.size()) +
                                                    L" bytes) are no list of name pairs: nothing is added to them.");
    }
    list.m_pairs = std::move(*pairs);
    return list;
}

std::optional<std::size_t> CRestartList::lastDeletion(const std::wstring& restartName) const
{
    for (std::size_t i = m_pairs.size(); i-- > 0;)
    {
        if (m_pairs[i].first == restartName && m_pairs[i].second.empty())
        {
            return i;
        }
    }
    return std::nullopt;
}

bool CRestartList::tryWrite(const std::vector<std::wstring>& dropped, const std::vector<std::wstring>& added) const
{
    std::vector<Pair> pairs;
    for (const Pair& pair : m_pairs)
    {
        if (!pair.second.empty() || std::find(dropped.begin(), dropped.end(), pair.first) == dropped.end())
        {
            pairs.push_back(pair);
        }
    }
    for (const std::wstring& name : added)
    {
        pairs.emplace_back(name, L"");
    }
    const Bytes written = dataOf(pairs);
    HKEY key = m_key.get();
    // Another program that wrote since the read would lose its entries to this write.
    if (!sameValue(WinAPI::regQueryValueIfPresent(key, WinAPI::kPendingOperationsValue), m_value))
    {
        return false;
    }
    WinAPI::regSetValueEx(key, WinAPI::kPendingOperationsValue, REG_MULTI_SZ, written);

    const std::optional<RegValue> value = WinAPI::regQueryValueIfPresent(key, WinAPI::kPendingOperationsValue);
    if (holds(value, written) &&
        sameValue(WinAPI::regQueryValueIfPresent(key, WinAPI::kPendingOperations2Value), m_second))
    {
        return true;
    }
    if (value && value->type == REG_MULTI_SZ && value->data == written)
    {
        if (m_value)
        {
            WinAPI::regSetValueEx(key, WinAPI::kPendingOperationsValue, m_value->type, m_value->data);
        }
        else
        {
            WinAPI::regDeleteValue(key, WinAPI::kPendingOperationsValue);
        }
    }
    return false;
}

void CRestartList::update(const std::vector<std::wstring>& dropped, const std::vector<std::wstring>& added)
{
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt)
    {
        if (read().tryWrite(dropped, added))
        {
            return;
        }
    }
    const std::wstring change =
        added.empty() ? L"no longer delete " + namesText(dropped) : L"delete " + namesText(added);
    throw CTavException(ERROR_BUSY, L"The pending operations " + kValuePath +
                                        L" (or the second value) changed each time they were written: not confirmed "
                                        L"that they " +
                                        change + L".");
}

std::wstring restartName(const CFilePath& path)
{
    // A verbatim path ("\\?\C:\x") is the Win32 form of "\??\C:\x" already.
    const bool verbatim = path.compare(0, 4, L"\\\\?\\") == 0;
    return L"\\??\\" + (verbatim ? path.substr(4) : std::wstring(path));
}

// /DeferInUse end to end under Wine: entries in use are moved aside on drive Q: (a folder of the
// build tree) and added to the restart's pending operations, which every test puts back as it
// found them. The program runs alone (it changes the Session Manager key and plays a restart).
#include "fs/InUseDeferral.h"
#include "support/TestSupport.h"
#include "win/RestartCalls.h"
#include "win/SystemCalls.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <optional>
#include <thread>

using namespace std::literals;

namespace
{
const std::wstring kFolder = std::wstring(L"Q:\\") + CInUseDeferral::kFolderName;
const std::wstring kMovedPrefix = L"In use, deleted at the next restart: ";

// The strings of a REG_MULTI_SZ value, empty ones included (a deletion is a name and "").
std::vector<std::wstring> readPending()
{
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, WinAPI::kPendingOperationsValue,
                       RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
    {
        return {};
    }
    std::wstring data(size / sizeof(wchar_t), L'\0');
    ::RegGetValueW(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, WinAPI::kPendingOperationsValue, RRF_RT_REG_MULTI_SZ,
                   nullptr, data.data(), &size);
    data.resize(size / sizeof(wchar_t));
    if (data.size() >= 2 && data.back() == L'\0' && data[data.size() - 2] == L'\0')
    {
        data.pop_back();  // the list's own terminator
    }
    std::vector<std::wstring> strings;
    for (std::size_t start = 0, end; (end = data.find(L'\0', start)) != std::wstring::npos; start = end + 1)
    {
        strings.push_back(data.substr(start, end - start));
    }
    return strings;
}

// A registry value as stored: its type and exact bytes, or absent.
struct CStoredValue
{
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const CStoredValue&) const = default;
};

void PrintTo(const CStoredValue& value, std::ostream* out)
{
    if (!value.present)
    {
        *out << "absent";
        return;
    }
    *out << "type " << value.type << ":";
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2)
    {
        const wchar_t unit = static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
        *out << (unit == L'\0' ? std::string("|") : test::narrow(std::wstring(1, unit)));
    }
    *out << " (" << value.data.size() << " bytes)";
}

CStoredValue multiString(const std::wstring& units, DWORD type = REG_MULTI_SZ)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(units.data());
    return {true, type, std::vector<BYTE>(bytes, bytes + units.size() * sizeof(wchar_t))};
}

CStoredValue readStored()
{
    // RegQueryValueExW returns the bytes as stored (RegGetValueW would mend missing terminators).
    CStoredValue value;
    HKEY key = nullptr;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, 0, KEY_QUERY_VALUE, &key);
    DWORD size = 0;
    if (::RegQueryValueExW(key, WinAPI::kPendingOperationsValue, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS)
    {
        value.data.resize(size);
        value.present = ::RegQueryValueExW(key, WinAPI::kPendingOperationsValue, nullptr, &value.type,
                                           value.data.data(), &size) == ERROR_SUCCESS;
        value.data.resize(size);
    }
    ::RegCloseKey(key);
    return value;
}

void writeStored(const CStoredValue& value)
{
    HKEY key = nullptr;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, 0, KEY_SET_VALUE, &key);
    if (value.present)
    {
        ::RegSetValueExW(key, WinAPI::kPendingOperationsValue, 0, value.type, value.data.data(),
                         static_cast<DWORD>(value.data.size()));
    }
    else
    {
        ::RegDeleteValueW(key, WinAPI::kPendingOperationsValue);
    }
    ::RegCloseKey(key);
}

// The pending operations as they were before the test, put back byte for byte at its end; the
// test starts with the given value.
class CPendingOperations
{
public:
    explicit CPendingOperations(const CStoredValue& start = {}) : m_saved(readStored())
    {
        writeStored(start);
        m_start = readPending();
    }
    ~CPendingOperations() { writeStored(m_saved); }
    CPendingOperations(const CPendingOperations&) = delete;
    CPendingOperations& operator=(const CPendingOperations&) = delete;

    // What was added since the start of the test.
    std::vector<std::wstring> added() const
    {
        std::vector<std::wstring> now = readPending();
        EXPECT_TRUE(now.size() >= m_start.size() && std::equal(m_start.begin(), m_start.end(), now.begin()));
        return std::vector<std::wstring>(now.begin() + static_cast<std::ptrdiff_t>(m_start.size()), now.end());
    }

private:
    CStoredValue m_saved;
    std::vector<std::wstring> m_start;
};

// A folder on Q: for the test, with the shared folder of moved entries removed before and after.
class CQTarget
{
public:
    CQTarget() : m_path(L"Q:\\" + test::uniqueName(L"target"))
    {
        clear();
        test::makeFolder(m_path);
    }
    ~CQTarget() { clear(); }
    CQTarget(const CQTarget&) = delete;
    CQTarget& operator=(const CQTarget&) = delete;
    const CFilePath& path() const { return m_path; }
    CFilePath operator/(const std::wstring& name) const { return CFilePath::combine(m_path, name); }

private:
    void clear() const
    {
        test::removeTree(m_path);
        test::removeTree(kFolder);
    }
    CFilePath m_path;
};

CFilePath library()
{
    return test::buildFolder() / L"infolib\\MxQorTavUt.dll";
}

test::CRunResult runDeferring(const CFilePath& target)
{
    test::CTempDir dir;
    return test::runTidewell(dir.path(), test::uniqueName(L"tw"), L"/Path:" + target + L" /Wait:0 /DeferInUse");
}

// The (old, new) names of the entries the run moved aside, from its log.
std::vector<std::pair<std::wstring, std::wstring>> movedEntries(const test::CRunResult& run)
{
    std::vector<std::pair<std::wstring, std::wstring>> moved;
    for (const std::wstring& line : run.eventLines())
    {
        const std::wstring text = test::lineText(line);
        if (text.starts_with(kMovedPrefix))
        {
            EXPECT_EQ(test::lineSeverity(line), L'W');
            const std::size_t cut = text.find(L" moved to ");
            moved.emplace_back(text.substr(kMovedPrefix.size(), cut - kMovedPrefix.size()), text.substr(cut + 10));
        }
    }
    return moved;
}
}  // namespace

TEST(DeferInUse, LoadedLibrariesWaitForTheRestartAndTheFolderGoes)
{
    // Entries of other programs (one in the form current Windows writes) stay as they are.
    CPendingOperations pending(multiString(L"*1\\??\\Q:\\other.tmp\0\0\\??\\Q:\\a.tmp\0!\\??\\Q:\\b.tmp\0\0"s));
    CQTarget target;
    test::makeFolder(target / L"sub");
    ASSERT_TRUE(::CopyFileW(library().c_str(), (target / L"ext.dll").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(library().c_str(), (target / L"sub\\ext2.dll").c_str(), FALSE));
    test::writeTextFile(target / L"free.txt");
    // The restart would leave a read-only file.
    ASSERT_TRUE(::SetFileAttributesW((target / L"ext.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    test::CChildHolder first(L"load", target / L"ext.dll");
    test::CChildHolder second(L"load", target / L"sub\\ext2.dll");

    const test::CRunResult run = runDeferring(target.path());
    EXPECT_EQ(run.exitCode, 3010u);
    EXPECT_FALSE(test::exists(target.path()));
    const auto moved = movedEntries(run);
    ASSERT_EQ(moved.size(), 2u);
    std::vector<std::wstring> expected;
    for (const auto& [from, to] : moved)
    {
        EXPECT_TRUE(from == target / L"ext.dll" || from == target / L"sub\\ext2.dll") << test::narrow(from);
        EXPECT_EQ(CFilePath(to).parent(), kFolder);
        EXPECT_EQ(::GetFileAttributesW(to.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY), 0u);
        expected.insert(expected.end(), {L"\\??\\" + to, L""});
    }
    expected.insert(expected.end(), {L"\\??\\" + kFolder, L""});
    EXPECT_EQ(pending.added(), expected);
    constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(::GetFileAttributesW(kFolder.c_str()) & kHiddenSystem, kHiddenSystem);
    const std::vector<std::wstring> texts = run.texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], L"Entries deleted at the next restart: 2, in " + kFolder);
    EXPECT_EQ(texts.back(), L"Tidewell return value: 3010");
}

TEST(DeferInUse, HoldersThatCannotBeMovedAsideOrLetGoInTime)
{
    struct Case
    {
        const wchar_t* holder;
        DWORD releaseAfterMs;  // 0: holds until the run has ended
        std::uint32_t exitCode;
    };
    // Held without delete sharing: neither deleted nor renamed. Let go within the retry: deleted.
    for (const Case& c : {Case{L"hold", 0, 1}, Case{L"hold", 500, 0}, Case{L"load", 500, 0}})
    {
        SCOPED_TRACE(test::narrow(c.holder) + " " + std::to_string(c.releaseAfterMs));
        CPendingOperations pending;
        CQTarget target;
        ASSERT_TRUE(::CopyFileW(library().c_str(), (target / L"held.dll").c_str(), FALSE));
        test::CChildHolder holder(c.holder, target / L"held.dll");
        std::thread release;
        if (c.releaseAfterMs != 0)
        {
            release = std::thread([&] {
                ::Sleep(c.releaseAfterMs);
                holder.release();
            });
        }
        const test::CRunResult run = runDeferring(target.path());
        if (release.joinable())
        {
            release.join();
        }
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(test::exists(target.path()), c.exitCode != 0);
        EXPECT_TRUE(movedEntries(run).empty());
        EXPECT_TRUE(pending.added().empty());
        EXPECT_FALSE(test::exists(kFolder)) << "nothing to move, no folder";
    }
}

TEST(DeferInUse, EntriesNeverMovedAside)
{
    // Each case leaves one file in use in the target, which stays there: the program's own file, a
    // file with a second name outside the target, and a shared folder made beforehand that leads
    // elsewhere (a Unix link Wine shows as a plain folder) or belongs to someone else (the Unix
    // user nobody, which Wine shows as S-1-5-7); what the folder holds stays too.
    enum class EWhy
    {
        ownFile,
        secondName,
        folderIsLink,
        folderOfOther
    };
    for (const EWhy why : {EWhy::ownFile, EWhy::secondName, EWhy::folderIsLink, EWhy::folderOfOther})
    {
        SCOPED_TRACE(static_cast<int>(why));
        CPendingOperations pending;
        CQTarget target;
        CQTarget elsewhere;
        const std::wstring name = test::uniqueName(L"tw");
        test::CTempDir runFolder;
        const bool ownFile = why == EWhy::ownFile;
        const CFilePath held = ownFile ? target / (name + L".exe") : target / L"ext.dll";
        std::optional<test::CChildHolder> holder;
        if (!ownFile)
        {
            ASSERT_TRUE(::CopyFileW(library().c_str(), held.c_str(), FALSE));
            holder.emplace(L"load", held);
        }
        const CFilePath kept = kFolder + L"\\kept.txt";
        if (why == EWhy::secondName)
        {
            ASSERT_TRUE(::CreateHardLinkW((elsewhere / L"ext.dll").c_str(), held.c_str(), nullptr));
        }
        else if (why == EWhy::folderIsLink)
        {
            test::writeTextFile(elsewhere / L"kept.txt");
            test::startUnixProgram(L"/bin/ln -s \"" + test::unixPath(elsewhere.path()) + L"\" \"" +
                                   test::unixPath(kFolder) + L"\"");
        }
        else if (why == EWhy::folderOfOther)
        {
            test::makeFolder(kFolder);
            test::startUnixProgram(L"/bin/sh -c \"chown nobody '" + test::unixPath(kFolder) + L"' && touch '" +
                                   test::unixPath(kept) + L"'\"");
        }
        const bool folderMade = why == EWhy::folderIsLink || why == EWhy::folderOfOther;
        ASSERT_TRUE(!folderMade || test::waitUntil([&] { return test::exists(kept); }));

        const test::CRunResult run = test::runTidewell(ownFile ? target.path() : runFolder.path(), name,
                                                       L"/Path:" + target.path() + L" /Wait:0 /DeferInUse");
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_TRUE(test::exists(held));
        EXPECT_TRUE(movedEntries(run).empty());
        EXPECT_TRUE(pending.added().empty());
        EXPECT_EQ(test::exists(kFolder), folderMade);
        EXPECT_EQ(test::exists(kept), folderMade);
        const std::vector<std::wstring> texts = run.texts();
        EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                                [](const std::wstring& text) {
                                    return text.starts_with(L"Entries in use cannot wait for the next restart: ") &&
                                           text.find(kFolder) != std::wstring::npos;
                                }),
                  folderMade ? 1 : 0);
        if (why == EWhy::folderIsLink)
        {
            test::startUnixProgram(L"/bin/rm \"" + test::unixPath(kFolder) + L"\"");
            EXPECT_TRUE(test::waitUntil([&] { return !test::exists(kFolder); }));
        }
    }
}

namespace
{
// The Session Manager key refuses KEY_SET_VALUE to everyone for the life of the object, the way a
// process without administrator rights meets it (Wine grants the key to every process otherwise).
class CSchedulingDenied
{
public:
    CSchedulingDenied()
    {
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, 0, READ_CONTROL | WRITE_DAC, &m_key);
        DWORD size = 0;
        ::RegGetKeySecurity(m_key, DACL_SECURITY_INFORMATION, nullptr, &size);
        m_saved.resize(size);
        EXPECT_EQ(::RegGetKeySecurity(m_key, DACL_SECURITY_INFORMATION, m_saved.data(), &size), ERROR_SUCCESS);
        PSECURITY_DESCRIPTOR denied = nullptr;
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x2;;;WD)(A;CIIO;GR;;;BU)(A;;KA;;;BA)",
                                                               SDDL_REVISION_1, &denied, nullptr);
        EXPECT_EQ(::RegSetKeySecurity(m_key, DACL_SECURITY_INFORMATION, denied), ERROR_SUCCESS);
        ::LocalFree(denied);
    }
    ~CSchedulingDenied()
    {
        ::RegSetKeySecurity(m_key, DACL_SECURITY_INFORMATION, m_saved.data());
        ::RegCloseKey(m_key);
    }
    CSchedulingDenied(const CSchedulingDenied&) = delete;
    CSchedulingDenied& operator=(const CSchedulingDenied&) = delete;

private:
    HKEY m_key = nullptr;
    std::vector<BYTE> m_saved;
};
}  // namespace

TEST(DeferInUse, WithoutTheRightsNothingMovesAndTheReportStays)
{
    CPendingOperations pending;
    CQTarget target;
    ASSERT_TRUE(::CopyFileW(library().c_str(), (target / L"ext.dll").c_str(), FALSE));
    test::CChildHolder holder(L"load", target / L"ext.dll");
    test::CTempDir dir;
    const test::CRunResult plain =
        test::runTidewell(dir.path(), test::uniqueName(L"tw"), L"/Path:" + target.path() + L" /Wait:0");
    test::CRunResult deferring;
    {
        CSchedulingDenied denied;
        deferring = runDeferring(target.path());
    }
    EXPECT_EQ(plain.exitCode, 1u);
    EXPECT_EQ(deferring.exitCode, 1u);
    EXPECT_TRUE(test::exists(target / L"ext.dll"));
    EXPECT_FALSE(test::exists(kFolder));
    EXPECT_TRUE(pending.added().empty());
    std::vector<std::wstring> texts = deferring.texts();
    const auto why = std::find_if(texts.begin(), texts.end(), [](const std::wstring& text) {
        return text.starts_with(
            L"Entries in use cannot wait for the next restart: WinAPI::checkRestartDeletion() "
            L"failed for SYSTEM\\CurrentControlSet\\Control\\Session Manager. Error message: ");
    });
    ASSERT_NE(why, texts.end());
    texts.erase(why);
    EXPECT_EQ(texts, plain.texts());
}

TEST(DeferInUse, WinesRestartDeletesWhatWasMoved)
{
    CPendingOperations pending;
    CQTarget target;
    ASSERT_TRUE(::CopyFileW(library().c_str(), (target / L"ext.dll").c_str(), FALSE));
    test::CChildHolder holder(L"load", target / L"ext.dll");
    const test::CRunResult run = runDeferring(target.path());
    ASSERT_EQ(run.exitCode, 3010u);
    const auto moved = movedEntries(run);
    ASSERT_EQ(moved.size(), 1u);
    ASSERT_TRUE(test::exists(moved[0].second));
    holder.release();

    // wineboot carries out the pending operations on every start but a shutdown, then drops them.
    const CFilePath wineboot = CFilePath(WinAPI::getSystemDirectory()) / L"wineboot.exe";
    EXPECT_EQ(test::runProgram(wineboot, L"-r"), 0u);
    EXPECT_FALSE(test::exists(moved[0].second));
    EXPECT_FALSE(test::exists(kFolder));
    EXPECT_TRUE(readPending().empty());
}

TEST(DeferInUse, RestartListsOfOtherShapesAreLeftAsTheyAre)
{
    // A list that cannot take an entry without changing what another program scheduled is left
    // byte for byte, and nothing moves: the file is reported in use as without the option. An
    // empty value is an empty list; the restart then removes the entry and the folder.
    const std::wstring other = L"\\??\\Q:\\other.tmp"s;
    struct Case
    {
        const char* what;
        CStoredValue value;
        std::uint32_t exitCode;
    };
    const Case cases[] = {
        {"no final terminator", multiString(other + L"\0\0"s), 1},
        {"REG_SZ", multiString(other + L"\0"s, REG_SZ), 1},
        {"REG_BINARY", multiString(other + L"\0\0\0"s, REG_BINARY), 1},
        {"empty", multiString(L""), 3010},  // last: moves the file
    };
    CPendingOperations pending;
    CQTarget target;
    ASSERT_TRUE(::CopyFileW(library().c_str(), (target / L"ext.dll").c_str(), FALSE));
    test::CChildHolder holder(L"load", target / L"ext.dll");
    test::CTempDir dir;
    const std::vector<std::wstring> plain =
        test::runTidewell(dir.path(), test::uniqueName(L"tw"), L"/Path:" + target.path() + L" /Wait:0").texts();
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        writeStored(c.value);
        const test::CRunResult run = runDeferring(target.path());
        EXPECT_EQ(run.exitCode, c.exitCode);
        const auto moved = movedEntries(run);
        if (c.exitCode == 1)
        {
            EXPECT_EQ(readStored(), c.value);
            EXPECT_TRUE(moved.empty());
            std::vector<std::wstring> texts = run.texts();
            const std::size_t why = test::indexOfStart(texts, L"Entries in use cannot wait for the next restart: ");
            EXPECT_LT(why, texts.size()) << "the reason, once";
            if (why < texts.size())
            {
                texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(why));
            }
            EXPECT_EQ(texts, plain);
        }
        else
        {
            ASSERT_EQ(moved.size(), 1u);
            EXPECT_EQ(readStored(), multiString(L"\\??\\" + moved[0].second + L"\0\0\\??\\"s + kFolder + L"\0\0\0"s));
            holder.release();
            const CFilePath wineboot = CFilePath(WinAPI::getSystemDirectory()) / L"wineboot.exe";
            EXPECT_EQ(test::runProgram(wineboot, L"-r"), 0u);
        }
        EXPECT_FALSE(test::exists(kFolder));
    }
}

TEST(DeferInUse, RestartListThatCannotBeReadAgainAtTheEndGivesNoRestartValue)
{
    // Another run takes its turn at the list once this run has moved its entry, and keeps it: the
    // run cannot confirm that the restart still deletes what it moved. A deleted file that another
    // program keeps open holds the run in its folder meanwhile (the folder is listed again until
    // the file has gone).
    CPendingOperations pending;
    CQTarget target;
    ASSERT_TRUE(::CopyFileW(library().c_str(), (target / L"ext.dll").c_str(), FALSE));
    test::writeTextFile(target / L"lingering.txt");
    test::CChildHolder user(L"load", target / L"ext.dll");
    test::CChildHolder lingering(L"holdshared", target / L"lingering.txt");
    test::CTempDir dir;
    const std::wstring name = test::uniqueName(L"tw");
    test::CProcess run;
    test::start(run, test::copyTidewell(dir.path(), name), L"/Path:" + target.path() + L" /Wait:0 /DeferInUse");
    ASSERT_TRUE(test::waitUntil([&] {
        const std::vector<std::wstring> texts = test::logTexts(test::defaultLogPath(name));
        return test::indexOfStart(texts, kMovedPrefix) < texts.size();
    }));
    const CUniqueHandle turn(::CreateMutexW(nullptr, FALSE, L"Global\\TidewellRestartDeletions"));
    ASSERT_EQ(::WaitForSingleObject(turn.get(), 20000), WAIT_OBJECT_0);
    lingering.release();
    EXPECT_EQ(run.wait(), 1u);
    ::ReleaseMutex(turn.get());
    const std::vector<std::wstring> texts = test::logTexts(test::defaultLogPath(name));
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    EXPECT_LT(test::indexOfStart(texts, L"Entries moved aside that the next restart does not delete: 1 of 1, in "),
              texts.size());
}

#include "log/LogHeader.h"

#include "win/SystemCalls.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sddl.h>

namespace
{
CLogTarget targetFor(const CFilePath& path)
{
    CLogTarget target;
    target.file =
        CUniqueFile(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    target.path = path;
    return target;
}

std::vector<std::wstring> headerLines(const test::CRunResult& run)
{
    std::vector<std::wstring> result;
    for (const std::wstring& line : run.lines)
    {
        if (!test::isLogLine(line))
        {
            result.push_back(line);
        }
    }
    return result;
}

bool hasLine(const std::vector<std::wstring>& lines, const std::wstring& wanted)
{
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}
}  // namespace

TEST(LogHeaderFormat, Uptime)
{
    EXPECT_EQ(formatUptime(42), L"0 day, 0:00:42 hours");
    EXPECT_EQ(formatUptime(86400), L"1 day, 0:00:00 hours");
    EXPECT_EQ(formatUptime(86400 + 23 * 3600 + 5 * 60 + 9), L"1 day, 23:05:09 hours");
    EXPECT_EQ(formatUptime(2 * 86400LL), L"2 days, 0:00:00 hours");
    EXPECT_EQ(formatUptime(12 * 86400 + 3 * 3600), L"12 days, 3:00:00 hours");
    EXPECT_TRUE(formatUptime().ends_with(L" hours"));
}

TEST(LogHeaderFormat, HiddenOptionsKeepTheLength)
{
    EXPECT_EQ(hideOptions(L"prog.exe /_secret:x /Path:a"), L"prog.exe " + std::wstring(10, L' ') + L" /Path:a");
    EXPECT_EQ(hideOptions(L"prog.exe -_secret:x/_y"), L"prog.exe -_secret:x/_y");
    EXPECT_EQ(hideOptions(L"prog.exe /_a /_b"), L"prog.exe" + std::wstring(8, L' '));
    EXPECT_EQ(hideOptions(L" /_"), L"   ");
}

TEST(LogHeaderFormat, MemoryAndLibraryRows)
{
    const std::uint64_t gigabyte = 1024ull * 1024 * 1024;
    EXPECT_EQ(formatMemory(gigabyte * 3 / 2, 5 * gigabyte), L"1536 MB of 5120 MB free");
    EXPECT_EQ(formatMemory(1, 1048577), L"1 MB of 2 MB free");
    EXPECT_EQ(formatLibraryRow(L"atl.dll", L"N/A"), std::wstring(16, L' ') + L"atl.dll:     N/A");
    EXPECT_EQ(formatLibraryRow(L"MxQorSetupATLCommon.dll", L"1.2.3.4"), L"MxQorSetupATLCommon.dll:     1.2.3.4");
}

TEST(LogHeaderFile, SharedFileGetsOnlyTheByteOrderMark)
{
    test::CTempDir dir;
    const CFilePath path = dir / L"shared.log";
    test::writeTextFile(path, std::string("\xFF\xFE"
                                          "a\0b\0",
                                          6));
    CTraceConfig settings;
    settings.sharedFile = true;
    writeLogHeader(settings, targetFor(path));
    EXPECT_EQ(test::readBytes(path), std::string("\xFF\xFE"
                                                 "a\0b\0",
                                                 6));
}

TEST(LogHeaderFile, NewFileStartsWithMarkAndRuler)
{
    test::CTempDir dir;
    const CFilePath path = dir / L"new.log";
    writeLogHeader(CTraceConfig{}, targetFor(path));
    const std::vector<std::wstring> lines = test::readLogLines(path);
    ASSERT_GE(lines.size(), 41u);
    EXPECT_EQ(test::readBytes(path).substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(lines[0], std::wstring(80, L'*'));
    EXPECT_EQ(lines[2], L"   Logfile:\t\t" + path);
    EXPECT_EQ(lines[40], std::wstring(80, L'*'));
    EXPECT_EQ(lines.size(), 43u);  // the closing ruler is followed by two empty lines
}

TEST(LogHeaderFile, ContinuedFileGetsThreeEmptyLinesThenTheBlock)
{
    test::CTempDir dir;
    const CFilePath path = dir / L"old.log";
    test::writeTextFile(path, std::string("\xFF\xFE"
                                          "o\0l\0d\0\r\0\n\0",
                                          12));
    CTraceConfig settings;
    settings.appendMode = true;
    writeLogHeader(settings, targetFor(path));
    const std::vector<std::wstring> lines = test::readLogLines(path);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], L"old");
    EXPECT_EQ(lines[1], L"");
    EXPECT_EQ(lines[2], L"");
    EXPECT_EQ(lines[3], L"");
    EXPECT_EQ(lines[4], std::wstring(80, L'*'));
}

TEST(LogHeaderRun, InformationLibraryBesideTheProgram)
{
    test::CTempDir dir;
    ASSERT_TRUE(::CopyFileW((test::buildFolder() / L"infolib\\MxQorTavUt.dll").c_str(),
                            (dir / L"MxQorTavUt.dll").c_str(), FALSE));
    const test::CRunResult run = test::runTidewell(dir.path(), test::uniqueName(L"tw"), L"/_hidden:x /Wait:0");
    const std::vector<std::wstring> header = headerLines(run);
    EXPECT_TRUE(hasLine(header, L"   Operating system:\tTest Windows 11 Pro (build 26100)"));
    EXPECT_TRUE(hasLine(header, L"   Executing user:\t" + WinAPI::getUserName() + L" (Administrator)"));
    const std::size_t commandLine = test::indexOfStart(header, L"   Commandline:");
    ASSERT_LT(commandLine, header.size());
    EXPECT_TRUE(header[commandLine].ends_with(L"           /Wait:0'"));
    EXPECT_TRUE(hasLine(header, L"   Version:\t\t" TIDEWELL_VERSION));
}

TEST(LogHeaderRun, WithoutInformationLibraryAndNotFromTheCurrentDirectory)
{
    // A library of that name in the current directory is never loaded.
    test::CTempDir dir;
    test::CTempDir current;
    ASSERT_TRUE(::CopyFileW((test::buildFolder() / L"infolib\\MxQorTavUt.dll").c_str(),
                            (current / L"MxQorTavUt.dll").c_str(), FALSE));
    const std::wstring name = test::uniqueName(L"tw");
    test::CProcess process;
    test::start(process, test::copyTidewell(dir.path(), name), L"/Wait:0", current.path());
    process.wait();
    test::CRunResult run;
    run.lines = test::readLogLines(test::defaultLogPath(name));
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    const std::vector<std::wstring> header = headerLines(run);
    EXPECT_TRUE(hasLine(header, L"   Operating system:\tn/a"));
    EXPECT_TRUE(hasLine(header, L"   Executing user:\t" + WinAPI::getUserName()));
    EXPECT_TRUE(hasLine(header, L"   Working directory:\t" + current.path()));
    EXPECT_TRUE(hasLine(header, L"   System libraries information"));
    EXPECT_TRUE(hasLine(header, L"   " + std::wstring(28, L'-')));
    EXPECT_TRUE(hasLine(header, L"   " + std::wstring(31, L'-')));
    // A system library has a version of four numbers, not N/A.
    const std::size_t row = test::indexOfStart(header, std::wstring(14, L' ') + L"comctl32.dll:     ");
    ASSERT_LT(row, header.size());
    EXPECT_EQ(std::count(header[row].begin(), header[row].end(), L'.'), 4) << "a.b.c.d after the name's own dot";
}

TEST(LogHeaderRun, SystemInformationLibraryDescribesTheSystem)
{
    // The library's own answer, through its export.
    struct CSystemInformation
    {
        std::uint32_t size;
        const wchar_t* text;
        std::uint32_t isAdministrator;
    };
    const CFilePath library = test::buildFolder() / L"sysinfo\\MxQorTavUt.dll";
    const HMODULE module = ::LoadLibraryW(library.c_str());
    ASSERT_NE(module, nullptr);
    const auto getInfo =
        reinterpret_cast<void(__cdecl*)(CSystemInformation*)>(::GetProcAddress(module, "GetGeneralSystemInfo86"));
    ASSERT_NE(getInfo, nullptr);
    CSystemInformation record{sizeof record, nullptr, 0};
    getInfo(&record);
    const std::wstring description = record.text != nullptr ? record.text : L"";
    ::FreeLibrary(module);

    // What the system says of itself (a 32-bit program on 64-bit Windows reads the 64-bit view).
    wchar_t product[256] = L"";
    wchar_t build[32] = L"";
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                              KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    DWORD size = sizeof product;
    ::RegGetValueW(key, nullptr, L"ProductName", RRF_RT_REG_SZ, nullptr, product, &size);
    size = sizeof build;
    ::RegGetValueW(key, nullptr, L"CurrentBuildNumber", RRF_RT_REG_SZ, nullptr, build, &size);
    ::RegCloseKey(key);
    BOOL wow64 = FALSE;
    const bool system64 = sizeof(void*) == 8 || (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64);
    ASSERT_NE(product[0], L'\0');
    EXPECT_TRUE(description.starts_with(product)) << test::narrow(description);
    EXPECT_NE(description.find(L" (build " + std::wstring(build)), std::wstring::npos) << test::narrow(description);
    EXPECT_TRUE(description.ends_with(system64 ? L", 64-bit" : L", 32-bit")) << test::narrow(description);
    // Under Wine every process runs elevated.
    EXPECT_EQ(record.isAdministrator, 1u);

    // Beside the program, in a folder that only the system and the administrators may change.
    test::CTempDir dir;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                                       SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    const CFilePath programs = dir / L"programs";
    const BOOL made = ::CreateDirectoryW(programs.c_str(), &security);
    ::LocalFree(descriptor);
    ASSERT_TRUE(made);
    ASSERT_TRUE(::CopyFileW(library.c_str(), (programs / L"MxQorTavUt.dll").c_str(), FALSE));
    const test::CRunResult run = test::runTidewell(programs, test::uniqueName(L"tw"), L"/Wait:0");
    const std::vector<std::wstring> header = headerLines(run);
    EXPECT_TRUE(hasLine(header, L"   Operating system:\t" + description));
    EXPECT_TRUE(hasLine(header, L"   Executing user:\t" + WinAPI::getUserName() + L" (Administrator)"));
}

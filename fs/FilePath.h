#pragma once

#include <string>

// A file or folder path: a wide string that keeps itself in normal form (backslash separators,
// no doubled separators except the lead-in of a network path, no trailing backslash except on a
// drive root, no "\??\" lead-in). Every constructor normalises; every operation returns a
// normalised value.
class CFilePath : public std::wstring
{
public:
    CFilePath() = default;
    CFilePath(const std::wstring& text);  // NOLINT: paths convert from text implicitly
    CFilePath(const wchar_t* text);       // NOLINT: a null text is the empty path

    void normalize();

    // The absolute form: a verbatim path ("\\?\...") as it stands, any other through the platform's
    // rules (resolved against the current directory, trailing dots and blanks dropped). A device
    // path ("\\.\C:\dir") comes out in its verbatim spelling ("\\?\C:\dir"), so "\\.\C:\" is
    // the drive root it names. The empty path stays empty.
    CFilePath absolute() const;

    // True when the path names an existing file, folder, drive root or share root. Never throws.
    bool exists() const;

    bool isDriveRoot() const;
    bool isNetworkPath() const;
    bool isRoot() const;

    CFilePath parent() const;
    CFilePath fileName() const;
    // The text after the last dot anywhere in the path; empty without a dot.
    std::wstring extension() const;
    CFilePath withoutExtension() const;
    CFilePath withExtension(const std::wstring& extensionWithoutDot) const;
    static CFilePath combine(const std::wstring& folder, const std::wstring& name);
    // The text in double quotes when it contains a blank, otherwise unchanged.
    std::wstring quoted() const;

    // Creates the folder and every missing parent. Stops at a root: a missing drive or share
    // fails with the error of creating it.
    void createDirectories() const;
};

// The verbatim form of an absolute path ("\\?\C:\..." or "\\?\UNC\..."), which Windows takes as
// it stands: no length limit, nothing dropped or changed. A verbatim or device path stays as it is.
std::wstring verbatimForm(const CFilePath& absolute);

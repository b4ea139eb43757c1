#pragma once

#include "fs/FilePath.h"

#include <cstdint>
#include <string>

// A module's four-part file version. A part of 0xFFFF means unknown; the unknown version (all
// four parts 0xFFFF) sorts before every known one.
struct CFileVersion
{
    static constexpr std::uint16_t kUnknownPart = 0xFFFF;

    std::uint16_t major = kUnknownPart;
    std::uint16_t minor = kUnknownPart;
    std::uint16_t build = kUnknownPart;
    std::uint16_t revision = kUnknownPart;
    // Filled by text().
    std::wstring textCache;

    bool isValid() const;
    // "major.minor.build.revision", or "N/A" when a part is unknown. The reference stays valid
    // while the record lives and until the next call.
    const std::wstring& text();
    // -1, 0 or 1; unknown versions are equal among themselves and below all known ones.
    static int compare(const CFileVersion& a, const CFileVersion& b);
};

// The file version of the fixed part of the file's version resource; unknown when unreadable.
CFileVersion getFileVersion(const CFilePath& path);

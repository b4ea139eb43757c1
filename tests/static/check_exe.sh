#!/usr/bin/env bash
# Static checks of the product build: a 32-bit GUI program that needs only Windows system DLLs and
# carries its version resource and manifest.
set -u
exe=$1
version=$2
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

headers=$("$objdump" -p "$exe") || { echo "FAIL: cannot read $exe"; exit 1; }

grep -q 'file format pei-i386' <<<"$headers" || fail "not a 32-bit i386 PE"
grep -qE '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "not of the GUI subsystem"

# Only Windows' known DLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs, the
# entries common to Windows 7 to 11) are imported: Windows maps them from the system folder
# whatever lies beside the program. Any other DLL, VERSION.dll among them, would be looked for in
# the program's own folder first (a download folder, %TEMP%), so it is loaded at run time from the
# system folder instead.
known='^(ADVAPI32|COMDLG32|GDI32|IMAGEHLP|IMM32|KERNEL32|MSCTF|msvcrt|NORMALIZ|NSI|ole32|OLEAUT32|PSAPI|RPCRT4|sechost|SETUPAPI|SHELL32|SHLWAPI|USER32|WLDAP32|WS2_32)\.dll$'
imports=$(grep -E '^[[:space:]]*DLL Name:' <<<"$headers" | awk '{print $3}')
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
  grep -qiE "$known" <<<"$dll" || fail "imports $dll, which is not one of Windows' known DLLs"
done
grep -qiE 'dbghelp|libgcc|libstdc|libwinpthread' <<<"$imports" && fail "imports a runtime or debugging DLL"

# A UTF-16LE text as a PCRE pattern.
utf16() { printf '%s' "$1" | sed -e 's/./&\\x00/g' -e 's/\.\\x00/\\.\\x00/g'; }
LC_ALL=C grep -aqP "$(utf16 VS_VERSION_INFO)" "$exe" || fail "no version resource"
LC_ALL=C grep -aqP "$(utf16 FileVersion)\\x00+$(utf16 "$version")" "$exe" || fail "version resource does not carry $version"
LC_ALL=C grep -aq 'requestedExecutionLevel level="asInvoker"' "$exe" || fail "no asInvoker manifest"
LC_ALL=C grep -aqF "name=\"Tidewell\" version=\"$version\"" "$exe" || fail "manifest does not carry $version"
LC_ALL=C grep -aq '<longPathAware' "$exe" || fail "manifest is not longPathAware"
LC_ALL=C grep -aq 'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' "$exe" || fail "manifest lacks the supported OS entries"

if [ "$failures" -ne 0 ]; then
  echo "$failures static check(s) failed for $exe"
  exit 1
fi
echo "static checks passed: $exe"
echo "imports: $(echo $imports)"

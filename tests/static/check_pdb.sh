#!/usr/bin/env bash
# Static checks of a program's debug information: one CodeView (RSDS) record in its debug directory,
# naming its PDB by file name alone; that PDB beside the program with the same signature (GUID)
# and age; and no DWARF (.debug_*) section in the program, so that names come from the PDB only.
#   check_pdb.sh <program.exe>      (llvm-readobj and llvm-pdbutil, Debian package llvm)
set -u
exe=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
field() { sed -n "s/^ *$1: //p"; }

record=$(llvm-readobj --coff-debug-directory "$exe") || { echo "FAIL: cannot read $exe"; exit 1; }
[ "$(grep -c 'Type: CodeView' <<<"$record")" -eq 1 ] || fail "not exactly one CodeView record"
[ "$(field PDBSignature <<<"$record")" = 0x53445352 ] || fail "the CodeView record is not an RSDS record"
name=$(field PDBFileName <<<"$record")
case $name in
  "" | */* | *\\*) fail "the record names '$name', not a file name alone" ;;
esac
pdb=$(dirname "$exe")/$name
if [ -f "$pdb" ]; then
  # The record holds the GUID's bytes; the PDB shows the GUID with its first three fields as
  # little-endian numbers.
  read -r -a b <<<"$(sed -n 's/^ *PDBGUID: (\(.*\))$/\1/p' <<<"$record")"
  guid="{${b[3]}${b[2]}${b[1]}${b[0]}-${b[5]}${b[4]}-${b[7]}${b[6]}-${b[8]}${b[9]}-${b[10]}${b[11]}${b[12]}${b[13]}${b[14]}${b[15]}}"
  summary=$(llvm-pdbutil dump --summary "$pdb") || fail "cannot read $pdb"
  [ "$(field GUID <<<"$summary")" = "$guid" ] || fail "signature $guid of the record is not that of $pdb"
  [ "$(field Age <<<"$summary")" = "$(field PDBAge <<<"$record")" ] || fail "age of the record is not that of $pdb"
  grep -q 'Has Debug Info: true' <<<"$summary" || fail "$pdb has no debug information"
else
  fail "no $name beside $exe"
fi

dwarf=$(llvm-readobj --sections "$exe" | field Name | awk '{print $1}' | grep '^\.debug_')
[ -z "$dwarf" ] || fail "DWARF sections in the program: $(echo $dwarf)"

if [ "$failures" -ne 0 ]; then
  echo "$failures debug-information check(s) failed for $exe"
  exit 1
fi
echo "debug information checked: $exe with $name"

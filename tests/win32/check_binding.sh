#!/usr/bin/env bash
# Checks how the Windows programs are bound, from their PE headers:
#   - tunnelconsole.exe is a windowed (GUI subsystem) program, and
#     tunnelconsole.com the same program as a console (CUI subsystem) one;
#   - each imports veskDllTunnel.dll by ordinal only, exactly the library's
#     ordinals, and no DLL but the system's and that one (the C and C++
#     runtimes are linked in);
#   - each carries an application manifest (asInvoker, Windows 7 to 11) and a
#     version resource (product tunnelconsole, the project's version);
#   - the stand-in DLL exports exactly those ordinals, none by name.
# Usage: check_binding.sh <objdump> <folder holding the programs>
set -uo pipefail
objdump=$1
folder=$2
expected_ordinals="1 2 3 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21"
system_dlls="KERNEL32.dll msvcrt.dll SHLWAPI.dll USER32.dll"
# The one version, as the project declares it.
version=$(sed -n 's/^project(tunnelconsole VERSION \([0-9.]*\).*/\1/p' \
  "$(dirname "$0")/../../CMakeLists.txt")
IFS=. read -r major minor patch <<<"$version"
objcopy=${objdump%objdump}objcopy
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Windows 7, 8, 8.1, and 10 and 11 (one entry).
supported_os="35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38
  1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

library=$("$objdump" -p "$folder/veskDllTunnel.dll") || { echo "cannot read the library"; exit 1; }

# <file> <subsystem number> <what that subsystem makes it>
check_program() {
  local file=$1 subsystem=$2 kind=$3 program tunnel_imports dlls dll named ordinals
  program=$("$objdump" -p "$folder/$file") || { fail "cannot read $file"; return; }

  grep -q "^Subsystem[[:space:]]*0000000$subsystem" <<<"$program" || fail "$file is not $kind"

  # "DLL Name: X" starts each import block; each entry below it reads
  # "<vma> <hint or ordinal> <name>", the name "<none>" for an ordinal import.
  tunnel_imports=$(awk '/DLL Name:/ { dll = $3; next }
                        dll == "veskDllTunnel.dll" && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print }
                        /^$/ { dll = "" }' <<<"$program")
  dlls=$(grep -o "DLL Name: .*" <<<"$program" | awk '{print $3}' | sort -u)
  for dll in $dlls; do
    case " $system_dlls veskDllTunnel.dll " in
      *" $dll "*) ;;
      *) fail "$file needs $dll" ;;
    esac
  done
  named=$(awk '$3 != "<none>"' <<<"$tunnel_imports")
  [ -z "$named" ] || fail "$file imports from veskDllTunnel.dll by name: $named"
  ordinals=$(awk '{print $2}' <<<"$tunnel_imports" | sort -n | tr '\n' ' ' | sed 's/ $//')
  [ "$ordinals" = "$expected_ordinals" ] || fail "$file imports ordinals '$ordinals'"
}

# <file>: its resources, from the .rsrc section alone.
check_resources() {
  local file=$1 program types rsrc manifest strings fixed os
  program=$("$objdump" -p "$folder/$file") || return
  # The type table's own entries: RT_VERSION (16) and RT_MANIFEST (24).
  types=$(awk '/Resource Directory section/ { inside = 1 } inside && /^[0-9a-f]+   Entry: ID:/ {
                 print $4 }' <<<"$program")
  grep -qx "0x000010," <<<"$types" || fail "$file has no version resource"
  grep -qx "0x000018," <<<"$types" || fail "$file has no manifest"
  rsrc=$scratch/$file.rsrc
  "$objcopy" -O binary --only-section=.rsrc "$folder/$file" "$rsrc" || {
    fail "cannot read the resources of $file"
    return
  }
  manifest=$(strings -n 8 "$rsrc")
  grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest" ||
    fail "$file is not marked to run as invoker"
  for os in $supported_os; do
    grep -q "supportedOS Id=\"{$os}\"" <<<"$manifest" || fail "$file does not name supported OS $os"
  done
  # The version's texts are UTF-16: each name, then its value.
  strings=$(strings -el "$rsrc" | tr '\n' '|')
  for pair in "ProductName|tunnelconsole" "FileVersion|$version" "ProductVersion|$version" \
    "OriginalFilename|$file"; do
    [[ "|$strings" == *"|$pair|"* ]] || fail "$file's version resource lacks $pair"
  done
  # VS_FIXEDFILEINFO, the numbers Explorer shows: signature, structure
  # version, then the file version's high and low words, little-endian.
  fixed=$(printf 'bd04effe00000100%02x%02x%02x%02x%02x%02x%02x%02x' \
    $((minor & 255)) $((minor >> 8)) $((major & 255)) $((major >> 8)) \
    0 0 $((patch & 255)) $((patch >> 8)))
  od -An -tx1 -v "$rsrc" | tr -d ' \n' | grep -q "$fixed" ||
    fail "$file's fixed file version is not $version"
}

check_program tunnelconsole.exe 2 "a windowed program"
check_program tunnelconsole.com 3 "a console program"
check_resources tunnelconsole.exe
check_resources tunnelconsole.com

names=$(awk '/\[Name Pointer\/Ordinal\] Table/ { print $NF; exit }' <<<"$library")
[ "$names" = "00000000" ] || fail "the library exports names (count $names)"
exported=$(grep -o '+base\[ *[0-9]*\]' <<<"$library" | tr -dc '0-9\n' | sort -n | tr '\n' ' ' |
  sed 's/ $//')
[ "$exported" = "$expected_ordinals" ] || fail "the library exports ordinals '$exported'"

if [ "$failures" -gt 0 ]; then
  exit 1
fi
echo "binding ok: both programs, runtime linked in, manifest and version $version,"
echo "  ordinals $expected_ordinals"

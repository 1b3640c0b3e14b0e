#!/usr/bin/env bash
# Checks how the Windows programs are bound, from their PE headers:
#   - tunnelconsole.exe is a windowed (GUI subsystem) program, and
#     tunnelconsole.com the same program as a console (CUI subsystem) one;
#   - each imports veskDllTunnel.dll by ordinal only, exactly the library's
#     ordinals, and no DLL but the system's and that one (the C and C++
#     runtimes are linked in);
#   - the stand-in DLL exports exactly those ordinals, none by name.
# Usage: check_binding.sh <objdump> <folder holding the programs>
set -uo pipefail
objdump=$1
folder=$2
expected_ordinals="1 2 3 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21"
system_dlls="KERNEL32.dll msvcrt.dll SHLWAPI.dll"
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

check_program tunnelconsole.exe 2 "a windowed program"
check_program tunnelconsole.com 3 "a console program"

names=$(awk '/\[Name Pointer\/Ordinal\] Table/ { print $NF; exit }' <<<"$library")
[ "$names" = "00000000" ] || fail "the library exports names (count $names)"
exported=$(grep -o '+base\[ *[0-9]*\]' <<<"$library" | tr -dc '0-9\n' | sort -n | tr '\n' ' ' |
  sed 's/ $//')
[ "$exported" = "$expected_ordinals" ] || fail "the library exports ordinals '$exported'"

if [ "$failures" -gt 0 ]; then
  exit 1
fi
echo "binding ok: both programs, ordinals $expected_ordinals, runtime linked in"

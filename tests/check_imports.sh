#!/usr/bin/env bash
# check_imports.sh OBJDUMP EXE: fails when EXE imports a DLL that is not a known DLL of every supported
# Windows version. Anything else must be loaded from the system directory at run time, or a file planted
# beside the program would be loaded in its place before its first instruction runs.
set -euo pipefail
allowed="advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll"
imports=$("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || { echo "no import table found in $2" >&2; exit 1; }
bad=0
for dll in $imports; do
  case " $allowed " in
    *" $dll "*) ;;
    *) echo "$2 imports $dll, which is not a known DLL: load it with SystemProc instead" >&2; bad=1 ;;
  esac
done
echo "imports: $(echo $imports)"
exit $bad

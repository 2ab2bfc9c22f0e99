#!/usr/bin/env bash
# Passes when the Windows executable imports only DLLs that every Windows
# has, so that it runs without any DLL beside it. Usage:
#   system_dlls_only.sh EXE [OBJDUMP]
set -euo pipefail
exe=$1
objdump=${2:-x86_64-w64-mingw32-objdump}
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$dlls" ] || { echo "$exe: no import table read"; exit 1; }
status=0
for d in $dlls; do
  case "${d,,}" in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ws2_32.dll | shell32.dll | api-ms-win-*.dll) ;;
    *) echo "$exe needs $d beside it"; status=1 ;;
  esac
done
[ "$status" = 0 ] && echo "$exe imports only system DLLs:" $dlls
exit $status

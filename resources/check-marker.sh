#!/usr/bin/env bash
# Fails unless the executable holds the 13 package marker bytes exactly once and imports only
# Windows system DLLs.
set -euo pipefail
exe=$1
count=$(grep -o -a -F '<iiiiiiiiiii>' "$exe" | wc -l)
if [ "$count" -ne 1 ]; then
  echo "check-marker: $exe holds the package marker $count times, not once" >&2
  exit 1
fi
objdump=i686-w64-mingw32-objdump
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|COMCTL32|MSVCRT|SHELL32|VERSION)\.DLL$'
while read -r dll; do
  if ! [[ "${dll^^}" =~ $allowed ]]; then
    echo "check-marker: $exe imports $dll, which is not a Windows system DLL" >&2
    exit 1
  fi
done < <("$objdump" -p "$exe" | sed -n 's/.*DLL Name: //p')

#!/usr/bin/env bash
# The folders' include directions: each folder may include only the folders below it, so that the
# codec and the package format stay free of files, windows and processes, and nothing low reaches
# up into the roles or the entry. Fails with every include that breaks the order.
#   layering.sh SOURCE_DIR
set -euo pipefail
cd "$1"

# Which of the project's folders each folder may include (besides itself).
declare -A allowed=(
  [platform]=""
  [codec]=""
  [package]="codec"
  [script]="platform"
  [builder]="platform codec package script"
  [installer]="platform codec package script"
  [app]="platform codec package script builder installer"
  [tools]="platform codec package script builder installer"
)
# OS headers that only the platform folder and the Windows sides of the roles may include.
os_headers='windows\.h|commctrl\.h|unistd\.h|fcntl\.h|sys/[a-z_]+\.h|dirent\.h|pthread\.h'
# The system's cryptography (libcrypto, crypt32, bcrypt, wintrust): the platform folder's alone.
crypto_headers='openssl/[a-z0-9_]+\.h|wincrypt\.h|bcrypt\.h|wintrust\.h'


bad=0
for folder in "${!allowed[@]}"; do
  while IFS= read -r line; do
    file=${line%%:*}
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"${line#*:}")
    [ "$target" = "$folder" ] && continue
    if ! grep -qw -- "$target" <<<"${allowed[$folder]}"; then
      echo "$file includes $target/, which $folder/ may not use"
      bad=1
    fi
  done < <(grep -rHE '^#include "[^/"]+/' "$folder" --include='*.h' --include='*.cpp' || true)
done
# No operating-system header in the portable folders, nor in the portable files of the roles (their
# win32/ and posix/ sides and the process entry may).
for folder in codec package script builder installer app; do
  while IFS= read -r line; do
    echo "${line%%:*} includes an operating-system header: ${line#*:}"
    bad=1
  done < <(grep -rHE "^#include <($os_headers)>" "$folder" --include='*.h' --include='*.cpp' |
             grep -vE "^$folder/(win32|posix|entry)/" || true)
done
while IFS= read -r line; do
  echo "${line%%:*} includes the system's cryptography: ${line#*:}"
  bad=1
done < <(grep -rHE "^#include <($crypto_headers)>" codec package script builder installer app tools \
           --include='*.h' --include='*.cpp' || true)
if [ "$bad" -ne 0 ]; then exit 1; fi
echo "every include runs downwards"

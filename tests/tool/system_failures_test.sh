#!/usr/bin/env bash
# Failures that the system reports, each with its exact reason: the fixed text as the start of the
# line, then the file and what the system said. Runs qorpack as an unprivileged user where the case
# needs permissions to bite (root reads and writes everything), and on a small tmpfs for a full disk
# where the machine lets the test mount one.
# Arguments: QORPACK STUB
set -u
stub=$2
# Under /tmp with a copy of qorpack: the unprivileged user may not pass through the folders above
# the build tree (root's home is closed to others).
scratch=$(mktemp -d /tmp/qor-system-failures.XXXXXX)
chmod 755 "$scratch"
cp "$1" "$scratch/qorpack"
qorpack=$scratch/qorpack
trap 'umount "$scratch/full-disk/disk" 2>/dev/null; rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL [$name]: $*"; failures=$((failures + 1)); }
[ -f "$stub" ] || { echo "skipped: no stub at $stub"; exit 77; }

# Runs qorpack as the unprivileged user when this test is root, else as it is.
as_user() {
  if [ "$(id -u)" = 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; else "$@"; fi
}

# A folder with the stub as the versioned first file and a packing list; $1 is the OutputName.
prepare() {
  dir=$scratch/$name
  mkdir -p "$dir"; chmod 777 "$dir"; cd "$dir" || exit 1
  cp "$stub" stub.exe; cp "$stub" setup.exe
  printf 'a payload file\r\n' >data.txt
  printf '[Cmd]\r\nLANG=ENU\r\nFileName=setup.exe /q\r\n[Files]\r\nFile01=setup.exe, setup.exe\r\nFile02=data.txt, data.txt\r\n[Out]\r\nOutputName=%s\r\n[In]\r\nQorFileName=stub.exe\r\n' "$1" >list.ini
  chmod 644 ./*
}

# Compares the last line of standard error (without its CR) with the expected one.
expect_error() {
  local status=$1 want=$2 got
  got=$(tail -n 1 "$dir/stderr" | tr -d '\r')
  [ "$3" = "$status" ] || fail "exit status $3, expected $status"
  [ "$got" = "$want" ] || fail "last line '$got', expected '$want'"
}

# name | OutputName | what else is set up | the command | exit status | the reason's line
cases=(
  "unreadable-source|out.exe|chmod 000 data.txt|as_user $qorpack build list.ini|255|Error opening an input file. data.txt: Permission denied."
  "strict-unreadable-source|out.exe|chmod 000 data.txt|(as_user $qorpack build --strict list.ini; s=\$?; [ -e logfile.txt ] && echo 'a log was written' >&2; exit \$s)|255|qorpack: --strict: the source of File02 cannot be read: data.txt: Permission denied."
  "read-only-output-folder|ro\\out.exe|mkdir ro; chmod 555 ro|as_user $qorpack build list.ini|255|Error creating the output file. ro\\out.exe: Permission denied."
  "missing-output-folder|missing\\out.exe|:|$qorpack build list.ini|255|Error creating the output file. missing\\out.exe: No such file or directory."
  "log-not-writable|out\\out.exe|mkdir -m 777 out; chmod 555 .|as_user $qorpack build list.ini|255|The build log cannot be written. logfile.txt: Permission denied."
  "unreadable-package|out.exe|$qorpack build list.ini 2>/dev/null; chmod 000 out.exe|as_user $qorpack verify out.exe|1|qorpack: cannot open out.exe: Permission denied."
  "extract-into-read-only|out.exe|$qorpack build list.ini 2>/dev/null; mkdir -m 555 x|as_user $qorpack extract out.exe x|1|qorpack: cannot create x/SetupQor.ini: Permission denied."
)
for row in "${cases[@]}"; do
  IFS='|' read -r name output setup command status reason <<<"$row"
  prepare "$output"
  eval "$setup"
  eval "$command" >"$dir/stdout" 2>"$dir/stderr"
  expect_error "$status" "$reason" "$?"
  chmod 755 "$dir"
done

# A full disk: the package's writes fail with the system's reason, and the log still says so.
name=full-disk
prepare "disk\\out.exe"
mkdir disk
if mount -t tmpfs -o size=256k tmpfs disk 2>/dev/null; then
  head -c 2000000 /dev/urandom >data.txt
  "$qorpack" build list.ini >"$dir/stdout" 2>"$dir/stderr"
  expect_error 255 "Error writing to the output file. disk\\out.exe: No space left on device." "$?"
  [ -z "$(ls -A disk)" ] || fail "left on the full disk: $(ls -A disk)"
  umount disk
else
  echo "skipped: $name (no tmpfs can be mounted here)"
fi

[ "$failures" = 0 ] && echo "all system failures give their reason"
exit $((failures != 0))

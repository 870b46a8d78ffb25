#!/usr/bin/env bash
# The CI job of the README ("Building packages in CI"), its shell steps taken from the README as they
# are written and run in a scratch checkout: the tool installed from the native build instead of
# the .deb (the install step is left out), a throwaway certificate for the signing step, and the
# example program of examples/cmake as the payload. The job must pass for a finishing command that
# ends with 0 and with 3010 (which Wine's own exit status shows as 194) and fail for one that fails,
# and the verdicts it keeps (verify --json) must say that the package is sound, unsigned then signed.
# Usage: pipeline_test.sh SOURCE_DIR BUILD_DIR SCRATCH NATIVE_QORPACK
set -u
src=$1 build=$2 scratch=$3 qorpack=${4:-}
for tool in osslsigncode openssl git python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
done
source "$(dirname "$0")/scratch_prefix.sh"
tool=$prefix/bin/qorpack

# The steps as the README shows them, less the install step.
steps=$scratch/steps.sh
awk '/^### The job as shell steps/ { section = 1 } section && /^```bash/ { inside = 1; next }
     inside && /^```/ { exit } inside { print }' "$src/README.md" | sed '/^# 1\. /,/^# 2\. /{/^# 2\. /!d}' >"$steps"
grep -q "qorpack build --strict" "$steps" || die "the README's steps do not build with --strict: $(cat "$steps")"
grep -q "qorpack verify --json" "$steps" || die "the README's steps do not verify with --json: $(cat "$steps")"
grep -q "^apt-get\|^dpkg" "$steps" && die "the install step was not left out"
# The workflow file runs the same commands.
for command in "qorpack build --strict" "qorpack verify --json"; do
  grep -q "$command" "$src/examples/ci/package.yml" || fail "examples/ci/package.yml does not run $command"
done

# verdict FILE SIGNED: the verify record FILE says "sound", code 0, and SIGNED (true or false) with a
# matching signature for each it names.
verdict() {
  python3 - "$1" "$2" <<'EOF_PY'
import json, sys
record = json.load(open(sys.argv[1], encoding="utf-8"))
signed = sys.argv[2] == "true"
assert record["verdict"] == "sound" and record["code"] == 0 and record["reason"] is None, record
assert record["signed"] is signed and len(record["signatures"]) == (1 if signed else 0), record
assert all(s["matches"] for s in record["signatures"]), record
EOF_PY
}

# A checkout: the list names its sources relative to the root, and the installed stub.
repo=$scratch/repo
mkdir -p "$repo/packaging" "$repo/payload" "$repo/signing"
sed 's/@PROJECT_VERSION_MAJOR@/1/g; s/@PROJECT_VERSION_MINOR@/2/g; s/@PROJECT_VERSION_PATCH@/3/g; s/@PROJECT_VERSION@/1.2.3/g' \
  "$src/examples/cmake/hello.rc.in" >"$scratch/hello.rc"
i686-w64-mingw32-windres "$scratch/hello.rc" -O coff -o "$scratch/hello.res" &&
  i686-w64-mingw32-gcc -O2 -mwindows -static -o "$repo/payload/hello.exe" "$src/examples/cmake/hello.c" "$scratch/hello.res" ||
  die "hello.exe does not build"
cp "$src/examples/cmake/readme.txt" "$repo/payload/"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$repo/signing/key.pem" -out "$repo/signing/cert.pem" -days 2 \
  -subj "/CN=Throwaway pipeline signer" >/dev/null 2>&1 || die "no throwaway certificate"
git -C "$repo" init -q
trap 'WINEPREFIX=$repo/.wine wineserver -k 2>/dev/null' EXIT

# finishing command | the job's exit status (0 or not) | the install record's status
runs=("hello.exe /quiet|0|0" "hello.exe /exit 3010|0|3010" "hello.exe /exit 7|1|-1")
for run in "${runs[@]}"; do
  IFS='|' read -r command want_job want_status <<<"$run"
  sed -e "s|^FileName=.*|FileName=$command|" -e 's|^File01=hello.exe, .*|File01=hello.exe, payload\\hello.exe|' \
      -e 's|^File02=readme.txt, .*|File02=readme.txt, payload\\readme.txt|' \
      -e "s|^QorFileName=.*|QorFileName=$prefix/share/qorengineupdate/QorEngineUpdate.exe|" \
      "$src/examples/cmake/list.ini" >"$repo/packaging/list.ini"
  git -C "$repo" add -A && git -C "$repo" -c user.name=CI -c user.email=ci@localhost commit -qm "$command" || die "no commit"
  sleep 1; touch "$repo/packaging/list.ini" "$repo"/payload/*   # newer than the commit, as a fresh checkout's files
  rm -rf "$repo/dist"
  job=0
  (cd "$repo" && PATH=$prefix/bin:$PATH bash "$steps" >"$scratch/job.log" 2>&1) || job=1
  [ "$job" = "$want_job" ] || fail "'$command': the job ended with $job, not $want_job: $(tail -n 5 "$scratch/job.log")"
  got=$(tr -d '\r' <"$repo/dist/install.log" 2>/dev/null | sed -n 's/^exit status: //p')
  [ "$got" = "$want_status" ] || fail "'$command': the install record says '$got', not $want_status"
  grep -qx "install exit status: $want_status" "$scratch/job.log" || fail "'$command': the job does not report $want_status"
  verdict "$repo/dist/verify.json" false >"$scratch/verdict" 2>&1 || fail "'$command': verify.json: $(tail -n 3 "$scratch/verdict")"
  verdict "$repo/dist/verify-signed.json" true >"$scratch/verdict" 2>&1 ||
    fail "'$command': verify-signed.json: $(tail -n 3 "$scratch/verdict")"
  grep -q "^dist/MyProduct.exe: [0-9]* bytes, 3 pieces$" "$scratch/job.log" || fail "'$command': the build does not say what it wrote"
  "$tool" verify "$repo/dist/MyProduct.exe" 2>&1 | grep -q "^signature: signed" || fail "'$command': the package is not signed"
  # Each stored time is the commit's, from SOURCE_DATE_EPOCH.
  committed=$(git -C "$repo" log -1 --format=%ct)
  rm -rf "$scratch/unpacked"; mkdir "$scratch/unpacked"
  "$tool" extract "$repo/dist/MyProduct.exe" "$scratch/unpacked" >/dev/null || fail "'$command': no extract"
  [ "$(stat -c %Y "$scratch/unpacked/hello.exe")" = "$committed" ] || fail "'$command': hello.exe is not stored with the commit's time"
done

# A missing source fails the strict job at its build step; the list in the checkout stays as it is.
cp "$repo/packaging/list.ini" "$scratch/list.ini"
sed -i 's|^File02=readme.txt, .*|File02=readme.txt, payload\\gone.txt|' "$repo/packaging/list.ini"
cp "$repo/packaging/list.ini" "$scratch/list.edited"
rm -rf "$repo/dist" "$repo/logfile.txt"
(cd "$repo" && PATH=$prefix/bin:$PATH bash "$steps" >"$scratch/job.log" 2>&1) && fail "a missing source does not fail the job"
grep -qxF 'qorpack: --strict: the source of File02 is missing: payload\gone.txt' "$scratch/job.log" ||
  fail "the failed job does not name the source: $(tail -n 3 "$scratch/job.log")"
cmp -s "$repo/packaging/list.ini" "$scratch/list.edited" || fail "the strict build rewrote the list"
[ -e "$repo/dist/MyProduct.exe" ] && fail "the failed build wrote a package"
[ -e "$repo/logfile.txt" ] && fail "the failed strict build wrote a build log"
cp "$scratch/list.ini" "$repo/packaging/list.ini"

# What the README warns of: Wine's own exit status of the last package (3010 there) is its low byte.
sed -i "s|^FileName=.*|FileName=hello.exe /exit 3010|" "$repo/packaging/list.ini"
(cd "$repo" && "$tool" build --output dist/restart.exe packaging/list.ini >/dev/null 2>&1) || fail "no restart package"
(cd "$repo" && WINEPREFIX=$repo/.wine WINEARCH=win32 WINEDEBUG=-all wine dist/restart.exe /h >/dev/null 2>&1)
status=$?
[ "$status" = 194 ] || fail "wine ended with $status for 3010, not 194 as the README says"

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "the README's CI job builds, verifies, signs and installs the package, and reads the true exit status"

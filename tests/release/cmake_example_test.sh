#!/usr/bin/env bash
# The CMake integration end to end: the native build is installed into a scratch prefix, a copy of
# examples/cmake is configured against it (find_package from the prefix, cross-built with mingw-w64)
# and built with SOURCE_DATE_EPOCH; the package is built again exactly when the list, a source it
# names or the program changes; then it installs silently under Wine.
# Usage: cmake_example_test.sh SOURCE_DIR BUILD_DIR SCRATCH NATIVE_QORPACK
set -u
src=$1 build=$2 scratch=$3 qorpack=${4:-}
source "$(dirname "$0")/scratch_prefix.sh"
project=$scratch/project hello=$scratch/hello
cp -r "$src/examples/cmake" "$project"
cmake -S "$project" -B "$hello" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$project/mingw-i686.cmake" \
  -DCMAKE_PREFIX_PATH="$prefix" >"$scratch/configure.log" 2>&1 || die "configure failed: $(cat "$scratch/configure.log")"

epoch=1700000000
# Builds the example; prints "built" when the package was built again, "kept" when it was not.
make_it() {
  SOURCE_DATE_EPOCH=$epoch cmake --build "$hello" >"$scratch/build.log" 2>&1 || { echo "failed"; return; }
  if grep -q "Building the package hello_package" "$scratch/build.log"; then echo built; else echo kept; fi
}
[ "$(make_it)" = built ] || die "the first build failed: $(cat "$scratch/build.log")"
package=$hello/HelloSetup.exe
"$qorpack" verify "$package" >/dev/null || fail "the package does not verify"
mkdir "$scratch/unpacked"
"$qorpack" extract "$package" "$scratch/unpacked" >/dev/null || fail "the package does not extract"
cmp -s "$scratch/unpacked/hello.exe" "$hello/hello.exe" || fail "the package does not hold the program built"
for name in SetupQor.ini hello.exe readme.txt; do
  [ "$(stat -c %Y "$scratch/unpacked/$name")" = "$epoch" ] || fail "$name is not stored with SOURCE_DATE_EPOCH's time"
done
cmp -s -n "$(stat -c %s "$build/QorEngineUpdate.exe")" "$build/QorEngineUpdate.exe" "$package" ||
  fail "the package does not begin with the installed stub"

# change | whether the package is built again
steps=(
  ":|kept"
  "printf 'A second line.\n' >>'$project/readme.txt'|built"
  "sed -i 's/^Title=Hello/Title=Hello again/' '$project/list.ini'|built"
  "sed -i 's/return exit != NULL/return exit == NULL ? 0 :/; s/ ? atoi(exit + 6) : 0;/ atoi(exit + 6);/' '$project/hello.c'|built"
  ":|kept"
)
for step in "${steps[@]}"; do
  IFS='|' read -r change want <<<"$step"
  eval "$change"
  got=$(make_it)
  [ "$got" = "$want" ] || fail "after '$change' the package was $got, not $want: $(tail -n 5 "$scratch/build.log")"
done
"$qorpack" list "$package" | grep -qx "title: Hello again" || fail "the rebuilt package does not hold the changed list"

# The build is strict: an entry whose source is missing fails it, the list stays as it is, and the
# package built before is kept.
cp "$project/list.ini" "$scratch/list.before"; cp "$package" "$scratch/package.before"
sed -i 's/^\[Out\]/File03=gone.txt, gone.txt\n[Out]/' "$project/list.ini"
cp "$project/list.ini" "$scratch/list.edited"
[ "$(make_it)" = failed ] || fail "a missing source does not fail the build"
grep -q "the source of File03 is missing" "$scratch/build.log" || fail "the failed build does not name the source: $(tail -n 3 "$scratch/build.log")"
cmp -s "$hello/list.ini" "$scratch/list.edited" || fail "the strict build rewrote the list"
cmp -s "$package" "$scratch/package.before" || fail "the failed build changed the package"
cp "$scratch/list.before" "$project/list.ini"

# Installed silently under Wine, its status read in full through runner.exe, with its record.
cp "$package" "$build/tests/wine/runner.exe" "$scratch/"
log=$scratch/install.txt
status=$(cd "$scratch" && bash "$src/tests/wine/wine-run.sh" runner.exe HelloSetup.exe /h /log "Z:${log//\//\\}" \
  2>/dev/null | tr -d '\r' | sed -n 's/^EXITCODE [0-9]* //p')
[ "$status" = 0 ] || fail "the package installs with the status '$status'"
for line in "extracted: hello.exe" "extracted: readme.txt" "command exit status: 0" "exit status: 0"; do
  tr -d '\r' <"$log" | grep -qx "$line" || fail "the install record lacks '$line': $(cat "$log")"
done

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "the CMake example builds against the installed tool, rebuilds when its inputs change, and installs"

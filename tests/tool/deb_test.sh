#!/usr/bin/env bash
# The Debian package as a user gets it: built with cpack, checked by lintian, unpacked with dpkg -x
# into a scratch root (never installed), its fields and files checked (copyright, changelog, bash
# completion, the CMake package), and its own qorpack used to build and verify a
# first package from qorpack init's starter list and the example package. Exit 77 (skipped) when the
# Windows build's stub or the example's setup program is missing.
# Arguments: CPACK BUILD_DIR VERSION STUB EXAMPLE_SETUP EXAMPLES_DIR SCRATCH
set -u
cpack=$1 build=$2 version=$3 stub=$4 example_setup=$5 examples=$6 scratch=$7
for needed in "$stub" "$example_setup"; do
  [ -f "$needed" ] || { echo "SKIP: $needed is missing (build the windows preset first)"; exit 77; }
done
rm -rf "$scratch"; mkdir -p "$scratch"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
die() { echo "FAIL: $*"; exit 1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  die "cpack failed: $(cat "$scratch/cpack.log")"
deb=$(ls "$scratch"/out/*.deb 2>/dev/null)
[ "$(echo "$deb" | wc -w)" = 1 ] || die "cpack made no single .deb: $deb"

# field | expected value (a pattern)
fields=(
  "Package|qorengineupdate"
  "Version|$version"
  "Architecture|amd64"
  "Depends|*libc6*libssl3*libstdc++6*"
  "Maintainer|?*"
  "Description|builds self-extracting Windows install packages?*"
)
for field in "${fields[@]}"; do
  IFS='|' read -r name pattern <<<"$field"
  value=$(dpkg-deb -f "$deb" "$name")
  # shellcheck disable=SC2053  # the expected value is a pattern
  [[ "$value" == $pattern ]] || fail "$name: '$value' does not match '$pattern'"
done

root=$scratch/root
dpkg -x "$deb" "$root" || die "dpkg -x failed"
qorpack=$root/usr/bin/qorpack
installed_stub=$root/usr/share/qorengineupdate/QorEngineUpdate.exe
[ -x "$qorpack" ] || die "no executable usr/bin/qorpack in the package"
cmp -s "$installed_stub" "$stub" || fail "usr/share/qorengineupdate/QorEngineUpdate.exe is not the stub"
zcat "$root/usr/share/man/man1/qorpack.1.gz" 2>/dev/null | grep -q '^\.TH QORPACK 1' ||
  fail "no man page qorpack(1) in usr/share/man/man1"
[ -s "$root/usr/share/doc/qorengineupdate/README.md" ] || fail "no README in usr/share/doc/qorengineupdate"
python3 -c 'import json, sys; json.load(open(sys.argv[1]))["definitions"]["verify"]' \
  "$root/usr/share/qorengineupdate/qorpack-json.schema.json" 2>/dev/null || fail "no JSON schema in usr/share/qorengineupdate"
[ "$("$qorpack" --version)" = "qorpack $version" ] || fail "the packaged qorpack is not version $version"
grep -q '^Files: \*' "$root/usr/share/doc/qorengineupdate/copyright" 2>/dev/null ||
  fail "no machine-readable copyright file in usr/share/doc/qorengineupdate"
[ "$(zcat "$root/usr/share/doc/qorengineupdate/changelog.gz" 2>/dev/null | head -n 1)" = \
  "qorengineupdate ($version) unstable; urgency=medium" ] || fail "the changelog's latest entry is not version $version"

# Debian's own checks, on errors and warnings alike; overrides are in cmake/debian/lintian-overrides.
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 || fail "lintian: $(cat "$scratch/lintian.log")"
else
  fail "lintian is not installed (scripts/setup.sh installs it)"
fi

# The completion offers the commands, and build's options.
completion=$root/usr/share/bash-completion/completions/qorpack
# word line | what it must offer
completions=("qorpack b|build" "qorpack build --st|--strict --stub" "qorpack build --j|--jobs --json"
             "qorpack list --|--help --json" "qorpack verify --|--help --json" "qorpack help ex|explode extract")
for case in "${completions[@]}"; do
  IFS='|' read -r line expected <<<"$case"
  offered=$(bash -c 'source "$1"; read -ra COMP_WORDS <<<"$2"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _qorpack
    printf "%s\n" "${COMPREPLY[@]}" | sort | xargs' _ "$completion" "$line" 2>&1)
  [ "$offered" = "$expected" ] || fail "completion of '$line' offers '$offered', not '$expected'"
done

# The CMake package, found from the unpacked prefix, names the files beside it.
mkdir -p "$scratch/cmake-find"
cat >"$scratch/cmake-find/CMakeLists.txt" <<'EOF_CMAKE'
cmake_minimum_required(VERSION 3.20)
project(find_qor NONE)
find_package(QorEngineUpdate 1.0 CONFIG REQUIRED)
get_target_property(tool QorEngineUpdate::qorpack IMPORTED_LOCATION)
message(STATUS "qor: ${QorEngineUpdate_VERSION}|${tool}|${QorEngineUpdate_STUB}")
EOF_CMAKE
found=$(cmake -S "$scratch/cmake-find" -B "$scratch/cmake-find/build" -DCMAKE_PREFIX_PATH="$root/usr" 2>&1 |
  sed -n 's/^-- qor: //p')
[ "$found" = "$version|$(realpath "$qorpack")|$(realpath "$installed_stub")" ] ||
  fail "find_package(QorEngineUpdate) from the package gives '$found'"

# A first package right after installing: init, the two files the starter list names, build.
first=$scratch/first
(cd "$scratch" && "$qorpack" init first >/dev/null) || die "init failed"
named=$(sed -n 's/^QorFileName=//p' "$first/list.ini")
[ "$named" = "$(realpath "$installed_stub")" ] || fail "the starter list names the stub $named"
cp -p "$example_setup" "$first/setup.exe"
cp -p "$examples/readme.txt" "$first/readme.txt"
(cd "$first" && "$qorpack" build list.ini 2>"$scratch/first.log") ||
  die "the starter list does not build: $(cat "$scratch/first.log")"
package=$(cd "$first" && ls MyProduct*.exe)
[ "$package" = MyProduct1_02_03a.exe ] || fail "the starter list built '$package'"
"$qorpack" verify "$first/$package" >/dev/null || fail "the first package does not verify"
"$qorpack" list "$first/$package" | grep -qx "title: My Product" || fail "the first package has another title"

# The same in nine languages: it builds, passes the installer's check, and lists its languages.
(cd "$scratch" && "$qorpack" init --lang ENU,DEU,FRA,ESP,ITA,PTB,JPN,CHS,RUS many >/dev/null) || die "init --lang failed"
cp -p "$example_setup" "$scratch/many/setup.exe"
cp -p "$examples/readme.txt" "$scratch/many/readme.txt"
(cd "$scratch/many" && "$qorpack" build list.ini 2>"$scratch/many.log") ||
  fail "the starter list in nine languages does not build: $(cat "$scratch/many.log")"
"$qorpack" verify "$scratch/many/$package" >/dev/null || fail "the package in nine languages does not verify"
"$qorpack" list "$scratch/many/$package" | grep -qx "languages: ENU, DEU, FRA, ESP, ITA, PTB, JPN, CHS, RUS" ||
  fail "list shows no languages of the package in nine languages"

# The example package, as the main job builds it, with the packaged stub.
stage=$scratch/example
mkdir -p "$stage"
cp -p "$examples/list.ini" "$examples/readme.txt" "$examples/license.txt" "$stage/"
cp -p "$example_setup" "$stage/"
sed -i "s|^QorFileName=.*|QorFileName=$installed_stub|" "$stage/list.ini"
(cd "$stage" && "$qorpack" /m list.ini 2>"$scratch/example.log") ||
  die "the example does not build: $(cat "$scratch/example.log")"
package=$stage/QorExample1_02_03a.exe
[ -f "$package" ] || die "no $package"
"$qorpack" verify "$package" >/dev/null || fail "the example package does not verify"
cmp -s -n "$(stat -c %s "$stub")" "$stub" "$package" || fail "the example package does not begin with the stub"
mkdir "$scratch/extracted"
"$qorpack" extract "$package" "$scratch/extracted" >/dev/null || fail "the example package does not extract"
# file in the package | its source
pieces=("setup.exe|$example_setup" "readme.txt|$examples/readme.txt" "license.txt|$examples/license.txt"
        "SetupQor.ini|$stage/list.ini")
for piece in "${pieces[@]}"; do
  IFS='|' read -r name source <<<"$piece"
  cmp -s "$scratch/extracted/$name" "$source" || fail "$name is not what was packed"
done

# list --json: one object with the pieces in order and the script's texts.
listing=$("$qorpack" list --json "$package")
for expected in '"checksum": "matches"' '"signed": false' '"finishingCommand": "setup.exe /quiet"' \
                '"name": "SetupQor.ini"' '"name": "license.txt"'; do
  grep -qF "$expected" <<<"$listing" || fail "list --json lacks $expected"
done
[ "$(grep -c '"name"' <<<"$listing")" = 4 ] || fail "list --json shows $(grep -c '"name"' <<<"$listing") pieces, not 4"

# One thread or four: the same bytes.
for jobs in 1 4; do
  (cd "$stage" && "$qorpack" build -j "$jobs" list.ini 2>/dev/null) || fail "the example does not build with -j $jobs"
  cmp -s "$package" "$scratch/example-first.exe" 2>/dev/null || [ ! -f "$scratch/example-first.exe" ] ||
    fail "-j $jobs gives other bytes"
  cp -p "$package" "$scratch/example-first.exe"
done

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "the package installs qorpack, its stub, man page and README, and builds working packages"

# Sourced by the release tests that work on an installed tool: with src, scratch and qorpack set,
# it skips without a native qorpack, empties the scratch folder, defines fail (counted in
# `failures`) and die, and installs the native build into $scratch/prefix.
[ -n "$qorpack" ] && [ -x "$qorpack" ] || { echo "SKIP: no native qorpack (QOR_NATIVE_QORPACK)"; exit 77; }
native_build=$(dirname "$(dirname "$qorpack")")
rm -rf "$scratch"; mkdir -p "$scratch"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
die() { echo "FAIL: $*"; exit 1; }

prefix=$scratch/prefix
cmake --install "$native_build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  die "the native build does not install: $(cat "$scratch/install.log")"

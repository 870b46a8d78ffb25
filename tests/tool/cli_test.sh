#!/usr/bin/env bash
# qorpack's command-line conventions: which stream help, version and usage errors go to, with which
# exit status, for every command; and qorpack init's starter packing list.
# Arguments: QORPACK VERSION EXAMPLE_LIST STUB SCRATCH
set -u
qorpack=$1 version=$2 example_list=$3 stub=$4 scratch=$5
rm -rf "$scratch"; mkdir -p "$scratch"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# arguments | exit status | stream that must hold the text (the other stays empty) | text
cases=(
  "--help|0|out|usage: qorpack COMMAND"
  "-h|0|out|Exit status: 0 done, 1 failed"
  "help|0|out|qorpack help COMMAND"
  "help build|0|out|usage: qorpack build [OPTION]... LIST"
  "help extract|0|out|usage: qorpack extract PKG DIR"
  "build --help|0|out|usage: qorpack build [OPTION]... LIST"
  "verify -h|0|out|usage: qorpack verify [--json] PKG"
  "--version|0|out|qorpack $version"
  "|2|err|usage: qorpack COMMAND"
  "frob|2|err|qorpack: unknown command 'frob'"
  "--frob|2|err|qorpack: unknown command '--frob'"
  "help frob|2|err|usage: qorpack help COMMAND"
  "help build list|2|err|usage: qorpack help COMMAND"
  "build|2|err|usage: qorpack build [OPTION]... LIST"
  "build a b|2|err|usage: qorpack build [OPTION]... LIST"
  "build -j 0 l|2|err|usage: qorpack build [OPTION]... LIST"
  "build -jx l|2|err|usage: qorpack build [OPTION]... LIST"
  "build -j 2|2|err|usage: qorpack build [OPTION]... LIST"
  "build --stub|2|err|usage: qorpack build [OPTION]... LIST"
  "build --stub a --stub b l|2|err|usage: qorpack build [OPTION]... LIST"
  "build --depfile d l|2|err|--depfile FILE (with --output)"
  "build --output o l -j 2|2|err|usage: qorpack build [OPTION]... LIST"
  "build --frob l|2|err|usage: qorpack build [OPTION]... LIST"
  "build --strict --json|2|err|usage: qorpack build [OPTION]... LIST"
  "help build|0|out|--strict fails the build when a source is missing"
  "/m|2|err|usage: qorpack build [OPTION]... LIST"
  "/M a b|2|err|usage: qorpack build [OPTION]... LIST"
  "init|2|err|usage: qorpack init [--lang LIST] DIR"
  "init a b|2|err|usage: qorpack init [--lang LIST] DIR"
  "init --lang DEU|2|err|usage: qorpack init [--lang LIST] DIR"
  "init --lang DEU,XYZ new|2|err|qorpack init: no starter texts for 'XYZ' (there are: ENU, DEU, FRA, ESP, ITA, PTB, JPN, CHS, RUS)"
  "init --lang DEU,,ENU new|2|err|qorpack init: no starter texts for ''"
  "init --lang DEU,ENU,deu new|2|err|qorpack init: --lang names DEU twice"
  "help init|0|out|usage: qorpack init [--lang LIST] DIR"
  "list|2|err|usage: qorpack list [--json] PKG"
  "list --json|2|err|usage: qorpack list [--json] PKG"
  "help list|0|out|usage: qorpack list [--json] PKG"
  "verify a b|2|err|usage: qorpack verify [--json] PKG"
  "verify --json|2|err|usage: qorpack verify [--json] PKG"
  "verify --json a b|2|err|usage: qorpack verify [--json] PKG"
  "extract pkg|2|err|usage: qorpack extract PKG DIR"
  "implode --dict 7|2|err|dictionary size must be 1024, 2048 or 4096"
  "implode --frob|2|err|usage: qorpack implode"
  "explode x|2|err|usage: qorpack explode"
  "list $scratch/none.exe|1|err|cannot open"
  "list --json $scratch/none.exe|1|err|cannot open"
  "verify $scratch/none.exe|1|err|cannot open"
  "build $scratch/none.ini|255|err|qorpack: cannot read the packing list $scratch/none.ini: No such file or directory."
  "build /dev/null|255|err|qorpack: cannot read the packing list /dev/null: Not a plain file"
  "verify /dev/zero|1|err|qorpack: cannot open /dev/zero: Not a plain file (a device or a pipe)."
  "build $scratch/empty.ini|255|err|qorpack: the packing list $scratch/empty.ini is empty"
  "build -|2|err|usage: qorpack build [OPTION]... LIST"
  "verify /dev/stdin|1|err|qorpack: cannot open /dev/stdin: Not a plain file (a device or a pipe)."
)
: >"$scratch/empty.ini"
for case in "${cases[@]}"; do
  IFS='|' read -r args want stream text <<<"$case"
  # shellcheck disable=SC2086  # the arguments are split on purpose
  (cd "$scratch" && "$qorpack" $args </dev/null >"$scratch/out" 2>"$scratch/err")
  got=$?
  other=err; [ "$stream" = err ] && other=out
  [ "$got" = "$want" ] || fail "qorpack $args: exit status $got, expected $want"
  grep -qF -- "$text" "$scratch/$stream" || fail "qorpack $args: no '$text' on std$stream"
  [ -s "$scratch/$other" ] && fail "qorpack $args: unexpected std$other: $(head -c 200 "$scratch/$other")"
done

# Every command that the help lists has its own help.
commands=$("$qorpack" --help | sed -n 's/^  qorpack \([a-z]*\) .*/\1/p' | grep -v '^help$')
[ "$(echo "$commands" | wc -l)" -ge 7 ] || fail "--help lists too few commands: $commands"
for command in $commands; do
  "$qorpack" help "$command" >"$scratch/out" 2>"$scratch/err" || fail "help $command failed"
  grep -q "^usage: qorpack $command" "$scratch/out" || fail "help $command gives no usage line"
done

# init: a new folder, its list, and no second list over the first.
list=$scratch/new/product/list.ini
"$qorpack" init "$scratch/new/product" >"$scratch/out" 2>"$scratch/err" || fail "init failed: $(cat "$scratch/err")"
[ -f "$list" ] || fail "init wrote no $list"
cp "$list" "$scratch/first.ini"
echo "; edited" >>"$list"; cp "$list" "$scratch/edited.ini"
"$qorpack" init "$scratch/new/product" >"$scratch/out" 2>"$scratch/err"
[ $? = 1 ] || fail "a second init does not fail with exit status 1"
grep -q "exists already" "$scratch/err" || fail "a second init does not say why it failed"
cmp -s "$list" "$scratch/edited.ini" || fail "a second init changed the existing list"
touch "$scratch/file"
"$qorpack" init "$scratch/file" >/dev/null 2>&1
[ $? = 1 ] || fail "init into a plain file does not fail with exit status 1"

# The starter's texts are the example's, for another product; every key of the example is there.
section() {  # the [ENU] section of $1, comments dropped, sorted
  sed -n '/^\[ENU\]/,/^\[/p' "$1" | grep -E '^(Msg|Err)[0-9]+=' | sort
}
diff <(section "$example_list" | sed 's/Qor Example Product/My Product/g') <(section "$scratch/first.ini") \
  >"$scratch/diff" || fail "the starter's texts differ from the example's: $(cat "$scratch/diff")"
for key in LANG Title FileName File01 OutputName QorFileName; do
  grep -q "^$key=" "$scratch/first.ini" || fail "the starter list has no $key"
done
grep '^[^;].*=@' "$scratch/first.ini" && fail "a value of the starter list begins with @"

# init --lang: LANG lists the sections in the order given; each holds every key of the English texts,
# in the code page of its language, and reads as its translation there.
all=ENU,DEU,FRA,ESP,ITA,PTB,JPN,CHS,RUS
"$qorpack" init --lang "${all,,}" "$scratch/many" >/dev/null 2>"$scratch/err" || fail "init --lang failed: $(cat "$scratch/err")"
grep -qx "LANG=$all" "$scratch/many/list.ini" || fail "init --lang writes $(grep '^LANG=' "$scratch/many/list.ini")"
# language | code page | one line of its texts
languages=("ENU|CP1252|Msg10=Cancel" "DEU|CP1252|Msg07=< Zurück" "FRA|CP1252|Msg07=< Précédent"
           "ESP|CP1252|Msg07=< Atrás" "ITA|CP1252|Msg05=My Product è stato installato. Fare clic su Fine per chiudere questa finestra."
           "PTB|CP1252|Msg09=Avançar >" "JPN|CP932|Msg10=キャンセル" "CHS|CP936|Msg10=取消" "RUS|CP1251|Msg10=Отмена")
for entry in "${languages[@]}"; do
  IFS='|' read -r name codepage line <<<"$entry"
  # Byte by byte: the sections are no UTF-8.
  LC_ALL=C sed -n "/^\[$name\]/,/^\[/p" "$scratch/many/list.ini" | LC_ALL=C grep -aE '^(Msg|Err)[0-9]+=' >"$scratch/section"
  diff <(cut -d= -f1 "$scratch/section" | sort) <(section "$example_list" | cut -d= -f1) >/dev/null ||
    fail "the $name section has other keys than the English texts"
  iconv -f "$codepage" -t UTF-8 "$scratch/section" >"$scratch/section.utf8" 2>/dev/null ||
    fail "the $name section is not in $codepage"
  grep -qxF "$line" "$scratch/section.utf8" || fail "the $name section has no line '$line' in $codepage"
done
grep -q 'ANSI code page' "$scratch/many/list.ini" || fail "init --lang writes no note on the code pages"
"$qorpack" init --lang DEU,ENU "$scratch/two" >/dev/null 2>&1 || fail "init --lang DEU,ENU failed"
[ "$(grep -E '^(LANG=|\[)' "$scratch/two/list.ini" | tr '\n' ' ')" = "[Cmd] LANG=DEU,ENU [Files] [Out] [In] [DEU] [ENU] " ] ||
  fail "init --lang DEU,ENU writes $(grep -E '^(LANG=|\[)' "$scratch/two/list.ini" | tr '\n' ' ')"

# In a build tree the stub is the Windows build's.
named=$(sed -n 's/^QorFileName=//p' "$scratch/first.ini")
if [ -f "$stub" ]; then
  [ "$named" = "$(realpath "$stub")" ] || fail "QorFileName=$named, expected $(realpath "$stub")"
else
  grep -q "does not exist yet" "$scratch/err" || echo "NOTE: no stub at $stub"
fi

# An empty input goes through implode and explode and comes back empty.
out=$("$qorpack" implode </dev/null | "$qorpack" explode | wc -c)
[ "$out" = 0 ] && [ "${PIPESTATUS[*]}" != "" ] || fail "implode | explode of an empty input gave $out bytes"
"$qorpack" implode </dev/null | "$qorpack" explode >/dev/null || fail "explode refused the stream of an empty input"

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "all ${#cases[@]} cases and the starter list pass"

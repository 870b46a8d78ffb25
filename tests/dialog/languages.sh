#!/usr/bin/env bash
# One package for many languages, under Wine: the page of packages whose LANG lists several sections,
# started in the user languages that Wine takes from the locale (de_DE, fr_FR, pt_BR, ja_JP, de_CH,
# and C, whose English no package lists). The page's texts are read back through its controls: the
# section of the user's language, else one of its primary language, else the first listed; a text
# the section lacks from the first; each section read in its own language's code page, also where
# that is not the machine's; the error box and the restart question in the same language; and the
# record that names the section. Wine's user language belongs to its session: this test has a prefix
# and a virtual display of its own, and a new session for each locale.
# Usage (from inside the build folder): languages.sh QorEngineUpdate.exe driver.exe page_finisher.exe
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine_dir="$here/../wine"
work=$PWD/page-languages own=$PWD/page-languages-wine  # the prefix is kept between runs: making one takes long
rm -rf "$work"
mkdir -p "$work" "$own"
cd "$work"
cp "$1" QorEngineUpdate.exe
cp "$3" page_finisher.exe
driver=$2

trap 'bash "$wine_dir/prefix.sh" down "$own"' EXIT
bash "$wine_dir/prefix.sh" up "$own"

failures=0
fail() {
  echo "FAIL [$scenario]: $*" >&2
  failures=$((failures + 1))
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# A new Wine session in the locale $1: the wineserver keeps the locale of the program that started
# it. Wine's services start here, their output going nowhere (see prefix.sh).
locale=C.UTF-8
session() {
  locale=$1
  (source "$wine_dir/env.sh" "$own" && { wineserver -k 2>/dev/null || true; } && { wineserver -w || true; })
  in_locale cmd /c exit </dev/null >/dev/null 2>&1 || true
}
in_locale() (source "$wine_dir/env.sh" "$own" && export LC_ALL=$locale LANG=$locale && exec wine "$@")

# The sections, in UTF-8 here and in each language's code page in the list. PTB and JPN are
# complete; DEU lacks Msg10, FRA's Msg05 is empty, and JPN lacks Msg09 unless it comes first.
ptb='Msg02=Bem-vindo ao
Msg03=Descompactando arquivos...
Msg04=Executando o programa...
Msg05=O Page Test foi instalado.
Msg06=Clique em Avançar para instalar.
Msg07=< Voltar
Msg08=Concluir
Msg09=Avançar >
Msg10=Cancelar
Msg11=Este assistente instala o Page Test.
Msg12=Reiniciar o computador agora?
Msg13=O Page Test foi atualizado.
Msg14=Este assistente atualiza o Page Test.
Err07=PTB: o programa de instalação falhou.'
deu='Msg02=Willkommen bei
Msg03=Dateien werden entpackt...
Msg04=Das Programm läuft...
Msg05=Page Test ist installiert.
Msg06=Klicken Sie auf Weiter.
Msg07=< Zurück
Msg08=Fertig stellen
Msg09=Weiter >
Msg11=Dieser Assistent installiert Page Test.
Msg12=Computer jetzt neu starten?
Msg13=Page Test ist aktualisiert.
Msg14=Dieser Assistent aktualisiert Page Test.
Err07=DEU: das Setup-Programm ist fehlgeschlagen.'
fra='Msg02=Bienvenue dans
Msg03=Décompression des fichiers...
Msg04=Exécution du programme...
Msg05=
Msg06=Cliquez sur Suivant pour installer.
Msg07=< Précédent
Msg08=Terminer
Msg09=Suivant >
Msg10=Annuler
Msg11=Cet assistant installe Page Test.
Msg12=Redémarrer l’ordinateur maintenant ?
Msg13=Page Test est mis à jour.
Msg14=Cet assistant met à jour Page Test.
Err07=FRA : le programme d’installation a échoué.'
jpn='Msg02=ようこそ
Msg03=ファイルを展開しています...
Msg04=プログラムを実行しています...
Msg05=Page Test のインストールが完了しました。
Msg06=[次へ] をクリックしてください。
Msg07=< 戻る
Msg08=完了
Msg10=キャンセル
Msg11=このウィザードは Page Test をインストールします。
Msg12=今すぐ再起動しますか?
Msg13=Page Test を更新しました。
Msg14=このウィザードは Page Test を更新します。
Err07=JPN: セットアップ プログラムが失敗しました。'

# section NAME CODEPAGE TEXTS: a section in its code page, CR LF line ends.
section() {
  printf '[%s]\r\n' "$1"
  printf '%s\n' "$3" | sed 's/$/\r/' | iconv -f UTF-8 -t "$2"
}

# build NAME LANG FINISHER_ARGUMENTS SECTION...: builds NAME.exe with the executable's own /m.
build() {
  local name=$1 lang=$2 arguments=$3
  shift 3
  {
    printf '[Cmd]\r\nLANG=%s\r\nTitle=Page Test\r\nFileName=page_finisher.exe %s\r\n' "$lang" "$arguments"
    printf '[Files]\r\nFile01=page_finisher.exe, page_finisher.exe\r\n'
    printf '[Out]\r\nOutputName=%s.exe\r\n[In]\r\nQorFileName=QorEngineUpdate.exe\r\n' "$name"
    local part
    for part in "$@"; do printf '%s\n' "$part"; done
  } >"$name.ini"
  rm -f logfile.txt
  scenario=build-$name
  if ! in_locale QorEngineUpdate.exe /m ".\\$name.ini" >/dev/null 2>&1 || [ ! -f "$name.exe" ]; then
    fail "not built: $(cat logfile.txt 2>/dev/null)"
  fi
}

# drive NAME PACKAGE [ARGUMENTS]: runs a driver script (standard input) against PACKAGE in the
# current locale, with a temporary folder of the scenario's own.
drive() {
  scenario="$1 ($locale)"
  local temp="$work/temp-$1"
  rm -rf "$temp" page-finisher.ran
  mkdir -p "$temp"
  {
    echo "env TMP=$(winpath "$temp")\\"
    echo "env TEMP=$(winpath "$temp")\\"
    echo "start \"$(winpath "$work/$2.exe")\"${3:+ $3}"
    cat
  } >"$1.txt"
  if in_locale "$driver" "$1.txt" >"$1.log" 2>&1; then
    echo "ok [$scenario]"
  else
    fail "driver: $(tr -d '\r' <"$1.log")"
  fi
}

# The page of package `all` in its Ready state, in the section that $1 names, then installed and
# closed. Its Cancel button reads $2 (DEU has none of its own) and its main button $3 (JPN has none).
expect_page() {
  local section=$1 cancel=$2 next=$3 header intro status finish done_text
  case $section in
    PTB) header='Bem-vindo ao' intro='Este assistente instala o Page Test.' status='Clique em Avançar para instalar.'
         finish=Concluir done_text='O Page Test foi instalado.' ;;
    DEU) header='Willkommen bei' intro='Dieser Assistent installiert Page Test.' status='Klicken Sie auf Weiter.'
         finish='Fertig stellen' done_text='Page Test ist installiert.' ;;
    FRA) header='Bienvenue dans' intro='Cet assistant installe Page Test.' status='Cliquez sur Suivant pour installer.'
         finish=Terminer done_text='O Page Test foi instalado.' ;;  # Msg05 is empty: the first section's
    JPN) header='ようこそ' intro='このウィザードは Page Test をインストールします。' status='[次へ] をクリックしてください。'
         finish='完了' done_text='Page Test のインストールが完了しました。' ;;
  esac
  printf '%s\n' dialog 'caption Page Test' "text 1012 $header Page Test" "text 1005 $intro" "text 1007 $status" \
    "text 1 $next" "text 2 $cancel" 'click 1' "text 1007 $done_text" "text 1 $finish" 'click 1' 'exit 0'
}

build all 'PTB, DEU, FRA, JPN' '0 0' "$(section PTB CP1252 "$ptb")" "$(section DEU CP1252 "$deu")" \
  "$(section FRA CP1252 "$fra")" "$(section JPN CP932 "$jpn")"
build failing 'PTB,DEU,FRA,JPN' '0 7' "$(section PTB CP1252 "$ptb")" "$(section DEU CP1252 "$deu")" \
  "$(section FRA CP1252 "$fra")" "$(section JPN CP932 "$jpn")"
build restart 'PTB,DEU,FRA,JPN' '0 3010' "$(section PTB CP1252 "$ptb")" "$(section DEU CP1252 "$deu")" \
  "$(section FRA CP1252 "$fra")" "$(section JPN CP932 "$jpn")"
# Japanese first, read on a machine whose code page is 1252: DEU's missing Cancel comes from it.
build japanese-first 'JPN,DEU' '0 0' "$(section JPN CP932 "$jpn
Msg09=次へ >")" "$(section DEU CP1252 "$deu")"

session de_DE.UTF-8
drive german all "/log $(winpath "$work/german.record")" < <(expect_page DEU Cancelar 'Weiter >')
grep -qx $'language: DEU (the user\'s language: DEU)\r' german.record || fail "the record: $(cat german.record)"
drive japanese-first-on-1252 japanese-first <<'EOF'
dialog
text 1012 Willkommen bei Page Test
text 2 キャンセル
text 1 Weiter >
click 2
exit -1
EOF

session fr_FR.UTF-8
drive french all < <(expect_page FRA Annuler 'Suivant >')
# The error box speaks the page's language.
drive french-failure failing <<'EOF'
dialog
text 1 Suivant >
click 1
msgbox FRA : le programme d’installation a échoué.\n\nthe finishing command ended with status 7
boxcaption Page Test
answer 1
exit -1
EOF

session pt_BR.UTF-8
drive portuguese all < <(expect_page PTB Cancelar 'Avançar >')
drive portuguese-restart restart <<'EOF'
dialog
click 1
text 1 Concluir
click 1
msgbox Reiniciar o computador agora?
answer 7
exit 3010
EOF

# The machine's code page is 932: JPN's texts, and PTB's Msg09 in its own code page 1252.
session ja_JP.UTF-8
drive japanese all < <(expect_page JPN 'キャンセル' 'Avançar >')
drive japanese-silent all "/h /log $(winpath "$work/japanese.record")" <<'EOF'
exit 0
EOF
grep -qx $'language: JPN (the user\'s language: JPN)\r' japanese.record || fail "the record: $(cat japanese.record)"

# German of Switzerland: no DES section, DEU has its primary language.
session de_CH.UTF-8
drive swiss-german all < <(expect_page DEU Cancelar 'Weiter >')

# English, which no section is: the first listed.
session C.UTF-8
drive english all "/log $(winpath "$work/english.record")" < <(expect_page PTB Cancelar 'Avançar >')
grep -qx $'language: PTB (the user\'s language: ENU)\r' english.record || fail "the record: $(cat english.record)"

if [ "$failures" -ne 0 ]; then
  echo "languages.sh: $failures failure(s)" >&2
  exit 1
fi
echo "languages.sh: all scenarios passed"

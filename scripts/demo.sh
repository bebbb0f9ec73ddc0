#!/usr/bin/env bash
# The program on a demo machine: installs what is needed, builds the Windows
# program and the makers' tool, prepares a Wine prefix holding sample target
# fonts (made from Debian's Noto CJK and named from the catalogue) with their
# difference files in host\ beside the program, and runs the program on it.
#
# With a display (DISPLAY set) the program is yours to drive.  Without one it
# runs in a virtual X server, driven from the keyboard: first a whole
# revision through every dialog (the stop questions answered いいえ, the
# version information opened from the system menu), with a second copy of a
# target installed for one user only and the target on D: held as Windows
# holds a font in use, replaced when Windows starts again; then a run whose
# difference file was damaged.  Each dialog is saved as a
# screenshot and its texts are checked.  The end tells what became of each
# font.  Everything the demo makes stays in build-demo/ and build-win/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine/lib.sh

log "installing the Debian packages that are missing (none on a second run)"
scripts/install-deps.sh demo

native=build-demo
log "building the makers' tool (native)"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$native" -j"$(nproc)" --target patool | build_progress
fonts=$native/testfonts
if [ ! -e "$fonts/Sorame-Gothic-Pro-W3.rev.otf" ]; then
  log "making the sample fonts from Noto CJK"
  /usr/bin/python3 tests/fonts/make_test_fonts.py "$fonts" >/dev/null
fi

log "building the Windows program upd.exe (MinGW-w64; the longest step of a first run)"
build_windows_program build-win

WORK=$PWD/$native/demo
SHOTS=$WORK/screenshots
ensure_locale
interactive=0
[ -n "${DISPLAY:-}" ] && [ -z "${FORCE_XVFB:-}" ] && interactive=1
rm -rf "$WORK"
start_x
trap stop_all EXIT

log "preparing the demo machine: a fresh Wine prefix in $native/demo/prefix"
prepare_machine build-win/upd.exe "$native/tools/patool" "$fonts"
# An archive of many small folders on D:, as a customer's data drive has:
# the search takes a few seconds, and its window can be seen and stopped.
mkdir -p "$D/Archive"
(cd "$D/Archive" && for y in $(seq 2001 2024); do for m in $(seq -w 1 12); do
  for d in $(seq -w 1 12); do echo "$y/$m/$d"; done; done; done | xargs mkdir -p)
# A second copy of the first target, installed for the prefix's user only.
USER_FONTS=$(user_fonts_dir)
USER_FONTS_WIN="C:\\$(tr / '\\' <<<"${USER_FONTS#"$C"/}")"
install_all_fonts() {
  install_fonts
  mkdir -p "$USER_FONTS"
  cp "$FONTS/${TARGETS[0]}.otf" "$USER_FONTS/"
}
install_all_fonts
HELD="D:\\Fonts\\${TARGETS[1]}.otf"
echo "program:          C:\\Program Files\\Sorame\\Updater\\upd.exe"
echo "difference files: $(cd "$app/host" && ls | tr '\n' ' ')"
echo "fonts:            C:\\windows\\Fonts\\${TARGETS[0]}.otf, D:\\Fonts\\${TARGETS[1]}.otf, D:\\Fonts\\$OTHER_FONT.otf,"
echo "                  and for one user only $USER_FONTS_WIN\\${TARGETS[0]}.otf"

# report revised|unchanged|any: what became of each font, against the fonts
# as installed and as revised; what the targets were to become.  While
# WAITING names a font (its Windows path), that font is in use: it is to be
# unchanged, with its verified revision waiting beside it as ~upd<hex>.pnd.
# Beside every other font nothing of the program's is to be left.
report() {
  local dir winDir name note should pending
  while IFS='|' read -r dir winDir name note; do
    should=unchanged
    [ "$1" = revised ] && [ -e "$WORK/expected/$name.otf" ] && should=revised
    [ "$1" = any ] && should=
    pending=$(find "$dir" -maxdepth 1 -type f -name '~upd*')
    if [ "$winDir\\$name.otf" = "${WAITING:-}" ]; then
      if cmp -s "$dir/$name.otf" "$FONTS/$name.otf" && [ "$(wc -w <<<"$pending")" -eq 1 ] &&
         [[ "$pending" == */~upd[0-9a-f].pnd ]] && cmp -s "$pending" "$WORK/expected/$name.otf"; then
        echo "    $winDir\\$name.otf$note: still as installed; its revision, verified," \
          "waits beside it as ${pending##*/} for the next start of Windows"
      else
        echo "    $winDir\\$name.otf$note: its revision does NOT wait beside it as it should"
        status=1
      fi
      continue
    fi
    if [ -e "$WORK/expected/$name.otf" ] && cmp -s "$dir/$name.otf" "$WORK/expected/$name.otf"; then
      echo "    $winDir\\$name.otf$note: revised to its next release and verified (carries its own serial number)"
      [ "$should" != unchanged ] || status=1
    elif cmp -s "$dir/$name.otf" "$FONTS/$name.otf"; then
      echo "    $winDir\\$name.otf$note: unchanged$([ "$name" = "$OTHER_FONT" ] && echo ' (no difference file applies to it)')"
      [ "$should" != revised ] || status=1
    else
      echo "    $winDir\\$name.otf$note: DIFFERS from both the installed and the revised font"
      status=1
    fi
    if [ -n "$pending" ] && [[ "${WAITING:-}" != "$winDir\\"* ]]; then
      echo "    $winDir: LEFT BESIDE THE FONTS: $(printf '%s\n' "$pending" | sed 's|.*/||' | tr '\n' ' ')"
      status=1
    fi
  done <<EOF
$C/windows/Fonts|C:\\windows\\Fonts|${TARGETS[0]}|
$USER_FONTS|$USER_FONTS_WIN|${TARGETS[0]}| (installed for one user only)
$D/Fonts|D:\\Fonts|${TARGETS[1]}|${IN_USE_NOTE:-}
$D/Fonts|D:\\Fonts|$OTHER_FONT|
EOF
}

# capture TITLE: the texts of the dialog titled TITLE read as soon as it has
# shown its first report, for a dialog that may be gone before a screenshot
# is taken; the next `checked` uses them.
capture() {
  dialog_texts "$1" 30 300 >"$WORK/captured.txt" &
  CAPTURE_PID=$!
}

# checked NAME TITLE WANTED...: a screenshot NAME of the dialog titled TITLE,
# and its texts checked (see `says`); a dialog that does not say what it
# should fails the demo at the end.
checked() {
  local name=$1 title=$2 texts
  shift 2
  shot "$name"
  if [ -n "${CAPTURE_PID:-}" ]; then
    wait "$CAPTURE_PID" || true
    CAPTURE_PID=
    texts=$(cat "$WORK/captured.txt")
  else
    texts=$(dialog_texts "$title" 5) || true  # a dialog gone: said below, not a silent end
  fi
  if says "$texts" "$title" "$@"; then
    echo "    $name.png: $title"
  else
    echo "    $name.png: $title: DOES NOT SAY WHAT IT SHOULD"
    status=1
  fi
}

ABOUT="Korvaneフォント Updaterのﾊﾞｰｼﾞｮﾝ情報"
abort_question='フォントの改訂を中止します。\n\n中止する場合は、”はい”ボタン、\n中止しない場合は、”いいえ”ボタンを押してください。'
status=0
if [ "$interactive" = 1 ]; then
  log "running the program on $DISPLAY: it is yours to drive"
  (cd "$app" && "$WINE" upd.exe)
  log "what became of each font"
  report any
else
  log "1. a whole revision under Xvfb, driven from the keyboard; screenshots in $native/demo/screenshots"
  log "   all along, a helper holds $HELD as Windows holds a font it has loaded"
  hold_font "$HELD" || { echo "    the helper could not hold the font"; status=1; }
  start_program
  start=$(wait_window "$TITLE")
  checked 01-start-dialog "$TITLE" 'コルヴァンOpenTypeフォント製品に対する改訂プログラムです。' '次へ' '中　止'
  key "$start" Escape                       # 中止: the question
  question=$(wait_window "$CONFIRM")
  checked 02-stop-question "$CONFIRM" "$abort_question" 'はい' 'いいえ'
  key "$question" Escape                    # いいえ: the start dialog stays
  wait_gone "$CONFIRM" 20
  key "$start" Return                       # 次へ: the search
  search=$(wait_window "検索中" 30)
  checked 03-searching "検索中" 'しばらくお待ちください。\n\n対象となるフォントを検索中です。' '中　止' '~を検索しています。$'
  key "$search" space                       # 中止 (the focused button)
  question=$(wait_window "$CONFIRM" 30)
  checked 04-stop-search-question "$CONFIRM" 'はい' 'いいえ' \
    '改訂対象フォントの検索を中止します。\n\n中止する場合は、”はい”ボタン、\n中止しない場合は、”いいえ”ボタンを押してください。'
  key "$question" Escape                    # いいえ: the search goes on
  main=$(wait_main_dialog "$start")
  checked 05-fonts-found "$TITLE" '実行' '中止' \
    '検索した結果、下記のフォントが改訂の対象となります。\n\n\n改訂を実行する場合は、”実行”を押してください。'
  key "$main" alt+space                     # the system menu; its last entry:
  sleep 0.5
  xdotool key Up Return                     # the version information
  about=$(wait_window "$ABOUT" 20)
  checked 06-about "$ABOUT" 'OK'
  key "$about" Return
  wait_gone "$ABOUT" 20
  capture "フォントを改訂中"
  key "$main" Return                        # 実行
  wait_window "フォントを改訂中" 30 >/dev/null
  checked 07-revising "フォントを改訂中" '全体の進捗' '現在の進捗' '中　止' '~^[0-9]+%$' '~の改訂をしています。$'
  end=$(wait_window "$CONFIRM" 120)
  checked 08-revision-ended "$CONFIRM" '再起動' 'キャンセル' \
    '改訂が正常に終了しました。\n\n改訂したフォントを有効にする為に、システムを再起動します。\n再起動する場合は、”再起動”を押してください。'
  key "$end" Escape                         # キャンセル: no restart
  wait_program_end 60
  log "what became of each font"
  IN_USE_NOTE=" (in use)" WAITING=$HELD report revised
  log "the helper lets the font in use go, and Windows starts again (wineboot -r)"
  release_font || { echo "    the helper did not end"; status=1; }
  "$WINE" wineboot -r >/dev/null 2>&1
  log "what became of each font after the restart"
  IN_USE_NOTE=" (in use during the run, replaced at the restart)" report revised

  log "2. the fonts as before, and the first one's difference file damaged in transit"
  install_all_fonts
  damaged="$app/host/${TARGETS[0]}.pa"
  truncate -s 64 "$damaged"                 # the header is intact, the tables are gone
  rm -rf "$D/Archive"                       # a short search this time
  run_to_end_dialog
  end=$END_WINDOW
  checked 09-revision-failed "$CONFIRM" 'はい' "改訂ファイル(${TARGETS[0]}.pa)の読み込みに失敗しました。"
  key "$end" Return
  wait_program_end 60
  log "what became of each font: the run stopped at the first, before anything was written"
  report unchanged
fi

stop_all
trap - EXIT
log "the demo machine (Wine prefix, $(du -sh "$WORK/prefix" | cut -f1)) stays in $native/demo/prefix;" \
  "remove all the demo made with: rm -rf build-demo build-win"
[ "$status" -eq 0 ] || log "something was not as it should be: see above"
exit $status

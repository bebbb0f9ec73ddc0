# The demo's journey through the program, driven from the keyboard under
# Xvfb: run by scripts/demo.sh on its demo machine and by the Wine
# end-to-end test (tests/wine/e2e.sh) on its own, so that the test command
# fails whenever the README's first command would.
#
#   1. a whole revision through every dialog: the start notice and its stop
#      question answered いいえ, the search window 検索中 and its stop
#      question, the list of fonts found, the version information from its
#      system menu, the progress window, the normal end; a second copy of a
#      target installed for one user only, and the target on D: held as
#      Windows holds a font in use, replaced when Windows starts again;
#   2. a run whose first difference file was damaged in one bit, which the
#      release manifest beside it catches (the failure end).
#
# Each dialog is saved as a screenshot in $SHOTS and its texts are read back
# from the running program and checked.  A dialog that the program would
# soon leave on its own is held on screen by a means the program cannot
# outrun, whatever the machine's speed: the search by its own stop
# question, the progress window by stopping the process (hold in lib.sh).
#
# Source it after lib.sh, once prepare_machine has run; then
# journey_prepare, and journey.  journey sets status to 1 when anything was
# not as it should be.

ABOUT="Korvaneフォント Updaterのﾊﾞｰｼﾞｮﾝ情報"
SEARCHING="検索中"
REVISING="フォントを改訂中"

# journey_prepare: the demo's drives.  An archive of many small folders on
# D:, as a customer's data drive has, so that the search can be seen and
# stopped; a second copy of the first target, installed for the prefix's
# user only.
journey_prepare() {
  mkdir -p "$D/Archive"
  (cd "$D/Archive" && for y in $(seq 2001 2024); do for m in $(seq -w 1 12); do
    for d in $(seq -w 1 12); do echo "$y/$m/$d"; done; done; done | xargs mkdir -p)
  USER_FONTS=$(user_fonts_dir)
  USER_FONTS_WIN="C:\\$(tr / '\\' <<<"${USER_FONTS#"$C"/}")"
  HELD="D:\\Fonts\\${TARGETS[1]}.otf"
  install_all_fonts
}
install_all_fonts() {
  install_fonts
  mkdir -p "$USER_FONTS"
  cp "$FONTS/${TARGETS[0]}.otf" "$USER_FONTS/"
}

# report revised|unchanged|any: what became of each font, against the fonts
# as installed and as revised; what the targets were to become.  While
# WAITING names a font (its Windows path), that font is in use: it is to be
# unchanged, nothing beside it, and its verified revision waiting with its
# record in C:\windows\temp\upd-pending.  Beside every other font nothing
# of the program's is to be left, and with no font waiting, no staging folder.
report() {
  local dir winDir name note should pending staged
  while IFS='|' read -r dir winDir name note; do
    should=unchanged
    [ "$1" = revised ] && [ -e "$WORK/expected/$name.otf" ] && should=revised
    [ "$1" = any ] && should=
    pending=$(find "$dir" -maxdepth 1 -type f -name '~upd*')
    if [ "$winDir\\$name.otf" = "${WAITING:-}" ]; then
      staged=$(find "$C/windows/temp/upd-pending" -maxdepth 1 -type f -name '*.font' 2>/dev/null)
      if cmp -s "$dir/$name.otf" "$FONTS/$name.otf" && [ -z "$pending" ] && [ "$(wc -w <<<"$staged")" -eq 1 ] &&
         cmp -s "$staged" "$WORK/expected/$name.otf"; then
        echo "    $winDir\\$name.otf$note: still as installed; its revision, verified," \
          "waits in C:\\windows\\temp\\upd-pending for the next start of Windows"
      else
        echo "    $winDir\\$name.otf$note: its revision does NOT wait in the staging folder as it should"
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
  if [ -z "${WAITING:-}" ] && [ -e "$C/windows/temp/upd-pending" ]; then
    echo "    C:\\windows\\temp\\upd-pending: LEFT when no font waits"
    status=1
  fi
}

# capture TITLE: the texts of the dialog titled TITLE read as soon as it has
# shown its first report, for a dialog that is gone once the program goes
# on; the next `checked` uses them.
capture() {
  dialog_texts "$1" 30 300 >"$WORK/captured.txt" &
  CAPTURE_PID=$!
}

# checked NAME TITLE WANTED...: a screenshot NAME of the dialog titled TITLE
# (SHOT=no: taken already), and its texts checked (see `says`); a dialog
# that does not say what it should fails the journey at the end.
checked() {
  local name=$1 title=$2 texts
  shift 2
  [ "${SHOT:-}" = no ] || shot "$name"
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

# missed WHAT: a dialog of the journey did not come; the journey fails.
missed() {
  echo "    MISSING: $1"
  status=1
}

journey() {
  local abort_question='フォントの改訂を中止します。\n\n中止する場合は、”はい”ボタン、\n中止しない場合は、”いいえ”ボタンを押してください。'
  local start question search main about end held
  log "1. a whole revision under Xvfb, driven from the keyboard; screenshots in ${SHOTS#"$PWD"/}"
  log "   all along, a helper holds $HELD as Windows holds a font it has loaded"
  hold_font "$HELD" || missed "the helper could not hold the font within 20 s"
  start_program
  start=$(wait_window "$TITLE") || { missed "the start dialog"; return; }
  checked 01-start-dialog "$TITLE" 'コルヴァンOpenTypeフォント製品に対する改訂プログラムです。' '次へ' '中　止'
  key "$start" Escape                       # 中止: the question
  question=$(wait_window "$CONFIRM") || { missed "the stop question of the start dialog"; return; }
  checked 02-stop-question "$CONFIRM" "$abort_question" 'はい' 'いいえ'
  key "$question" Escape                    # いいえ: the start dialog stays
  wait_gone "$CONFIRM" 20
  key "$start" Return                       # 次へ: the search
  search=$(wait_window "$SEARCHING" 30) || { missed "the search window"; return; }
  # The search is held where it is, 中止 pressed (the focused button), and
  # let go: its question then holds it, asked within 50 ms of listing or
  # when the search ends, so the window stays behind the question.
  held=0
  hold "$search" && held=1
  key "$search" space
  resume
  [ "$held" = 1 ] || missed "the search window: the search had ended before it could be held"
  question=$(wait_window "$CONFIRM" 30) || { missed "the stop question of the search"; return; }
  checked 03-searching "$SEARCHING" 'しばらくお待ちください。\n\n対象となるフォントを検索中です。' '中　止'
  SHOT=no checked 04-stop-search-question "$CONFIRM" 'はい' 'いいえ' \
    '改訂対象フォントの検索を中止します。\n\n中止する場合は、”はい”ボタン、\n中止しない場合は、”いいえ”ボタンを押してください。'
  key "$question" Escape                    # いいえ: the search goes on
  main=$(wait_main_dialog "$start") || { missed "the list of fonts found"; return; }
  checked 05-fonts-found "$TITLE" '実行' '中止' \
    '検索した結果、下記のフォントが改訂の対象となります。\n\n\n改訂を実行する場合は、”実行”を押してください。'
  key "$main" alt+space                     # the system menu; its last entry:
  sleep 0.5
  xdotool key Up Return                     # the version information
  about=$(wait_window "$ABOUT" 20) || { missed "the version information"; return; }
  checked 06-about "$ABOUT" 'OK'
  key "$about" Return
  wait_gone "$ABOUT" 20
  capture "$REVISING"
  key "$main" Return                        # 実行
  # The progress window is held still for its screenshot; its texts are
  # the ones captured as it showed its first report.
  if held=$(wait_window "$REVISING" 30); then
    if hold "$held"; then
      shot 07-revising
      resume
    else
      resume
      missed "the progress window: the run had ended before it could be held"
    fi
  else
    missed "the progress window"
  fi
  # The line shows whichever step the revision was at: opening, reading,
  # revising, writing...
  SHOT=no checked 07-revising "$REVISING" '全体の進捗' '現在の進捗' '中　止' '~^[0-9]+%$' '~(しています|んでいます)。$'
  end=$(wait_window "$CONFIRM" 120) || { missed "the end dialog"; return; }
  checked 08-revision-ended "$CONFIRM" '再起動' 'キャンセル' \
    '改訂が正常に終了しました。\n\n改訂したフォントを有効にする為に、システムを再起動します。\n再起動する場合は、”再起動”を押してください。'
  key "$end" Escape                         # キャンセル: no restart
  wait_program_end 60 || status=1
  log "what became of each font"
  IN_USE_NOTE=" (in use)" WAITING=$HELD report revised
  log "the helper lets the font in use go, and Windows starts again (wineboot -r)"
  release_font || missed "the helper's end within 20 s"
  "$WINE" wineboot -r >/dev/null 2>&1
  log "what became of each font after the restart"
  IN_USE_NOTE=" (in use during the run, replaced at the restart)" report revised

  log "2. the fonts as before, and the first one's difference file damaged in transit"
  install_all_fonts
  local damaged="$app/host/${TARGETS[0]}.pa"
  cp "$damaged" "$WORK/intact.pa"
  # One bit of its last literal byte flipped: without the release manifest
  # beside it, such a file would make another font with no word said.
  local last=$(($(stat -c %s "$damaged") - 1))
  printf "\\$(printf %03o $(($(od -An -tu1 -j"$last" -N1 "$damaged") ^ 4)))" |
    dd of="$damaged" bs=1 seek="$last" conv=notrunc status=none
  mv "$D/Archive" "$WORK/Archive"           # a short search this time
  run_to_end_dialog
  end=$END_WINDOW
  if [ -n "$end" ]; then
    checked 09-revision-failed "$CONFIRM" 'はい' "改訂ファイル(${TARGETS[0]}.pa)の読み込みに失敗しました。"
    key "$end" Return
    wait_program_end 60 || status=1
  else
    missed "the failure end"
  fi
  log "what became of each font: the run stopped at the first, before anything was written"
  report unchanged
  mv "$WORK/intact.pa" "$damaged"
  mv "$WORK/Archive" "$D/Archive"
}

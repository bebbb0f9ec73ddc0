#!/usr/bin/env bash
# End-to-end test of the real Windows program under Wine, driven from the
# keyboard: a fresh prefix in the Japanese locale, target fonts in
# C:\windows\Fonts and on a second fixed drive, the program with its host
# folder.  Afterwards the fonts are compared byte for byte with what the
# makers' tool builds from the same inputs, and a screenshot of each dialog
# is kept.  Then the built file's manifest and version information are read
# back, and a revision at 144 and at 96 dpi shows its dialogs centred, on the
# screen and with every text fitting.  Last, the demo's journey
# (tests/wine/journey.sh): a whole revision through every dialog, a font
# held as Windows holds a loaded font replaced at the next start of Windows,
# and a damaged difference file.
#
#   tests/wine/e2e.sh NATIVE_BUILD [WINDOWS_BUILD]
#
# NATIVE_BUILD holds tools/patool and testfonts/ (the test command's build).
set -euo pipefail
cd "$(dirname "$0")/../.."
native=${1:?usage: tests/wine/e2e.sh NATIVE_BUILD [WINDOWS_BUILD]}
winbuild=${2:-build-win}
WORK=$PWD/$native/wine-e2e
SHOTS=$WORK/screenshots
. tests/wine/lib.sh
. tests/wine/journey.sh

patool=$native/tools/patool
fonts=$native/testfonts
[ -x "$patool" ] && [ -e "$fonts/Sorame-Gothic-Pro-W3.otf" ] || { echo "e2e: build the tests first" >&2; exit 2; }

ensure_locale "$PWD/tests/wine/e2e.sh" "$@"
log "building the Windows program"
build_windows_program "$winbuild"

rm -rf "$WORK"
mkdir -p "$SHOTS"
start_x
trap stop_all EXIT

log "preparing a fresh Wine prefix"
# Two targets, one per fixed drive, and a font no difference file applies to.
prepare_machine "$winbuild/upd.exe" "$patool" "$fonts"

failures=0

# ---- The program on today's Windows: its resources, DPI and placement ----
# The manifest, version information, icon sizes and About box, read back
# from the built executable.
check_built_resources() {
  local ok=0
  python3 tests/wine/check_resources.py "$winbuild/upd.exe" >"$WORK/resources.txt" 2>&1 || ok=$?
  sed 's/^/    /' "$WORK/resources.txt"
  return $ok
}

# probe_dialog OUT TITLE FACE POINTS [WAIT_MS]: the probe's report in OUT.
probe_dialog() {
  local out=$1
  shift
  (cd "$WORK" && "$WINE" "$DLGPROBE" measure "$@") 2>>"$WORK/wine.log" | tr -d '\r' >"$out" || true
}
# The dialog in report $1 is wholly on the work area and every text fits.
probe_fits() { grep -q '^verdict ok$' "$1"; }
# The dialog stands in the middle of its owner, or of the work area when it
# has none on screen (to a pixel of rounding; the frame may add one more).
probe_centred() {
  awk '$1 == "window" { x = ($2 + $4) / 2; y = ($3 + $5) / 2 }
       $1 == "expected-centre" { ex = $2; ey = $3 }
       END { dx = x - ex; dy = y - ey; exit !(NR > 0 && dx * dx <= 9 && dy * dy <= 9) }' "$1"
}
# probe_shows REPORT TEXT...: every text is that of a control of the dialog.
probe_shows() {
  local report=$1 text
  shift
  for text in "$@"; do grep -q "^control .* $text" "$report" || return 1; done
}

# set_dpi N: the screen's resolution (Wine's LogPixels), taken up by the next
# Wine process once the running ones are gone.
set_dpi() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w
  "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  "$WINE" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  "$WINESERVER" -w
}

# use_screen WxH: the next Wine processes show on an X server of that size, our
# own (WxH empty: the one the test started with).  Wine's processes end
# first: a new desktop starts on the new server.
SCREEN_XVFB_PID=
use_screen() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w
  if [ -n "$SCREEN_XVFB_PID" ]; then
    kill "$SCREEN_XVFB_PID" 2>/dev/null || true
    SCREEN_XVFB_PID=
    export DISPLAY=$FIRST_DISPLAY
  fi
  [ -n "$1" ] || return 0
  FIRST_DISPLAY=$DISPLAY
  local n=120
  while [ -e "/tmp/.X${n}-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "${1}x24" -nolisten tcp >/dev/null 2>&1 &
  SCREEN_XVFB_PID=$!
  trap 'stop_all; kill "$SCREEN_XVFB_PID" 2>/dev/null || true' EXIT
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "no X server on $DISPLAY" >&2
  return 1
}

# dpi_run N [WxH]: an update run at N dots per inch (on a screen of WxH
# pixels, else the usual one) with the fonts installed anew; the start,
# progress and end dialogs are measured and photographed.
dpi_run() {
  local dpi=$1 start main end r=$WORK/probe-$1
  use_screen "${2:-}"
  set_dpi "$dpi"
  install_fonts
  start_program
  start=$(wait_window "$TITLE")
  probe_dialog "$r-start.txt" "$TITLE" "ＭＳ Ｐゴシック" 9
  key "$start" Return
  main=$(wait_main_dialog "$start")
  # The progress dialog lasts a few seconds: the probe waits for it.
  probe_dialog "$r-progress.txt" "フォントを改訂中" "MS Shell Dlg" 8 30000 &
  local probe=$!
  key "$main" Return
  wait_window "フォントを改訂中" 30 >/dev/null && shot "dpi$dpi-progress" || true
  wait "$probe" || true
  end=$(wait_window "$CONFIRM" 120)
  probe_dialog "$r-end.txt" "$CONFIRM" "MS Shell Dlg" 8
  shot "dpi$dpi-normal-end"
  key "$end" Escape
  check "$dpi dpi: the run ends" wait_program_end 30
  check "$dpi dpi: the resolution is the one asked for" grep -q "^dpi $dpi\$" "$r-end.txt"
  check "$dpi dpi: the progress dialog fits and shows its texts" \
    eval 'probe_fits "$r-progress.txt" && probe_shows "$r-progress.txt" 全体の進捗 現在の進捗 "中　止"'
  check "$dpi dpi: the end dialog fits and shows its texts" \
    eval 'probe_fits "$r-end.txt" && probe_shows "$r-end.txt" 改訂が正常に終了しました。 再起動 キャンセル'
  check "$dpi dpi: the progress dialog is centred" probe_centred "$r-progress.txt"
  check "$dpi dpi: the end dialog is centred" probe_centred "$r-end.txt"
  check "$dpi dpi: the start dialog is centred" probe_centred "$r-start.txt"
  check "$dpi dpi: the font in C:\\windows\\Fonts is revised" same "$C/windows/Fonts/Sorame-Gothic-Pro-W3.otf" "$WORK/expected/Sorame-Gothic-Pro-W3.otf"
  [ -z "${2:-}" ] || use_screen ""
}
# ---- end of the program on today's Windows ----

log "1. a second copy started while the first runs ends silently"
start_program
first=$PROGRAM_PID
start=$(wait_window "$TITLE")
shot 01-start-dialog
second=0
(cd "$app" && timeout 30 "$WINE" upd.exe >>"$WORK/wine.log" 2>&1) || second=$?
check "the second copy ended by itself" test "$second" -ne 124
check "only the first copy's start dialog is shown" test "$(windows_titled "$TITLE" | wc -l)" -eq 1
PROGRAM_PID=$first
key "$start" Escape
question=$(wait_window "$CONFIRM")
shot 02-start-cancel-question
key "$question" Return
check "cancelled at the start dialog" wait_program_end 30
check "fonts untouched" same "$C/windows/Fonts/Sorame-Gothic-Pro-W3.otf" "$fonts/Sorame-Gothic-Pro-W3.otf"

log "2. 中止 in the main dialog, answered いいえ then はい"
start_program
start=$(wait_window "$TITLE")
key "$start" Return
main=$(wait_main_dialog "$start")
shot 03-main-dialog
key "$main" Escape
question=$(wait_window "$CONFIRM")
shot 04-abort-question
key "$question" Escape
wait_gone "$CONFIRM" 20
check "いいえ keeps the main dialog" test -n "$(windows_titled "$TITLE")"
key "$main" Escape
question=$(wait_window "$CONFIRM")
key "$question" Return
check "はい ends the program" wait_program_end 30
check "fonts untouched after the abort" same "$D/Fonts/Sorame-Mincho-Std-W5.otf" "$fonts/Sorame-Mincho-Std-W5.otf"

# ---- per-user font (begin) -------------------------------------------------
# A font installed for one user lives in that user's profile, deeper than
# the walk of the drives goes: it is found after the walk and revised in
# place.  A copy in a folder below the user's font folder is not searched.
per_user_font_case() {
  log "3. a font installed for one user only"
  local userfonts
  userfonts=$(user_fonts_dir)
  mkdir -p "$userfonts/kept"
  cp "$fonts/Sorame-Gothic-Pro-W3.otf" "$userfonts/"
  cp "$fonts/Sorame-Gothic-Pro-W3.otf" "$userfonts/kept/"
  start_program
  local start main end
  start=$(wait_window "$TITLE")
  key "$start" Return
  main=$(wait_main_dialog "$start")
  shot 07-per-user-listing
  key "$main" Return
  end=$(wait_window "$CONFIRM" 120)
  key "$end" Escape
  check "the run ends" wait_program_end 30
  check "the user's font is revised byte for byte" same "$userfonts/Sorame-Gothic-Pro-W3.otf" "$WORK/expected/Sorame-Gothic-Pro-W3.otf"
  check "the copy below the user's font folder is untouched" same "$userfonts/kept/Sorame-Gothic-Pro-W3.otf" "$fonts/Sorame-Gothic-Pro-W3.otf"
  check "nothing is left beside the user's font" test "$(ls -A "$userfonts" | wc -l)" -eq 2
}
per_user_font_case
# ---- per-user font (end) ---------------------------------------------------

log "4. the built program's manifest and version information; SHA-256 from Wine's bcrypt.dll; the run at 96 and 144 dpi"
check "manifest, version information, icon sizes and About box of upd.exe" check_built_resources
sha256_vectors() {
  cmake --build "$winbuild" --target sha256_vectors | build_progress
  (cd "$winbuild" && "$WINE" sha256_vectors.exe) 2>>"$WORK/wine.log" | tr -d '\r' >"$WORK/sha256.txt" || true
  sed 's/^/    /' "$WORK/sha256.txt"
  grep -qx 'sha256: ok' "$WORK/sha256.txt"
}
check "the engine's SHA-256 through the system's library gives the published digests" sha256_vectors
check "the host folder holds the release manifest that patool make wrote" \
  grep -q "  ${TARGETS[0]}.pa#source\$" "$app/host/release.sha256"
# 150 % on a screen of 1920 x 1080, as on a common laptop; 100 % on the
# usual small one.
dpi_run 144 1920x1080
dpi_run 96  # last, so that what follows runs at the usual resolution

# ---- the demo's journey (begin) --------------------------------------------
# scripts/demo.sh's journey (tests/wine/journey.sh): a whole revision
# through every dialog, with the font on D: held as Windows holds a font in
# use and replaced at the next start of Windows, then a damaged difference
# file.  Last of all, so that no later step boots Wine with a move still
# scheduled.
demo_journey() {
  log "5. the demo's journey"
  local shots=$SHOTS status=0
  SHOTS=$SHOTS/journey
  journey_prepare
  journey
  SHOTS=$shots
  check "the demo's journey: every dialog came and said what it should, every font became what it should" \
    test "$status" -eq 0
  check "no temporary file is left" test -z "$(find "$C/windows/temp" "$C/users" -maxdepth 6 -type f \
    -newer "$WORK/expected/Sorame-Mincho-Std-W5.otf" -regex '.*/[0-9]+' 2>/dev/null)"
}
demo_journey
# ---- the demo's journey (end) ----------------------------------------------

log "screenshots: $SHOTS"
if [ "$failures" -ne 0 ]; then
  log "Wine end-to-end: $failures check(s) failed"
  exit 1
fi
log "Wine end-to-end: all checks passed"

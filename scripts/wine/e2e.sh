#!/usr/bin/env bash
# End-to-end test of the real Windows program under Wine, driven from the
# keyboard: a fresh prefix in the Japanese locale, target fonts in
# C:\windows\Fonts and on a second fixed drive, the program with its host
# folder.  Afterwards the fonts are compared byte for byte with what the
# makers' tool builds from the same inputs, and a screenshot of each dialog
# is kept.
#
#   scripts/wine/e2e.sh NATIVE_BUILD [WINDOWS_BUILD]
#
# NATIVE_BUILD holds tools/patool and testfonts/ (the test command's build).
set -euo pipefail
cd "$(dirname "$0")/../.."
native=${1:?usage: scripts/wine/e2e.sh NATIVE_BUILD [WINDOWS_BUILD]}
winbuild=${2:-build-win}
WORK=$PWD/$native/wine-e2e
SHOTS=$WORK/screenshots
. scripts/wine/lib.sh

patool=$native/tools/patool
fonts=$native/testfonts
[ -x "$patool" ] && [ -e "$fonts/Sorame-Gothic-Pro-W3.otf" ] || { echo "e2e: build the tests first" >&2; exit 2; }

log "building the Windows program"
build_windows_program "$winbuild"

ensure_locale
rm -rf "$WORK"
mkdir -p "$SHOTS"
start_x
trap stop_all EXIT

log "preparing a fresh Wine prefix"
# Two targets, one per fixed drive, and a font no difference file applies to.
prepare_machine "$winbuild/upd.exe" "$patool" "$fonts"

failures=0
check() {  # check WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then log "ok: $what"; else log "FAILED: $what"; failures=$((failures + 1)); fi
}
same() { cmp -s "$1" "$2"; }

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

log "3. the update run, ended with キャンセル"
start_program
start=$(wait_window "$TITLE")
key "$start" Return
main=$(wait_main_dialog "$start")
key "$main" Return
progress=$(wait_window "フォントを改訂中" 30) && shot 05-progress || true
end=$(wait_window "$CONFIRM" 120)
shot 06-normal-end
key "$end" Escape
check "キャンセル ends the program" wait_program_end 30
check "the font in C:\\windows\\Fonts is revised" same "$C/windows/Fonts/Sorame-Gothic-Pro-W3.otf" "$WORK/expected/Sorame-Gothic-Pro-W3.otf"
check "the font on D: is revised" same "$D/Fonts/Sorame-Mincho-Std-W5.otf" "$WORK/expected/Sorame-Mincho-Std-W5.otf"
check "the other font is untouched" same "$D/Fonts/Sorame-Maru-Std-W8.otf" "$fonts/Sorame-Maru-Std-W8.otf"
check "no temporary file is left" test -z "$(find "$C/windows/temp" "$C/users" -maxdepth 6 -type f -newer "$WORK/expected/Sorame-Mincho-Std-W5.otf" -regex '.*/[0-9]+' 2>/dev/null)"

log "screenshots: $SHOTS"
if [ "$failures" -ne 0 ]; then
  log "Wine end-to-end: $failures check(s) failed"
  exit 1
fi
log "Wine end-to-end: all checks passed"

#!/usr/bin/env bash
# Fonts in use, with the real Windows program under Wine, driven from the
# keyboard under Xvfb; a screenshot of what the user is told each time:
#   1. a font another process holds open, in a folder only administrators
#      can change, waits in the staging folder and is the revision after
#      Wine starts again (wineboot -r runs the program's RunOnce value);
#   2. the same in a folder a user can change (chmod o+w, which Wine shows
#      as Everyone's write access): the font is left alone, nothing is
#      scheduled, and the end dialog says the font is in use;
#   3. a font another process loaded with AddFontResource is revised in
#      place, without a restart.
#
#   tests/wine/inuse.sh NATIVE_BUILD [WINDOWS_BUILD]
set -euo pipefail
cd "$(dirname "$0")/../.."
native=${1:?usage: tests/wine/inuse.sh NATIVE_BUILD [WINDOWS_BUILD]}
winbuild=${2:-build-win}
WORK=$PWD/$native/wine-inuse
. tests/wine/lib.sh

patool=$native/tools/patool
fonts=$native/testfonts
[ -x "$patool" ] && [ -e "$fonts/Sorame-Gothic-Pro-W3.otf" ] || { echo "inuse: build the tests first" >&2; exit 2; }
ensure_locale "$PWD/tests/wine/inuse.sh" "$@"

log "building the Windows program"
build_windows_program "$winbuild"
rm -rf "$WORK"
mkdir -p "$WORK"
SHOTS=$WORK/screenshots
start_x
trap stop_all EXIT
log "preparing a fresh Wine prefix"
prepare_machine "$winbuild/upd.exe" "$patool" "$fonts"

failures=0
FONT='D:\Fonts\Sorame-Mincho-Std-W5.otf'
font=$D/Fonts/${TARGETS[1]}.otf
staging=$C/windows/temp/upd-pending
RUNONCE='HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'
ENDED='改訂が正常に終了しました。\n\n改訂したフォントを有効にする為に、システムを再起動します。\n再起動する場合は、”再起動”を押してください。'

# load_font FONT: the font loaded for the session by fontholder.exe /load.
load_font() {
  rm -f "$C/fontholder.stop"
  (cd "$FONTHOLDER_DIR" && "$WINE" fontholder.exe /load "$1" "$HOLDER_STOP") \
    >"$WORK/fontholder.out" 2>>"$WORK/wine.log" &
  HOLDER_PID=$!
  for _ in $(seq 100); do grep -q '^held' "$WORK/fontholder.out" && return 0; sleep 0.2; done
  return 1
}
# run_told NAME WANTED...: a whole run through the dialogs; the end dialog
# saved as NAME.png and its texts checked; キャンセル (no restart).
run_told() {
  local name=$1 texts
  shift
  run_to_end_dialog
  [ -n "${END_WINDOW:-}" ] || return 1
  shot "$name"
  texts=$(dialog_texts "$CONFIRM" 5) || true
  key "$END_WINDOW" Escape
  wait_program_end 60 || return 1
  says "$texts" "$CONFIRM" "$@"
}
runonce_set() { "$WINE" reg query "$RUNONCE" /v upd-complete >/dev/null 2>&1; }
nothing_beside() { [ -z "$(find "$D/Fonts" -maxdepth 1 -name '~upd*')" ]; }
staged_is_revision() {
  [ "$(find "$staging" -maxdepth 1 -type f | wc -l)" -eq 2 ] &&
    same "$(find "$staging" -maxdepth 1 -name '*.font')" "$WORK/expected/${TARGETS[1]}.otf"
}

log "1. a font held open in a folder only administrators can change"
check "the helper holds $FONT" hold_font "$FONT"
check "the end dialog asks for the restart (01-held-font-waits.png)" run_told 01-held-font-waits "$ENDED"
check "the held font is still as installed" same "$font" "$fonts/${TARGETS[1]}.otf"
check "its verified revision and its record wait in C:\\windows\\temp\\upd-pending" staged_is_revision
check "the completion is registered to run once at the next start" runonce_set
check "nothing is left beside the font" nothing_beside
check "the helper lets the font go" release_font
log "   Wine starts again (wineboot -r)"
"$WINE" wineboot -r >/dev/null 2>&1
"$WINESERVER" -w
check "after the restart the font is the revision, byte for byte" same "$font" "$WORK/expected/${TARGETS[1]}.otf"
check "nothing of the program's is left: no staging folder" test ! -e "$staging"
check "no RunOnce value" eval '! runonce_set'

log "2. a font held open in a folder a user can change (chmod o+w)"
install_fonts
chmod o+w "$D/Fonts"
check "the helper holds $FONT" hold_font "$FONT"
check "the end dialog says the font is in use (02-held-font-in-user-folder.png)" run_told 02-held-font-in-user-folder \
  "~^フォントファイル\\(D:.Fonts.${TARGETS[1]}\\.otf\\)は、ほかのプログラムで使用中のため改訂できませんでした。"
check "the font is left as installed" same "$font" "$fonts/${TARGETS[1]}.otf"
check "nothing is scheduled" test ! -e "$staging"
check "no RunOnce value" eval '! runonce_set'
check "nothing is left beside the font" nothing_beside
check "the helper lets the font go" release_font
chmod o-w "$D/Fonts"

log "3. a font loaded by another process (AddFontResource)"
install_fonts
check "the helper loads $FONT" load_font "$FONT"
check "the end dialog says the run ended normally (03-loaded-font-ended.png)" run_told 03-loaded-font-ended "$ENDED"
check "the loaded font is revised at once, byte for byte" same "$font" "$WORK/expected/${TARGETS[1]}.otf"
check "nothing waits for a restart" test ! -e "$staging"
check "nothing is left beside the font" nothing_beside
check "the helper ends" release_font

log "screenshots in $SHOTS"
if [ "$failures" -gt 0 ]; then
  log "inuse: $failures check(s) failed"
  exit 1
fi
log "inuse: every check passed"

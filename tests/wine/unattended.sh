#!/usr/bin/env bash
# The real Windows program run unattended under Wine with no display at all
# (DISPLAY unset, no X server), as a deployment agent runs it: /check before,
# a second copy refused while another holds the machine-wide name, a /quiet
# run with a log, /check after.  Exit codes are read through cmd.exe, which
# keeps all 32 bits of them (a Unix exit status keeps 8).  Last, with an X
# server of its own, the same fonts revised interactively, for the figure of
# the two run times.
#
#   tests/wine/unattended.sh NATIVE_BUILD [WINDOWS_BUILD]
set -euo pipefail
cd "$(dirname "$0")/../.."
native=${1:?usage: tests/wine/unattended.sh NATIVE_BUILD [WINDOWS_BUILD]}
winbuild=${2:-build-win}
WORK=$PWD/$native/wine-unattended
. tests/wine/lib.sh

patool=$native/tools/patool
fonts=$native/testfonts
[ -x "$patool" ] && [ -e "$fonts/Sorame-Gothic-Pro-W3.otf" ] || { echo "unattended: build the tests first" >&2; exit 2; }

log "building the Windows program"
build_windows_program "$winbuild"
rm -rf "$WORK"
mkdir -p "$WORK"
cmake --build "$winbuild" --target mutexholder | build_progress
cp "$winbuild/mutexholder.exe" "$WORK/"

ensure_locale
unset DISPLAY
trap stop_all EXIT

log "preparing a fresh Wine prefix (no display)"
prepare_machine "$winbuild/upd.exe" "$patool" "$fonts"
mkdir -p "$C/deploy"
# What a deployment agent runs: the program, then its exit code.
printf '@"C:\\Program Files\\Sorame\\Updater\\upd.exe" %%*\r\n@echo exit=%%ERRORLEVEL%%\r\n' >"$C/deploy/run.bat"

failures=0
# run ARGS...: the program's exit code, all of it.
run() {
  # cmd.exe ends with the program's code too, which is no failure here.
  { "$WINE" cmd /c 'C:\deploy\run.bat' "$@" 2>>"$WORK/wine.log" || true; } | tr -d '\r' | sed -n 's/^exit=//p' | tail -n 1
}
untouched() {
  same "$C/windows/Fonts/${TARGETS[0]}.otf" "$fonts/${TARGETS[0]}.otf" &&
    same "$D/Fonts/${TARGETS[1]}.otf" "$fonts/${TARGETS[1]}.otf"
}
revised() {
  same "$C/windows/Fonts/${TARGETS[0]}.otf" "$WORK/expected/${TARGETS[0]}.otf" &&
    same "$D/Fonts/${TARGETS[1]}.otf" "$WORK/expected/${TARGETS[1]}.otf"
}

log "1. /check before: work needed"
code=$(run /check)
check "/check says work is needed (1, got $code)" test "$code" = 1
check "/check revised nothing" untouched

log "2. a copy started while another holds the machine-wide name"
rm -f "$C/holder.stop"
("$WINE" "$WORK/mutexholder.exe" 'Global\upd.EXE' 'C:\holder.stop' >"$WORK/holder.out" 2>>"$WORK/wine.log") &
holder=$!
for _ in $(seq 100); do grep -q '^held' "$WORK/holder.out" 2>/dev/null && break; sleep 0.2; done
check "the name is held" grep -q '^held' "$WORK/holder.out"
code=$(run /quiet /log 'C:\deploy\busy.log')
check "/quiet returns 1618 (got $code)" test "$code" = 1618
check "the refused copy revised nothing" untouched
check "its log says why" grep -q 'another copy runs' "$C/deploy/busy.log"
touch "$C/holder.stop"
wait "$holder" || true

log "3. /quiet /log: the whole revision, no window, no display"
t0=$(date +%s%N)
code=$(run /quiet /log 'C:\deploy\upd.log')
t1=$(date +%s%N)
quiet_ms=$(((t1 - t0) / 1000000))
check "/quiet returns 3010 (got $code)" test "$code" = 3010
check "both fonts are the makers' revision, byte for byte" revised
logfile="$C/deploy/upd.log"
check "the log begins with a UTF-8 byte-order mark" test "$(head -c 3 "$logfile" | od -An -tx1 | tr -d ' ')" = efbbbf
check "the log has a time to the millisecond on every line" \
  bash -c "tail -c +4 '$logfile' | tr -d '\r' | grep -vqE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} ' && exit 1 || exit 0"
check "the log names each font's result" test "$(grep -c 'result=0 message=改訂が正常に終了しました。' "$logfile")" = 2
check "the log ends with the exit code" bash -c "tail -n 1 '$logfile' | tr -d '\r' | grep -q 'exit 3010\$'"
sed 's/^/    /' "$logfile" | tr -d '\r'

log "4. /check after: nothing to do"
code=$(run /check)
check "/check says nothing is left (0, got $code)" test "$code" = 0

log "4b. logs planted as links: never written through"
printf 'precious' >"$C/deploy/precious.txt"
ln -s precious.txt "$C/deploy/symbolic.log"
ln "$C/deploy/precious.txt" "$C/deploy/hard.log"
temp=$(find "$C/users" -maxdepth 4 -type d -iname temp | head -1)
rm -f "$temp"/upd*.log
for planted in symbolic hard; do
  code=$(run /quiet /log "C:\\deploy\\$planted.log")
  check "/quiet with a $planted link as its log returns 0 (got $code)" test "$code" = 0
  check "the file behind the $planted link is untouched" test "$(cat "$C/deploy/precious.txt")" = precious
done
check "the default log took their lines and says why" test "$(grep -c 'is not trusted' "$temp/upd.log")" = 2
# The default log, in the account's temporary folder: kept by the first
# run, trusted and appended to by the second.
rm -f "$temp"/upd*.log
run /quiet >/dev/null
run /quiet >/dev/null
check "two runs append to one default log ($temp)" \
  bash -c "[ \$(ls '$temp' | grep -c '^upd.*\\.log\$') = 1 ] && [ \$(grep -c 'exit 0' '$temp/upd.log') = 2 ]"

log "5. the same fonts revised interactively (an X server of our own), for the figure"
# The figure only: a display that does not come up leaves it out, and the
# checks above stand.
interactive() {
  install_fonts
  local t0 t1
  t0=$(date +%s%N)
  run_to_end_dialog || return 1
  key "$END_WINDOW" Escape  # キャンセル: no restart
  wait_program_end 60 && revised || return 1
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000000))
}
interactive_ms=n/a
# Wine's desktop was started without a display: it goes first, so that the
# next one draws on the X server.
"$WINESERVER" -k >/dev/null 2>&1 || true
"$WINESERVER" -w
if start_x; then interactive_ms=$(interactive) || interactive_ms=n/a; fi
log "FIGURE unattended /quiet run ${quiet_ms} ms; interactive run ${interactive_ms} ms (keyboard-driven, with its waits for windows)"

if [ "$failures" -ne 0 ]; then
  log "$failures check(s) failed; Wine's output: $WORK/wine.log"
  exit 1
fi
log "all unattended checks passed"

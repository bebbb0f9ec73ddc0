#!/usr/bin/env bash
# The program on a demo machine: installs what is needed, builds the Windows
# program and the makers' tool, prepares a Wine prefix holding sample target
# fonts (made from Debian's Noto CJK and named from the catalogue) with their
# difference files in host\ beside the program, and runs the program on it.
#
# With a display (DISPLAY set) the program is yours to drive.  Without one it
# runs in a virtual X server, driven from the keyboard through the journey
# of tests/wine/journey.sh (which the Wine end-to-end test runs too): a
# whole revision through every dialog, the target on D: held as Windows
# holds a font in use and replaced when Windows starts again, then a run
# whose difference file was damaged.  Each dialog is saved as a screenshot
# and its texts are checked.  The end tells what became of each font.
# Everything the demo makes stays in build-demo/ and build-win/.
set -euo pipefail
cd "$(dirname "$0")/.."
. tests/wine/lib.sh
. tests/wine/journey.sh

if [ -z "$RESUMED" ]; then  # not again once started again with the locale
  log "installing the Debian packages that are missing (none on a second run)"
  scripts/install-deps.sh demo
fi
ensure_locale "$PWD/scripts/demo.sh"

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
interactive=0
[ -n "${DISPLAY:-}" ] && [ -z "${FORCE_XVFB:-}" ] && interactive=1
rm -rf "$WORK"
start_x
trap stop_all EXIT

log "preparing the demo machine: a fresh Wine prefix in $native/demo/prefix"
prepare_machine build-win/upd.exe "$native/tools/patool" "$fonts"
journey_prepare
echo "program:          C:\\Program Files\\Sorame\\Updater\\upd.exe"
echo "difference files: $(cd "$app/host" && ls | tr '\n' ' ')"
echo "fonts:            C:\\windows\\Fonts\\${TARGETS[0]}.otf, D:\\Fonts\\${TARGETS[1]}.otf, D:\\Fonts\\$OTHER_FONT.otf,"
echo "                  and for one user only $USER_FONTS_WIN\\${TARGETS[0]}.otf"

status=0
if [ "$interactive" = 1 ]; then
  log "running the program on $DISPLAY: it is yours to drive"
  (cd "$app" && "$WINE" upd.exe)
  log "what became of each font"
  report any
else
  journey
fi

stop_all
trap - EXIT
log "the demo machine (Wine prefix, $(du -sh "$WORK/prefix" | cut -f1)) stays in $native/demo/prefix;" \
  "remove all the demo made with: rm -rf build-demo build-win"
[ "$status" -eq 0 ] || log "something was not as it should be: see above"
exit $status

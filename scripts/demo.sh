#!/usr/bin/env bash
# The program on a demo machine: installs what is needed, builds the Windows
# program and the makers' tool, prepares a Wine prefix holding sample target
# fonts (made from Debian's Noto CJK and named from the catalogue) with their
# difference files in host\ beside the program, and runs the program on it.
#
# With a display (DISPLAY set) the program is yours to drive.  Without one it
# runs in a virtual X server, driven from the keyboard through the whole
# revision; a screenshot of each dialog is saved.  Either way the end tells
# what became of each font.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh demo

native=build-demo
log_step() { printf '\n== %s\n' "$*"; }

log_step "building the makers' tool and the sample fonts"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$native" -j"$(nproc)" --target patool >/dev/null
fonts=$native/testfonts
[ -e "$fonts/Sorame-Gothic-Pro-W3.rev.otf" ] || /usr/bin/python3 tests/fonts/make_test_fonts.py "$fonts" >/dev/null
patool=$native/tools/patool

log_step "building the Windows program"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j"$(nproc)" --target upd >/dev/null

WORK=$PWD/$native/demo
SHOTS=$WORK/screenshots
. scripts/wine/lib.sh
ensure_locale
interactive=0
[ -n "${DISPLAY:-}" ] && [ -z "${FORCE_XVFB:-}" ] && interactive=1
rm -rf "$WORK"
mkdir -p "$WORK/expected"
start_x
trap stop_all EXIT

log_step "preparing the demo machine (a fresh Wine prefix)"
new_prefix "$WORK/prefix"
C=$WINEPREFIX/drive_c
D=$WINEPREFIX/drive_d
app="$C/Program Files/Sorame/Updater"
mkdir -p "$app/host" "$D/Fonts"
cp build-win/upd.exe "$app/"

# name|installed at (host path)|Windows path
targets=(
  "Sorame-Gothic-Pro-W3|$C/windows/Fonts|C:\\windows\\Fonts"
  "Sorame-Mincho-Std-W5|$D/Fonts|D:\\Fonts"
)
for t in "${targets[@]}"; do
  IFS='|' read -r name dir _ <<<"$t"
  cp "$fonts/$name.otf" "$dir/"
  "$patool" make "$fonts/$name.otf" "$fonts/$name.rev.otf" "$app/host/$name.pa" >/dev/null
  "$patool" apply "$fonts/$name.otf" "$app/host/$name.pa" "$WORK/expected/$name.otf" >/dev/null
done
# A font of the same family that no difference file applies to.
cp "$fonts/Sorame-Maru-Std-W8.otf" "$D/Fonts/"
echo "program:          C:\\Program Files\\Sorame\\Updater\\upd.exe  ($app)"
echo "difference files: $(cd "$app/host" && ls | tr '\n' ' ')"
echo "fonts:            C:\\windows\\Fonts\\Sorame-Gothic-Pro-W3.otf, D:\\Fonts\\Sorame-Mincho-Std-W5.otf, D:\\Fonts\\Sorame-Maru-Std-W8.otf"

if [ "$interactive" = 1 ]; then
  log_step "running the program on $DISPLAY: it is yours to drive"
  (cd "$app" && "$WINE" upd.exe)
else
  log_step "running the program under Xvfb, driven from the keyboard"
  start_program
  start=$(wait_window "$TITLE")
  shot 1-start-dialog
  key "$start" Return                       # 次へ
  main=$(wait_main_dialog "$start")
  shot 2-fonts-found
  key "$main" Return                        # 実行
  wait_window "フォントを改訂中" 30 >/dev/null && shot 3-revising || true
  end=$(wait_window "$CONFIRM" 120)
  shot 4-revision-ended
  key "$end" Escape                         # キャンセル: no restart
  wait_program_end 60
  echo "screenshots:      $SHOTS"
  ls "$SHOTS" | sed 's/^/                  /'
fi

log_step "what became of each font"
status=0
for t in "${targets[@]}"; do
  IFS='|' read -r name dir winDir <<<"$t"
  if cmp -s "$dir/$name.otf" "$WORK/expected/$name.otf"; then
    echo "$winDir\\$name.otf: revised to its next release and verified (carries its own serial number)"
  elif cmp -s "$dir/$name.otf" "$fonts/$name.otf"; then
    echo "$winDir\\$name.otf: unchanged"
  else
    echo "$winDir\\$name.otf: DIFFERS from both the installed and the revised font"
    status=1
  fi
done
if cmp -s "$D/Fonts/Sorame-Maru-Std-W8.otf" "$fonts/Sorame-Maru-Std-W8.otf"; then
  echo "D:\\Fonts\\Sorame-Maru-Std-W8.otf: unchanged (no difference file applies to it)"
else
  echo "D:\\Fonts\\Sorame-Maru-Std-W8.otf: CHANGED although nothing applies to it"
  status=1
fi
exit $status

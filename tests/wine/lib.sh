# Shared by the Wine end-to-end test and the demo: the Windows program built,
# a fresh Wine prefix in the Japanese locale with the program, its host
# folder and target fonts on two fixed drives, an X server, keyboard driving
# through xdotool, and the texts of the dialogs on screen.
#
# Source it, then call the functions; every path is below $WORK.

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer dialogs

# log TEXT: one line per stage, with the time since the script began (a
# script started again by ensure_locale counts on).
RESUMED=
if [ -n "${RESUMED_SECONDS:-}" ]; then SECONDS=$RESUMED_SECONDS RESUMED=1; unset RESUMED_SECONDS; fi
log() { printf '[%d:%02d] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"; }

# ensure_locale SCRIPT [ARGS...]: Wine takes code page 932 from the locale.
# A shell knows only the locales that existed when it started, and warns at
# every use of one made since; so when the locale has to be made, the
# script (SCRIPT, an absolute path) starts again with it set from the
# start.  Call it before any long step.
ensure_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
    log "the Japanese locale is made; the script starts again with it"
    RESUMED_SECONDS=$SECONDS exec env LC_ALL=ja_JP.UTF-8 bash "$@"
  fi
  export LC_ALL=ja_JP.UTF-8
}

# build_progress: the build tool's progress lines ("[ 42%] Building ..."),
# indented; the compiler's messages go to the terminal unfiltered.
build_progress() { sed -nu 's/^\(\[ *[0-9]*%\]\)/    \1/p'; }

# build_windows_program DIR: upd.exe built with MinGW-w64 in DIR.  The
# toolchain is named only for a new build folder: cmake warns when an
# existing one is given it again.
build_windows_program() {
  local dir=$1 toolchain=()
  [ -e "$dir/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
  cmake -S . -B "$dir" "${toolchain[@]}" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$dir" -j"$(nproc)" --target upd dlgprobe fontholder | build_progress
  DLGPROBE=$PWD/$dir/dlgprobe.exe
  FONTHOLDER_DIR=$PWD/$dir
}

# start_x: an X server of our own unless one is given in DISPLAY.
start_x() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${FORCE_XVFB:-}" ]; then return; fi
  local n=97
  while [ -e "/tmp/.X${n}-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
  xdotool getmouselocation >/dev/null 2>&1 || { echo "no X server on $DISPLAY" >&2; return 1; }
}

stop_all() {
  [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" >/dev/null 2>&1 || true
}

# new_prefix DIR: a fresh prefix whose only drives are C: and a fixed D:
# (the search walks every fixed drive, so the host's root must not be one).
new_prefix() {
  export WINEPREFIX=$1
  rm -rf "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1
  "$WINESERVER" -w
  rm -f "$WINEPREFIX/dosdevices/z:"
  mkdir -p "$WINEPREFIX/drive_d"
  ln -sfn ../drive_d "$WINEPREFIX/dosdevices/d:"
  # The prefix has no Z: drive now: the file goes where Windows paths reach.
  local reg="$WINEPREFIX/drive_c/setup.reg"
  # Without a window manager Wine is slow to close windows unless they are
  # unmanaged; the dialog fonts are mapped onto the IPA fonts.
  cat >"$reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"

[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"d:"="hd"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS Shell Dlg"="IPAPGothic"
"MS Shell Dlg 2"="IPAPGothic"
EOF
  # The Japanese face names go in through "reg add", whose arguments Wine
  # takes from the UTF-8 locale; a REGEDIT4 file would be read in another
  # code page.
  "$WINE" regedit 'C:\setup.reg' >/dev/null 2>&1
  rm -f "$reg"
  "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v "ＭＳ Ｐゴシック" /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1
  "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v "ＭＳ ゴシック" /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
  "$WINESERVER" -w
}

# The two targets: each has a difference file in host\ beside the program;
# the first is installed in C:\windows\Fonts, the second on the fixed drive
# D:, beside a font of the same family that no difference file applies to.
TARGETS=(Sorame-Gothic-Pro-W3 Sorame-Mincho-Std-W5)
OTHER_FONT=Sorame-Maru-Std-W8

# prepare_machine EXE PATOOL FONTS: a fresh prefix in $WORK/prefix with the
# program EXE in C:\Program Files\Sorame\Updater, the difference files the
# makers' tool PATOOL makes from the fonts in FONTS, and the fonts
# installed; $WORK/expected/NAME.otf is what the revision of NAME must give.
# Sets C, D, app (host paths) and FONTS.
prepare_machine() {
  local exe=$1 patool=$2 name
  FONTS=$3
  mkdir -p "$WORK/expected"  # wineboot makes a prefix only in a folder that exists
  new_prefix "$WORK/prefix"
  C=$WINEPREFIX/drive_c
  D=$WINEPREFIX/drive_d
  app="$C/Program Files/Sorame/Updater"
  mkdir -p "$app/host" "$D/Fonts"
  cp "$exe" "$app/"
  for name in "${TARGETS[@]}"; do
    "$patool" make "$FONTS/$name.otf" "$FONTS/$name.rev.otf" "$app/host/$name.pa" >/dev/null
    "$patool" apply "$FONTS/$name.otf" "$app/host/$name.pa" "$WORK/expected/$name.otf" >/dev/null
  done
  install_fonts
}

# install_fonts: the installed fonts as they were before any revision.
install_fonts() {
  cp "$FONTS/${TARGETS[0]}.otf" "$C/windows/Fonts/"
  cp "$FONTS/${TARGETS[1]}.otf" "$FONTS/$OTHER_FONT.otf" "$D/Fonts/"
}

# user_fonts_dir: the host path of the folder of fonts installed for the
# prefix's user only, in that user's profile (made by wineboot).
user_fonts_dir() {
  local profile="$C/users/${USER:-$(id -un)}"
  [ -d "$profile" ] || profile=$(find "$C/users" -mindepth 1 -maxdepth 1 -type d ! -iname public | head -1)
  echo "$profile/AppData/Local/Microsoft/Windows/Fonts"
}

# hold_font FONT: the font (a Windows path) held by fontholder.exe as
# Windows holds a font it has loaded, until release_font; false when it
# could not be held within 20 s.
HOLDER_STOP='C:\fontholder.stop'
hold_font() {
  rm -f "$C/fontholder.stop"
  (cd "$FONTHOLDER_DIR" && "$WINE" fontholder.exe "$1" "$HOLDER_STOP") \
    >"$WORK/fontholder.out" 2>>"$WORK/wine.log" &
  HOLDER_PID=$!
  for _ in $(seq 100); do grep -q '^held' "$WORK/fontholder.out" && return 0; sleep 0.2; done
  return 1
}
# release_font: the holder lets the font go; false when it has not ended
# within 20 s.
release_font() {
  local ended=1
  touch "$C/fontholder.stop"
  for _ in $(seq 100); do kill -0 "$HOLDER_PID" 2>/dev/null || { ended=0; break; }; sleep 0.2; done
  wait "$HOLDER_PID" 2>/dev/null || true
  rm -f "$C/fontholder.stop"
  return $ended
}

# Windows (top-level, visible) whose title is exactly $1 (the titles we
# look for hold no character special to a regular expression).
windows_titled() {
  local w
  for w in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && echo "$w"
  done
}

# wait_window TITLE [SECONDS]: the id of a visible window with that title;
# looked for every 50 ms, so that a window that is soon gone is seen.
wait_window() {
  local title=$1 limit=${2:-60} w end=$((SECONDS + ${2:-60}))
  while [ "$SECONDS" -le "$end" ]; do
    w=$(windows_titled "$title" | head -n 1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.05
  done
  echo "no window titled '$title' within ${limit}s" >&2
  return 1
}

# hold WINDOW: the process that owns the window stopped where it is
# (SIGSTOP), so that it cannot leave the state the window shows, however
# fast it runs; true when the window is still on screen then.  Keys
# pressed meanwhile wait for it.  resume lets it go on.
hold() {
  HELD_PID=$(xdotool getwindowpid "$1" 2>/dev/null) || { echo "    no process owns window $1" >&2; return 1; }
  kill -STOP "$HELD_PID"
  xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}
resume() { kill -CONT "$HELD_PID" 2>/dev/null || true; }

# wait_gone TITLE [SECONDS]
wait_gone() {
  local title=$1 limit=${2:-120}
  for _ in $(seq $((limit * 5))); do
    [ -z "$(windows_titled "$title")" ] && return 0
    sleep 0.2
  done
  echo "window '$title' still there after ${limit}s" >&2
  return 1
}

# key WINDOW KEY: focus the window and press the key (XTEST; sending the key
# to an unmanaged window with --window does not reach Wine reliably).
key() {
  xdotool windowfocus --sync "$1" >/dev/null 2>&1 || xdotool windowfocus "$1"
  sleep 0.3
  xdotool key "$2"
}

# shot NAME: a screenshot of the whole screen into $SHOTS/NAME.png.
shot() {
  mkdir -p "$SHOTS"
  sleep 0.5
  import -display "$DISPLAY" -window root "$SHOTS/$1.png" 2>/dev/null || xwd -root -silent | convert xwd:- "$SHOTS/$1.png"
}

# dialog_texts TITLE [SECONDS [SETTLE]]: the title and control texts of the
# program's visible dialog titled TITLE, one a line (dlgprobe.exe texts).
dialog_texts() {
  "$WINE" "$DLGPROBE" texts "$@" 2>/dev/null | tr -d '\r'
}

# says TEXTS WANTED...: true when every WANTED line is one of the TEXTS
# (from dialog_texts), or, written ~REGEX, one of them matches REGEX; names
# the first one missing.
says() {
  local texts=$1 want
  shift
  for want in "$@"; do
    if [ "${want:0:1}" = "~" ]; then
      grep -qE -- "${want:1}" <<<"$texts" || { echo "    no line matches: ${want:1}" >&2; return 1; }
    else
      grep -qxF -- "$want" <<<"$texts" || { echo "    missing: $want" >&2; return 1; }
    fi
  done
}

# The program in $app (a host folder of the prefix) and its run.
TITLE="Korvaneフォント 改訂プログラム"
CONFIRM="確　認"
start_program() {
  (cd "$app" && "$WINE" upd.exe >>"$WORK/wine.log" 2>&1) &
  PROGRAM_PID=$!
}
wait_program_end() {
  local limit=${1:-60}
  for _ in $(seq $((limit * 5))); do
    kill -0 "$PROGRAM_PID" 2>/dev/null || return 0
    sleep 0.2
  done
  echo "the program did not end within ${limit}s" >&2
  return 1
}
# A whole run with the keyboard: the program started, 次へ on the start
# dialog, 実行 on the list; END_WINDOW is then the end dialog.
run_to_end_dialog() {
  local start main
  start_program
  start=$(wait_window "$TITLE")
  key "$start" Return
  main=$(wait_main_dialog "$start")
  key "$main" Return
  END_WINDOW=$(wait_window "$CONFIRM" 120)
}
# The main dialog has the start dialog's title: it is the other window.
# (TITLE: the title both share.)
wait_main_dialog() {
  local start=$1 w
  for _ in $(seq 600); do
    for w in $(windows_titled "$TITLE"); do
      [ "$w" != "$start" ] && { echo "$w"; return 0; }
    done
    sleep 0.2
  done
  echo "no list of fonts found (a second window titled '$TITLE') within 120s" >&2
  return 1
}

# check WHAT CONDITION...: runs the condition and logs the outcome; each
# failure adds one to $failures, which the script reports at its end.
check() {
  local what=$1
  shift
  if "$@"; then log "ok: $what"; else log "FAILED: $what"; failures=$((failures + 1)); fi
}
same() { cmp -s "$1" "$2"; }

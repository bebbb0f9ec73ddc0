# Shared by the Wine end-to-end test and the demo: a fresh Wine prefix in the
# Japanese locale, the program with its host folder, target fonts on two
# fixed drives, an X server, and keyboard driving through xdotool.
#
# Source it, then call the functions; every path is below $WORK.

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all
export LC_ALL=ja_JP.UTF-8   # Wine takes code page 932 from the locale
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer dialogs

log() { printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*"; }

ensure_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
  fi
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

# Windows (top-level, visible) whose title is exactly $1.
windows_titled() {
  local w
  for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && echo "$w"
  done
}

# wait_window TITLE [SECONDS]: the id of a visible window with that title.
wait_window() {
  local title=$1 limit=${2:-60} w
  for _ in $(seq $((limit * 5))); do
    w=$(windows_titled "$title" | head -n 1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.2
  done
  echo "no window titled '$title' within ${limit}s" >&2
  return 1
}

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
  return 1
}


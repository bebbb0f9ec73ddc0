#!/usr/bin/env bash
# The search of the real Windows program under Wine, beside the plain
# FindFirstFileA / FindNextFileA walk of the same tree, pinned to one core
# (taskset) so that the figures hold still; then a stop used inside a folder
# of 600,000 files (bench/wine_search.cpp says what is timed).
#
#   bench/search_wine.sh [WORK_DIR]     (default build-bench-wine)
#
# The trees are made once and kept in WORK_DIR/trees (about a minute and
# 2 GB of inodes' worth of empty files); so is the Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(realpath -m "${1:-build-bench-wine}")
WORK=$work
. tests/wine/lib.sh

log "building the Windows program's search and its benchmark (MinGW-w64)"
build_windows_program build-win
cmake --build build-win -j"$(nproc)" --target wine_search | build_progress

# 2,000 folders (20 groups of 100) of 100 files each, and one folder of
# 600,000 files; the files are empty: only the listing is measured.
mkdir -p "$work/trees"
if [ ! -e "$work/trees/complete" ]; then
  log "making the trees in $work/trees (once)"
  python3 - "$work/trees" <<'EOF'
import os, sys
root = sys.argv[1]
for g in range(20):
    for s in range(100):
        folder = os.path.join(root, "tree", f"group{g:02}", f"folder{s:03}")
        os.makedirs(folder, exist_ok=True)
        for f in range(100):
            open(os.path.join(folder, f"file{f:03}.dat" if f % 7 else f"Document{f:03}.otf"), "w").close()
huge = os.path.join(root, "huge")
os.makedirs(huge, exist_ok=True)
for f in range(600000):
    open(os.path.join(huge, f"scan{f:06}.tif"), "w").close()
open(os.path.join(root, "complete"), "w").close()
EOF
fi

ensure_locale
start_x
export WINEPREFIX=$work/prefix
trap stop_all EXIT
if [ ! -e "$WINEPREFIX/system.reg" ]; then
  log "a Wine prefix in $WINEPREFIX as the Wine tests make it, dialog fonts and all (once)"
  new_prefix "$WINEPREFIX"
fi
ln -sfn "$work/trees" "$WINEPREFIX/dosdevices/d:"
cp build-win/wine_search.exe "$work/"

# Wine's server does part of every listing: it runs on the same core.
"$WINESERVER" -k >/dev/null 2>&1 || true
"$WINESERVER" -w
taskset -c 0 "$WINESERVER" -p
log "the benchmark, pinned to core 0 (load average $(cut -d' ' -f1-3 /proc/loadavg))"
status=0
(cd "$work" && taskset -c 0 "$WINE" wine_search.exe 'D:\tree\' 'D:\huge\' 2>/dev/null | tr -d '\r') || status=$?
"$WINESERVER" -k >/dev/null 2>&1 || true
exit "$status"

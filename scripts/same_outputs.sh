#!/usr/bin/env bash
# Shows that two commits produce the same outputs, byte for byte: builds
# patool at BASE and at HEAD (default: the working tree as it stands), runs
# both on the same inputs, and compares exit code, stdout, stderr and every
# file each command writes.  For a refactoring that must not change what the
# tools and the engine produce.
#
#   scripts/same_outputs.sh [OPTIONS] BASE [HEAD]
#
# Inputs: the real test fonts (X.otf / X.rev.otf), the small fonts and
# difference files of the test builders, the fuzz corpora and kept
# regressions, the difference files `patool make` writes from each pair
# (make itself is compared too), and a few thousand seeded mutations of
# these (see scripts/same_outputs.py).  Each case runs `show FILE.pa`,
# `show FILE.pa --font FONT`, `apply FONT FILE.pa OUT` and
# `check OLD FILE.pa NEW`.  The fuzz entries (fuzz/entries.cpp) are run on
# the fuzz corpora and on the mutants of the entries' own font and
# difference file by each side's same_outputs_aid, and their answers and the
# fonts they build are compared as well.
#
# Options (--cache is this script's own; the others go to same_outputs.py):
#   --cache DIR        builds and work files (default build-same/ in the tree)
#   --seed N           the mutations' seed (default: a new one, printed)
#   --seconds S        time for the mutated cases (default 270: about five
#                      minutes in all on two cores, builds cached)
#   --jobs N           cases run at once (default: the number of cores)
#   --case K           run only unseen case K of the seed (repeatable)
#   --max-cases N      at most N mutated cases (default 20000)
#   --ignore GLOB      leave out commands whose 'COMMAND CASE' matches, for
#                      intended differences, e.g. --ignore 'show --font *nohead*'
#                      (COMMAND is make, show, show --font, apply or check;
#                      the fuzz entries match as 'entry ENTRY FILE')
# Environment: TEST_FONT_DIR (default build-test/testfonts), FUZZ_CORPUS
# (folders of libFuzzer inputs, one subfolder per entry; default
# build-fuzz/corpus and build-fuzz/seeds, each skipped when missing).
#
# Exits 0 when everything compared is identical, 1 on any difference, 2 when
# it cannot run.  The builds are Release without sanitizers, through ccache.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

cache=$root/build-same
pass=()
positional=()
while [ $# -gt 0 ]; do
  case $1 in
    --cache) cache=$2; shift 2 ;;
    --seed|--seconds|--jobs|--case|--ignore|--max-cases) pass+=("$1" "$2"); shift 2 ;;
    -h|--help) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "same_outputs: unknown option $1" >&2; exit 2 ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ ${#positional[@]} -ge 1 ] && [ ${#positional[@]} -le 2 ] || {
  echo "usage: scripts/same_outputs.sh [OPTIONS] BASE [HEAD]  (--help for more)" >&2; exit 2; }

fonts=${TEST_FONT_DIR:-$root/build-test/testfonts}
[ -e "$fonts/Sorame-Gothic-Pro-W3.otf" ] || {
  echo "same_outputs: no test fonts in $fonts (set TEST_FONT_DIR, or run tests/fonts/make_test_fonts.py)" >&2; exit 2; }
fonts=$(cd "$fonts" && pwd)
corpora=()
for c in ${FUZZ_CORPUS:-$root/build-fuzz/corpus $root/build-fuzz/seeds}; do
  if [ -d "$c" ]; then corpora+=(--fuzz-corpus "$c"); fi
done

mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
export CCACHE_BASEDIR=/work CCACHE_NOHASHDIR=1

# Temporary worktrees of named commits, removed on the way out.
worktrees=()
cleanup() {
  for w in "${worktrees[@]}"; do git -C "$root" worktree remove --force "$w" >/dev/null 2>&1 || true; done
}
trap cleanup EXIT

# checkout SIDE REV: REV in a temporary worktree, whose folder goes to $src.
checkout() {
  local side=$1 rev=$2 sha
  sha=$(git -C "$root" rev-parse --verify --quiet "$rev^{commit}") || {
    echo "same_outputs: '$rev' is not a commit" >&2; return 2; }
  src=$cache/src-$side
  git -C "$root" worktree remove --force "$src" >/dev/null 2>&1 || rm -rf "$src"
  git -C "$root" worktree prune
  git -C "$root" worktree add --detach --quiet "$src" "$sha" || return 2
  worktrees+=("$src")
}

# build SIDE SOURCE: patool and, where that side's tree allows, the aid.
build() {
  local side=$1 src=$2 out=$cache/$1
  # A build folder belongs to one source folder: a stale one is started over.
  if [ -e "$out/CMakeCache.txt" ] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$src" "$out/CMakeCache.txt"; then
    rm -rf "$out"
  fi
  echo "== building $side from $src ($(git -C "$src" rev-parse --short HEAD)$(
    [ -n "$(git -C "$src" status --porcelain --untracked-files=no)" ] && echo ', with uncommitted changes'))"
  cmake -S "$src" -B "$out" -DCMAKE_BUILD_TYPE=Release -DSANITIZE=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_PROJECT_INCLUDE="$here/same_outputs.cmake" \
    -DSAME_OUTPUTS_AID_SOURCE="$here/same_outputs_aid.cpp" >"$out.log" 2>&1 ||
    { tail -20 "$out.log" >&2; echo "same_outputs: cannot configure $side" >&2; return 2; }
  cmake --build "$out" -j2 --target patool >>"$out.log" 2>&1 ||
    { tail -20 "$out.log" >&2; echo "same_outputs: cannot build patool at $side" >&2; return 2; }
  rm -f "$out/same_outputs_aid"
  cmake --build "$out" -j2 --target same_outputs_aid >>"$out.log" 2>&1 ||
    echo "   (same_outputs_aid does not build at $side; the entries will not be compared: see $out.log)"
}

checkout base "${positional[0]}" || exit 2
base_src=$src
head_src=$root
if [ ${#positional[@]} -eq 2 ]; then
  checkout head "${positional[1]}" || exit 2
  head_src=$src
fi
build base "$base_src" || exit 2
if [ "$head_src" = "$root" ]; then build tree "$head_src" || exit 2; head_out=$cache/tree
else build head "$head_src" || exit 2; head_out=$cache/head; fi

set +e
python3 "$here/same_outputs.py" --base "$cache/base" --head "$head_out" --fonts "$fonts" \
  "${corpora[@]}" --regressions "$head_src/fuzz/regressions" --work "$cache/run" "${pass[@]}"
status=$?
[ $status -le 1 ] || status=2
exit $status

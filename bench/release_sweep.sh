#!/usr/bin/env bash
# Damage sweeps of a release (bench/release_sweep.py): bit flips in each test
# pair's difference file, in its release manifest and in xdelta3's delta for
# the same pair, and one-byte edits of every table of the installed font with
# its checksums set right again, plus edits made with fontTools.  Prints a
# table per sweep and exits 1 when a damaged input gave a font other than
# the revision with exit 0.
#
#   bench/release_sweep.sh [--fonts DIR] [--flips N] [--edits K] [--seed S] [--pairs A,B]
#
# patool is built in Release under build-rel/ (through ccache when there is
# one); the test fonts are taken from --fonts, else build-test/testfonts or
# build-rel/testfonts, else made into build-rel/testfonts.  About two
# minutes on two cores with the defaults (2,000 flips of each kind per pair,
# 40 edits per table).
set -euo pipefail
cd "$(dirname "$0")/.."

fonts=
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --fonts) fonts=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build build-rel -j2 --target patool >/dev/null

if [ -z "$fonts" ]; then
  for d in build-test/testfonts build-rel/testfonts; do
    if [ -e "$d/Sorame-Mincho-Std-W5.rev.otf" ]; then fonts=$d; break; fi
  done
fi
if [ -z "$fonts" ]; then
  fonts=build-rel/testfonts
  /usr/bin/python3 tests/fonts/make_test_fonts.py "$fonts" >/dev/null
fi
for t in xdelta3; do
  command -v $t >/dev/null || { echo "$t is missing: scripts/install-deps.sh" >&2; exit 2; }
done

# Debian's python3 holds fontTools (python3-fonttools); another python on
# the PATH may not.
exec /usr/bin/python3 bench/release_sweep.py --patool build-rel/tools/patool --fonts "$fonts" "${args[@]}"

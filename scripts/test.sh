#!/usr/bin/env bash
# Installs what the tests need, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, makes the real test fonts and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

build=build-test
jobs=$(nproc)
cmake -S . -B "$build" -DSANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build" -j"$jobs"

# The fonts are deterministic: made again only when the script changed.
fonts="$build/testfonts"
stamp="$fonts/.made-by-$(sha1sum tests/fonts/make_test_fonts.py | cut -c1-12)"
if [ ! -e "$stamp" ]; then
  rm -rf "$fonts"
  /usr/bin/python3 tests/fonts/make_test_fonts.py "$fonts" --full --check
  touch "$stamp"
fi

export REQUIRE_REAL_FONTS=1
export TEST_FONT_DIR="$PWD/$fonts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" -j"$jobs" --output-on-failure

# The real Windows program under Wine, driven from the keyboard.
tests/wine/e2e.sh "$build"
tests/wine/unattended.sh "$build"
tests/wine/inuse.sh "$build"

# Reliability: every fuzz target run for a bounded time (a crash input is
# kept and fails the run), then the figures of fuzzing, fault injection and
# kills.  These runs are logged in the build folder; fuzz/stats.tsv logs the
# longer runs made by hand, and the report sums both.
FUZZ_STATS="$build/fuzz-stats.tsv" scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
scripts/reliability_report.sh "$build"

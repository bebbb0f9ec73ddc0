#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS.
#
#   scripts/fuzz.sh SECONDS [TARGET[:SECONDS]...]
#
# Seeds are made from the real test fonts and the difference-file producer;
# the corpus grows in the build folder and is never committed.  Every run
# appends one line per target to fuzz/stats.tsv (committed: the figures are
# summed over all runs ever made, by this script and in CI, so each line
# names its commit and host).  A crash input is copied into
# fuzz/regressions/<target>/, where the unit tests replay it, and the script
# fails.
#
# Environment: FUZZ_BUILD (build folder, default build-fuzz), FUZZ_FONT_DIR
# (the real fonts, default build-test/testfonts, else build/testfonts),
# FUZZ_PARALLEL (targets run at once, default: the number of cores),
# FUZZ_STATS (the log, default fuzz/stats.tsv), FUZZ_RUNS (also stop each
# target after that many executions, for runs that aim at a count).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
build=${FUZZ_BUILD:-build-fuzz}
fonts=${FUZZ_FONT_DIR:-}
if [ -z "$fonts" ]; then
  for d in build-test/testfonts build/testfonts; do
    if [ -e "$d/Sorame-Gothic-Pro-W3.otf" ]; then fonts=$d; break; fi
  done
fi
[ -n "$fonts" ] || { echo "fuzz.sh: no real test fonts (run tests/fonts/make_test_fonts.py)" >&2; exit 2; }
fonts=$(cd "$fonts" && pwd)
parallel=${FUZZ_PARALLEL:-$(nproc)}
stats=${FUZZ_STATS:-fuzz/stats.tsv}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(is_target_font load_font read_header read_file revise_diff revise_font name_table name_table_large directory_large release_manifest revise_font_released)

# clang with its libFuzzer runtime: Debian's clang and libclang-rt-dev.
if ! command -v clang++ >/dev/null || [ ! -e "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
  echo "installing: clang libclang-rt-dev"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends clang libclang-rt-dev
fi

CXX=clang++ cmake -S fuzz -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ_FONT_DIR_DEFAULT="$fonts" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -rf "$build/seeds"
"$build/make_seeds" "$fonts" "$build/seeds"

[ -e "$stats" ] || printf 'date\tcommit\thost\ttarget\tseconds\texecutions\tcrashes\n' >"$stats"
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
[ -z "$(git status --porcelain -- engine discovery platform fuzz 2>/dev/null)" ] || commit="$commit+"
host=$(hostname)

run_target() {
  local t=${1%%:*} seconds=$seconds
  [[ $1 == *:* ]] && seconds=${1#*:}
  local log="$build/logs/$t.log" artifacts="$build/artifacts/$t/"
  mkdir -p "$build/corpus/$t" "$artifacts" "$build/logs"
  rm -f "$artifacts"*
  local dirs=("$build/corpus/$t" "$build/seeds/$t")
  [ -d "fuzz/regressions/$t" ] && dirs+=("fuzz/regressions/$t")
  local rc=0
  local runs=()
  [ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")
  FUZZ_FONT_DIR="$fonts" "$build/fuzz_$t" -max_total_time="$seconds" "${runs[@]}" -print_final_stats=1 -rss_limit_mb=2560 \
    -timeout=30 -artifact_prefix="$artifacts" "${dirs[@]}" >"$log" 2>&1 || rc=$?
  local execs crashes=0
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo 0)
  for a in "$artifacts"*; do
    [ -e "$a" ] || continue
    crashes=$((crashes + 1))
    mkdir -p "fuzz/regressions/$t"
    cp "$a" "fuzz/regressions/$t/$(basename "$a")"
  done
  if [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi  # died without leaving its input
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$commit" "$host" "$t" "$seconds" \
    "${execs:-0}" "$crashes" >>"$stats"
  printf '%-16s %10s executions  %s crashes  (%s)\n' "$t" "${execs:-0}" "$crashes" "$log"
  [ "$crashes" -eq 0 ]
}

failed=0
running=0
for t in "${targets[@]}"; do
  run_target "$t" &
  running=$((running + 1))
  # A slot is taken again as soon as any target ends.
  if [ "$running" -ge "$parallel" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz.sh: crash found; inputs copied to fuzz/regressions/ (see $build/logs/)" >&2
  exit 1
fi

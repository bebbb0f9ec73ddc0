#!/usr/bin/env bash
# Prints the reliability figures:
#   - executions and crashes per commit and fuzz target, summed over every
#     run logged in fuzz/stats.tsv (scripts/fuzz.sh appends to it);
#   - fault-injection cases run and fonts damaged, for the per-font driver
#     and for whole program runs;
#   - kill points of the crash-safety test and fonts damaged.
# The last three come from the unit tests' FIGURE lines: from the last ctest
# log of BUILD (default build-test) when it holds them, else by running the
# three tests (always with CRASH_SAFETY_POINTS set: the by-hand run of
# CRASH_SAFETY_POINTS=230 kills the large font's revision at 230 points).
#
#   scripts/reliability_report.sh [BUILD]
# Exits non-zero when any figure shows a crash or a damaged font, or when
# a fuzz target is short of 1,000,000 executions (the latter only with
# --require-million).
set -euo pipefail
cd "$(dirname "$0")/.."

require_million=0
if [ "${1:-}" = "--require-million" ]; then require_million=1; shift; fi
build=${1:-build-test}
# The committed log of the runs made by hand, and this build's own runs.
stats=(fuzz/stats.tsv)
[ -s "$build/fuzz-stats.tsv" ] && stats+=("$build/fuzz-stats.tsv")
bad=0

echo "== Fuzzing (summed over all logged runs: ${stats[*]})"
if [ -s "${stats[0]}" ] || [ ${#stats[@]} -gt 1 ]; then
  # Per commit and target: figures count for the code they ran on.  The
  # million is asked of every target at the commit of the last logged run.
  awk -F'\t' -v need="$require_million" '
    FNR == 1 { next }
    { key = $2 "\t" $4; runs[key]++; secs[key] += $5; execs[key] += $6; crashes[key] += $7
      targets[$4] = 1; last = $2 }
    END {
      printf "%-10s %-18s %5s %8s %12s %8s\n", "commit", "target", "runs", "seconds", "executions", "crashes"
      bad = 0
      for (key in runs) {
        split(key, ct, "\t")
        printf "%-10s %-18s %5d %8d %12d %8d\n", ct[1], ct[2], runs[key], secs[key], execs[key], crashes[key]
      }
      if (need) {
        for (t in targets) {
          if (execs[last "\t" t] < 1000000) { printf "short of 1,000,000 at %s: %s\n", last, t; bad = 1 }
        }
      }
      exit bad
    }' "${stats[@]}" | (read -r header; echo "$header"; sort) || bad=1
else
  echo "no fuzz runs logged"
  [ "$require_million" -eq 0 ] || bad=1
fi
if [ -d fuzz/regressions ]; then
  # A crash found by a logged run stays in the sums; its input is kept here
  # and replayed by the unit tests, which fail while it is not fixed.  A new
  # crash fails scripts/fuzz.sh itself.
  echo "kept crash inputs replayed by the unit tests: $(find fuzz/regressions -type f ! -name '.*' | wc -l)"
fi

figures=""
log="$build/Testing/Temporary/LastTest.log"
# CRASH_SAFETY_POINTS (e.g. 230) asks for a fresh run with that many kill
# points on the large font rather than the test command's spread.
if [ -f "$log" ] && [ -z "${CRASH_SAFETY_POINTS:-}" ]; then figures=$(grep -h '^FIGURE ' "$log" || true); fi
if ! grep -q 'fault-injection' <<<"$figures" || ! grep -q 'wholerun-faults' <<<"$figures" ||
   ! grep -q 'crash-safety' <<<"$figures"; then
  if [ -x "$build/tests/unit_tests" ]; then
    figures=$(REQUIRE_REAL_FONTS=1 TEST_FONT_DIR="${TEST_FONT_DIR:-$PWD/$build/testfonts}" \
      "$build/tests/unit_tests" --gtest_filter='FaultInjectionTest.*:WholeRunFaultsTest.*:CrashSafetyTest.*' | grep '^FIGURE ' || true)
  fi
fi

# section TITLE KIND LABEL=KEY[!]...: the FIGURE lines of one kind, then one
# line summing each KEY over them under its LABEL ("_" for a space); a KEY
# marked "!" must sum to 0, or the report fails.
section() {
  local title=$1 kind=$2 lines
  shift 2
  echo
  echo "== $title"
  lines=$(grep "^FIGURE $kind " <<<"$figures" || true)
  if [ -z "$lines" ]; then
    echo "no figures (build $build and run the unit tests)"
    bad=1
    return
  fi
  sed "s/^FIGURE $kind /  /" <<<"$lines"
  awk -v wanted="$*" '
    { for (i = 1; i <= NF; i++) { split($i, kv, "="); sum[kv[1]] += kv[2] } }
    END {
      n = split(wanted, columns, " ")
      failed = 0
      for (c = 1; c <= n; c++) {
        split(columns[c], lk, "=")
        label = lk[1]; key = lk[2]
        gsub(/_/, " ", label)
        if (sub(/!$/, "", key) && sum[key] > 0) failed = 1
        printf "%s%s: %d", (c > 1 ? "   " : ""), label, sum[key]
      }
      printf "\n"
      exit failed
    }' <<<"$lines" || bad=1
}

section "Fault injection (each platform call of a revision failed once, with each error kind)" \
  fault-injection cases_run=cases fonts_damaged=damaged!
section "Fault injection over whole program runs (each platform call of a run failed once)" \
  wholerun-faults cases_run=cases fonts_damaged=damaged! cases_failing_a_check=failed!
section "Crash safety (a revising process killed with SIGKILL)" \
  crash-safety kill_points=killed fonts_damaged=damaged!
section "Crash safety of a font in use (killed while its revision is kept for the next start, then the next run)" \
  crash-safety-in-use kill_points=killed more_than_one_waiting=staged-too-many! staging_left_after_next_run=staging-left-after-next-run! fonts_damaged=damaged!
section "Crash safety of the completion at the next start (killed at every call, then the next start)" \
  crash-safety-completion kill_points=killed left_after_next_start=left-after-next-start! fonts_damaged=damaged!
exit $bad

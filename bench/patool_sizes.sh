#!/bin/sh
# Sizes of the difference files patool makes for the real revisions, beside
# the deltas of xdelta3 (default settings) and bsdiff for the same pairs, and
# the time `patool make` takes for the full-size font.
#
#   bench/patool_sizes.sh BUILD_DIR [FONT_DIR]
#
# Build patool without sanitizers for the time (cmake -DCMAKE_BUILD_TYPE=Release).
set -eu
build=${1:?usage: patool_sizes.sh BUILD_DIR [FONT_DIR]}
fonts=${2:-$build/testfonts}
tool=$build/tools/patool
[ -x "$tool" ] || { echo "no patool in $build/tools" >&2; exit 2; }
for t in xdelta3 bsdiff; do
    command -v $t >/dev/null || { echo "$t is missing: apt-get install -y xdelta3 bsdiff" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size() { wc -c <"$1" | tr -d ' '; }
now() { date +%s.%N; }

printf '%-24s %10s %10s %10s %8s\n' pair .pa xdelta3 bsdiff verdict
for pair in Sorame-Gothic-Pro-W3 Sorame-Mincho-Std-W5 Sorame-Gothic-Full-W3; do
    old=$fonts/$pair.otf
    new=$fonts/$pair.rev.otf
    [ -f "$old" ] && [ -f "$new" ] || { echo "$pair: fonts missing in $fonts" >&2; exit 2; }
    start=$(now)
    "$tool" make "$old" "$new" "$work/$pair.pa" >/dev/null
    end=$(now)
    "$tool" check "$old" "$work/$pair.pa" "$new" >/dev/null
    xdelta3 -e -s "$old" "$new" "$work/$pair.xd"
    bsdiff "$old" "$new" "$work/$pair.bsdiff"
    pa=$(size "$work/$pair.pa"); xd=$(size "$work/$pair.xd"); bs=$(size "$work/$pair.bsdiff")
    verdict=ok
    [ "$pa" -le "$xd" ] || verdict="> xdelta3"
    [ "$pa" -le "$bs" ] || verdict="$verdict > bsdiff"
    printf '%-24s %10s %10s %10s %s\n' "$pair" "$pa" "$xd" "$bs" "$verdict"
    last=$(echo "$end - $start" | bc)
    lastsize=$(size "$old")
done
printf 'make of the full-size font (%s bytes): %.2f s (target 5 s)\n' "$lastsize" "$last"

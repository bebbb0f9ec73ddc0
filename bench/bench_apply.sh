#!/usr/bin/env bash
# `patool apply` on the full-size pair as a whole process, beside
# `xdelta3 -d` and `bspatch` applying their own deltas of the same pair,
# measured in turns in the same run: an untimed warm-up, then ROUNDS rounds in
# which each of the three runs once, the order turning each round so that
# none always runs first (or right after another's writes).
#
#   bench/bench_apply.sh BUILD_DIR [FONT_DIR] [ROUNDS]
#
# BUILD_DIR holds a Release patool (cmake -DCMAKE_BUILD_TYPE=Release; the
# sanitizers' build measures the sanitizers).  FONT_DIR defaults to
# $TEST_FONT_DIR, then BUILD_DIR/testfonts; ROUNDS to 9.
#
# Every output, warm-up and timed alike, is checked after its run (untimed):
# xdelta3's and bspatch's must equal the new font byte for byte.  patool's
# cannot: like the updater, it carries the old font's serial strings (name
# ID 13) into the new one and recomputes the checksums, and the release
# carries placeholders there.  Its first output must equal the new font in
# every other byte, hold the old font's serial strings in the new font's
# slots, and have every table checksum and head.checkSumAdjustment right;
# every later output must equal the first.
set -euo pipefail
build=${1:?usage: bench_apply.sh BUILD_DIR [FONT_DIR] [ROUNDS]}
fonts=${2:-${TEST_FONT_DIR:-$build/testfonts}}
rounds=${3:-9}
pair=Sorame-Gothic-Full-W3
tool=$build/tools/patool
old=$fonts/$pair.otf
new=$fonts/$pair.rev.otf
[ -x "$tool" ] || { echo "no patool in $build/tools" >&2; exit 2; }
if [ ! -f "$old" ] || [ ! -f "$new" ]; then echo "$pair.otf and $pair.rev.otf are not in $fonts" >&2; exit 2; fi
for t in xdelta3 bsdiff bspatch python3; do
    command -v $t >/dev/null || { echo "$t is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
done
if grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" 2>/dev/null; then
    kind=Release
else
    kind="NOT Release: the figures measure the build, not the program"
    echo "warning: $build is not a Release build" >&2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size() { wc -c <"$1" | tr -d ' '; }
# Microseconds, without starting a process: EPOCHREALTIME has six decimals.
now() { local t=${EPOCHREALTIME/[.,]/}; echo $((10#$t)); }

# The deltas, made once.
"$tool" make "$old" "$new" "$work/d.pa" >/dev/null
"$tool" check "$old" "$work/d.pa" "$new" >/dev/null ||
    { echo "patool check: the difference file does not turn the old font into the new one" >&2; exit 1; }
xdelta3 -e -s "$old" "$new" "$work/d.xd"
bsdiff "$old" "$new" "$work/d.bsdiff"

# Checks patool's output against the new font as the header says.
check_patool() {
    python3 - "$1" "$new" "$old" <<'EOF'
import struct, sys
out, new, old = (open(p, 'rb').read() for p in sys.argv[1:4])
def u16(b, o): return struct.unpack_from('>H', b, o)[0]
def u32(b, o): return struct.unpack_from('>I', b, o)[0]
def tables(b):
    return {b[12 + 16 * i:16 + 16 * i]: (12 + 16 * i, u32(b, 20 + 16 * i), u32(b, 24 + 16 * i))
            for i in range(u16(b, 4))}
def wordsum(b):
    b = bytes(b) + bytes(-len(b) % 4)
    return sum(struct.unpack('>%dI' % (len(b) // 4), b)) & 0xFFFFFFFF
def serial_slots(b):
    _, off, _ = tables(b)[b'name']
    count, storage = u16(b, off + 2), u16(b, off + 4)
    for j in range(count):
        r = off + 6 + 12 * j
        if u16(b, r + 6) == 13:
            yield u16(b, r), off + storage + u16(b, r + 10), u16(b, r + 8)
def fail(why):
    sys.exit('patool apply: ' + why)

if len(out) != len(new): fail('%d bytes, the new font %d' % (len(out), len(new)))
# Everything but the bytes the updater fills in must be the new font's.
a, b = bytearray(out), bytearray(new)
def blank(at, n):
    a[at:at + n] = bytes(n); b[at:at + n] = bytes(n)
t = tables(new)
for record, offset, length in t.values(): blank(record + 4, 4)
blank(t[b'head'][1] + 8, 4)
for _, at, n in serial_slots(new): blank(at, n)
if a != b:
    first = next(i for i in range(len(a)) if a[i] != b[i])
    fail('differs from the new font at byte %d, outside the checksums and serial strings' % first)
# Each serial slot holds the old font's string of its platform, cut to the
# slot (the updater keeps at most 255 bytes) and filled out with zeros.
olds = {}
for platform, at, n in serial_slots(old): olds.setdefault(platform, old[at:at + n])
for platform, at, n in serial_slots(out):
    want = (olds.get(platform, b'')[:255] + bytes(n))[:n]
    if out[at:at + n] != want: fail('the serial string of platform %d is not the old font\'s' % platform)
if not olds: fail('the old font has no serial strings to carry over')
# Checksums: each table's, with head.checkSumAdjustment taken as zero, and
# the whole file's.
for tag, (record, offset, length) in tables(out).items():
    body = bytearray(out[offset:offset + length])
    if tag == b'head': body[8:12] = bytes(4)
    if wordsum(body) != u32(out, record + 4): fail('the checksum of %r is wrong' % tag.decode('latin-1'))
if wordsum(out) != 0xB1B0AFBA: fail('head.checkSumAdjustment is wrong')
EOF
}

names=(patool xdelta3 bspatch)
run() {
    case $1 in
        patool)  "$tool" apply "$old" "$work/d.pa" "$work/out.patool" >/dev/null ;;
        xdelta3) xdelta3 -d -s "$old" "$work/d.xd" "$work/out.xdelta3" ;;
        bspatch) bspatch "$old" "$work/out.bspatch" "$work/d.bsdiff" ;;
    esac
}
verify() {
    case $1 in
        patool)
            if [ -f "$work/first.patool" ]; then
                cmp -s "$work/out.patool" "$work/first.patool" ||
                    { echo "patool apply: this output differs from the first" >&2; exit 1; }
            else
                check_patool "$work/out.patool"
                mv "$work/out.patool" "$work/first.patool"
            fi ;;
        *) cmp -s "$work/out.$1" "$new" || { echo "$1: the output is not the new font" >&2; exit 1; } ;;
    esac
    rm -f "$work/out.$1"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for n in "${names[@]}"; do run "$n"; verify "$n"; done
declare -A times
for ((r = 0; r < rounds; ++r)); do
    for ((k = 0; k < 3; ++k)); do
        n=${names[$(((r + k) % 3))]}
        start=$(now); run "$n"; end=$(now)
        times[$n]+="$((end - start)) "
        verify "$n"
    done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# Best and median of each, in microseconds.
declare -A best median
for n in "${names[@]}"; do
    read -ra list <<<"${times[$n]}"
    mapfile -t sorted < <(printf '%s\n' "${list[@]}" | sort -n)
    best[$n]=${sorted[0]}
    median[$n]=${sorted[$((rounds / 2))]}
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
secs() { awk -v u="$1" 'BEGIN { printf "%.3f", u / 1e6 }'; }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "load average (1, 5, 15 min): $load_before before, $load_after after"
echo "patool: $build ($kind)"
echo "pair: $pair, $(size "$old") -> $(size "$new") bytes"
printf 'deltas: .pa %s bytes, xdelta3 %s bytes, bsdiff %s bytes\n' \
    "$(size "$work/d.pa")" "$(size "$work/d.xd")" "$(size "$work/d.bsdiff")"
echo "whole process, $rounds rounds after a warm-up, in turns:"
printf '  %-8s %9s %9s\n' "" best median
for n in "${names[@]}"; do
    printf '  %-8s %7s s %7s s\n' "$n" "$(secs "${best[$n]}")" "$(secs "${median[$n]}")"
done
printf 'patool / xdelta3: best %s, median %s (target < 1)\n' \
    "$(ratio "${best[patool]}" "${best[xdelta3]}")" "$(ratio "${median[patool]}" "${median[xdelta3]}")"
printf 'patool / bspatch: best %s, median %s\n' \
    "$(ratio "${best[patool]}" "${best[bspatch]}")" "$(ratio "${median[patool]}" "${median[bspatch]}")"
echo "outputs: xdelta3's and bspatch's equal to the new font; patool's equal to it but for the"
echo "name ID 13 strings (the old font's) and the checksums (checked right), the same every run"

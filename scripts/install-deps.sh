#!/usr/bin/env bash
# Installs the Debian packages a job needs, and nothing when they are there.
# Both of the README's commands use the same set: the native build and its
# tests, the Windows build, and Wine with a virtual X server.
set -euo pipefail

# windres preprocesses the resource script with the MinGW-w64 compiler and
# its headers, so the native build needs them too.
packages=(cmake g++ make clang libclang-rt-dev libgtest-dev libbenchmark-dev python3 python3-fonttools fonts-noto-cjk opentype-sanitizer
          libssl-dev
          binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64-win32 mingw-w64-x86-64-dev)
# The Windows program, run under Wine in a virtual X server and driven from
# the keyboard: the end-to-end test and the demo.
packages+=(g++-mingw-w64-x86-64-win32 wine64 fonts-wine xvfb x11-utils xdotool imagemagick
           fonts-ipafont-gothic locales)
# The benchmarks' references: bench/patool_sizes.sh and bench/bench_apply.sh
# hold patool against the deltas of these two.
packages+=(xdelta3 bsdiff)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: a normal build (with the desktop station's tests on Qt's
# offscreen platform), a build with AddressSanitizer and UndefinedBehaviorSanitizer, and a
# short run of every fuzz target on its seed corpus; the Debian package is built from the
# normal build and checked. The terminal station also runs on real serial drivers in a QEMU
# guest (tests/guest/; as root it installs QEMU, otherwise it is skipped), and the Windows
# terminal station is cross-built and tested under Wine against the normal build
# (scripts/windows-test.sh; as root it installs MinGW-w64 and Wine, otherwise it is
# skipped).
#   --quick       only the normal build (--windows adds the Wine step to it)
#   --no-windows  without the Wine step; PS_WINDOWS_TEST=0 does the same
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0 windows=${PS_WINDOWS_TEST:-}
for arg in "$@"; do
  case "$arg" in --quick) quick=1 ;; --windows) windows=1 ;; --no-windows) windows=0 ;; esac
done
[ -n "$windows" ] || windows=$((1 - quick))
scripts/install-deps.sh test
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

if [ "$windows" = 1 ]; then
  echo "== Windows terminal station under Wine"
  PS_JOBS=$jobs scripts/windows-test.sh --ref build
fi
[ $quick -eq 1 ] && exit 0

echo "== real serial drivers: the terminal station in a QEMU guest (docs/testing.md)"
python3 tests/guest/test_guest.py --build build

echo "== benchmarks (figures only: docs/testing.md says how to read them)"
scripts/bench.sh build || echo "a benchmark did not run"

echo "== Debian package"
scripts/package-check.sh build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPS_SANITIZE=ON -DPS_GUI=OFF \
      -DPS_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure

echo "== fuzz smoke runs"
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPS_FUZZ=ON \
      -DPS_GUI=OFF -DPS_TESTS=OFF -DPS_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
scripts/fuzz-smoke.sh build-fuzz

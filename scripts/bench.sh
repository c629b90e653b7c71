#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every benchmark of a build and prints its figures: per model the wall time against
# the floor (the bytes' line time both ways at 115200 baud plus the waits the protocol
# prescribes and the board's own work), the CPU while waiting, the idle terminal station's
# wake-ups per second. Figures, never a verdict: a busy machine moves them.
#   scripts/bench.sh [BUILD_DIR]
set -uo pipefail
build=${1:-build}
status=0
for bench in "$build"/bench_*; do
  [ -x "$bench" ] || continue
  echo "-- $(basename "$bench")"
  "$bench" --benchmark_counters_tabular=false 2>/dev/null | grep '^BM_' || status=1
done
exit $status

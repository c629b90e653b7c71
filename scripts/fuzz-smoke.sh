#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every fuzz target of a fuzz build on its seed corpus for a few thousand inputs.
set -euo pipefail
build=${1:-build-fuzz}
runs=${FUZZ_RUNS:-4000}
cd "$(dirname "$0")/.."
status=0
for src in fuzz/*.cpp; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cpp)
  corpus=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
  echo "-- $name"
  if ! "$build/$name" -runs="$runs" -max_len=4096 -timeout=10 -rss_limit_mb=1024 "$corpus" \
       > "$build/$name.log" 2>&1; then
    tail -n 40 "$build/$name.log"; status=1
  fi
  rm -rf "$corpus"
done
exit $status

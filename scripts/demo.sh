#!/usr/bin/env bash
# The station's main job: builds progstation-cli and runs the example project, whose
# PROGRAMMER.INI maps COM1 to a simulated ATmega32 on an AVR programmer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
mkdir -p build-demo
if ! { cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DPS_GUI=OFF -DPS_TESTS=OFF \
         -DPS_BENCH=OFF && cmake --build build-demo --target progstation-cli; } \
       > build-demo/build.log 2>&1; then
  cat build-demo/build.log; exit 1
fi
cd examples
exec ../build-demo/progstation-cli --ini PROGRAMMER.INI "$@"

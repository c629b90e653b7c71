#!/usr/bin/env bash
# The station's main job: builds progstation-cli and runs the example project, whose
# PROGRAMMER.INI maps COM1 to a simulated ATmega32 on an AVR programmer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DPS_GUI=OFF -DPS_TESTS=OFF \
      -DPS_BENCH=OFF >/dev/null
cmake --build build-demo --target progstation-cli >/dev/null
cd examples
exec ../build-demo/progstation-cli --ini PROGRAMMER.INI "$@"

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The station's main job: builds progstation-cli and runs an example project against its
# simulated board. `scripts/demo.sh NAME [ARGS...]` runs examples/NAME/ (default: atmel, a
# simulated ATmega32 on an AVR programmer); every example's PROGRAMMER.INI maps COM1 to the
# model's simulated board, so no hardware is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
name=atmel
if [ $# -gt 0 ] && [ -d "examples/$1" ]; then name=$1; shift; fi
scripts/install-deps.sh run
mkdir -p build-demo
if ! { cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DPS_GUI=OFF -DPS_TESTS=OFF \
         -DPS_BENCH=OFF && cmake --build build-demo --target progstation-cli; } \
       > build-demo/build.log 2>&1; then
  cat build-demo/build.log; exit 1
fi
cd "examples/$name"
# Files a model needs besides its images (the stand-in stage programs of examples/infineon)
# are taken from the example's own folder.
export PROGSTATION_DATA_DIR="${PROGSTATION_DATA_DIR:-$PWD}"
exec ../../build-demo/progstation-cli --ini PROGRAMMER.INI "$@"

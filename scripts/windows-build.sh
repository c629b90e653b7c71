#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds the terminal station for 64-bit Windows with MinGW-w64 and makes its ZIP:
#   scripts/windows-build.sh [BUILD_DIR]        (default build-win)
# gives BUILD_DIR/progstation-cli.exe, the non-GUI tests (progstation_tests.exe) and
# BUILD_DIR/progstation-cli-<version>-windows-x86_64.zip. Runs nothing under Wine: that is
# scripts/windows-test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-win}
scripts/install-deps.sh windows
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake "${launcher[@]}" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/windows-wine.sh" >/dev/null
cmake --build "$dir" -j "${PS_JOBS:-2}"
# Only system DLLs: the .exe runs from the unpacked folder on any Windows 10 or later.
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  bad=$(x86_64-w64-mingw32-objdump -p "$dir/progstation-cli.exe" | sed -n 's/^\s*DLL Name: //p' |
        grep -viE '^(kernel32|msvcrt|advapi32|setupapi|winmm|user32|ws2_32|ucrtbase|api-ms-win-.*)\.dll$' || true)
  [ -z "$bad" ] || { echo "progstation-cli.exe imports non-system DLLs: $bad" >&2; exit 1; }
fi
(cd "$dir" && cpack -G ZIP >/dev/null)
ls "$dir"/progstation-cli-*.zip

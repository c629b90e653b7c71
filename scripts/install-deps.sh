#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs with apt-get the Debian 12 packages a purpose needs, and does nothing when they
# are already there.  Usage: install-deps.sh run|test|windows [--check]
# (--check: only says, by its exit status, whether they are all there)
# (windows: the MinGW-w64 cross compiler and Wine for the Windows terminal station, on top
# of the test packages)
set -euo pipefail
case "${1:-test}" in
  run)  want=(cmake ninja-build g++ nlohmann-json3-dev libcli11-dev) ;;
  test) want=(cmake ninja-build g++ nlohmann-json3-dev libcli11-dev clang libclang-rt-14-dev libgtest-dev libgmock-dev
              libbenchmark-dev qt6-base-dev
              pandoc dpkg-dev file man-db desktop-file-utils appstream lintian python3) ;;
  windows) want=(cmake ninja-build g++ nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev
                 g++-mingw-w64-x86-64 wine64 util-linux) ;;
  *) echo "usage: $0 run|test|windows" >&2; exit 64 ;;
esac
missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${2:-}" = "--check" ]; then
  [ ${#missing[@]} -eq 0 ]
  exit
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

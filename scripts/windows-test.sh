#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Windows terminal station (scripts/windows-build.sh), runs its non-GUI tests
# under Wine, and runs every example under Wine twice, over the in-process simulated board
# and over boardsim on a pseudo-terminal mapped to COM1, comparing each status output and
# wire trace with the Linux build's. Every Wine start goes through scripts/windows-wine.sh,
# so Wine never sees a real /dev/ttyS* (the system console here).
#   scripts/windows-test.sh [--no-pty]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
pty=1; [ "${1:-}" = "--no-pty" ] && pty=0
win=build-win
ref=build-win-ref   # the Linux station the Windows one is compared with
scripts/windows-build.sh "$win"

echo "== Linux reference build"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$ref" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPS_GUI=OFF -DPS_TESTS=OFF \
      -DPS_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$ref" -j "${PS_JOBS:-2}" --target progstation-cli boardsim >/dev/null

export WINEPREFIX=$root/$win/wine
wine=$root/scripts/windows-wine.sh
# One server for the whole run (later starts take well under 1 s); one may run already.
"$wine" --server -p 60 || true
trap '"$wine" --server -k 2>/dev/null || true' EXIT
# The first start after a new server sets the prefix up and takes long; ctest's reading of
# the test list has a time limit, so Wine starts once before.
"$wine" "$root/$win/progstation-cli.exe" --version >/dev/null 2>&1 || true

echo "== Windows tests under Wine"
# Tests whose premise Windows does not share: two names that differ only in case are one
# file there; Wine makes no symbolic links; nul.mhx is the NUL device, refused by name.
linux_only='FindFileIgnoringCase\.|ImageText\.OpensANameGivenInOtherCase|DataFolder\.TheProgramsFolderWinsAndCaseIsIgnored'
linux_only+='|StepEditorTest\.BrowseNamesImagesBelowTheStepFileRelatively|TMOTLoad\.BinaryGarbageIsABadFileNotACrash'
ctest --test-dir "$win" -j "${PS_JOBS:-2}" --output-on-failure --timeout 300 -E "$linux_only"

work=$root/$win/compare
rm -rf "$work"; mkdir -p "$work"
fail=0

# A trace as the comparison sees it: without the times, the device's name in OPEN (a pty
# on Linux, \\.\COM1 on Windows) left out, every event but the received bytes in order,
# and the received bytes as one stream at the end (where a board's answer falls between
# the station's writes, and how it is split into reads, depends on timing, not on the
# station).
events() {
  awk '{ $1 = ""; sub(/^ /, "") }
       $1 == "OPEN" { $3 = "DEVICE" }
       $1 == "RX" { rx = rx substr($0, 3); next }
       { print }
       END { print "RX" rx }' "$1"
}

# Runs example $2 on station $1 (linux|windows) with PROGSTATION_COM1=$3 ("" keeps the INI's
# mapping); output and trace go to $work/NAME.TAG.SIDE.*
run() {
  local side=$1 name=$2 port=$3 tag=$4 out=$work/$2.$4.$1 rc=0
  cd "examples/$name"
  if [ "$side" = linux ]; then
    PROGSTATION_DATA_DIR=$PWD PROGSTATION_COM1=$port timeout 120 "$root/$ref/progstation-cli" \
      --ini PROGRAMMER.INI --trace "$out.trace" >"$out.out" 2>&1 || rc=$?
  else
    PROGSTATION_DATA_DIR=$PWD PROGSTATION_COM1=$port timeout 180 "$wine" \
      "$root/$win/progstation-cli.exe" --ini PROGRAMMER.INI --trace "Z:$out.trace" \
      >"$out.out" 2>&1 || rc=$?
  fi
  cd "$root"
  echo "exit $rc" >>"$out.out"
  events "$out.trace" >"$out.events" 2>/dev/null || true
}

# Compares the two stations' output and trace (the trace's times left out).
verdict() {
  local name=$1 tag=$2 base=$work/$1.$2 v=""
  cmp -s "$base.linux.out" "$base.windows.out" || v="status output differs; "
  # Every event the same and in order; of the received bytes one stream starts the other
  # (a flow that does not wait for its last acknowledgements closes with some in flight).
  local rxl rxw
  rxl=$(tail -1 "$base.linux.events"); rxw=$(tail -1 "$base.windows.events")
  cmp -s <(sed '$d' "$base.linux.events") <(sed '$d' "$base.windows.events") &&
    [[ "$rxl" == "$rxw"* || "$rxw" == "$rxl"* ]] || v="${v}wire trace differs; "
  [ -s "$base.linux.events" ] || v="${v}no trace; "
  printf '  %-20s %-4s %s(%s)\n' "$name" "$tag" "${v:-same output and trace }" \
         "$(tail -1 "$base.linux.out")"
  [ -z "$v" ] || fail=1
}

echo "== examples under Wine, in-process simulated boards"
for dir in examples/*/; do
  name=$(basename "$dir")
  run linux "$name" "" sim
  run windows "$name" "" sim
  verdict "$name" sim
done

# boardsim on a fresh pseudo-terminal for one run; its port in $port.
start_board() {
  coproc SIM { exec "$root/$ref/boardsim" --log "$1" "$2" 2>&1; }
  port=""
  read -r -t 10 line <&"${SIM[0]}" && port=${line#port: }
}
stop_board() {
  kill "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || true
}

if [ $pty -eq 1 ]; then
  echo "== examples under Wine, boardsim on a pseudo-terminal as COM1"
  for dir in examples/*/; do
    name=$(basename "$dir")
    board=$(sed -n 's/^COM1=sim:\([^[:space:];]*\).*/\1/p' "$dir/PROGRAMMER.INI" | head -1)
    [ -n "$board" ] || continue
    start_board "$work/$name.pty.linux.board" "$board"
    run linux "$name" "$port" pty
    stop_board
    start_board "$work/$name.pty.windows.board" "$board"
    "$wine" --com1 "$port"
    run windows "$name" COM1 pty
    stop_board
    verdict "$name" pty
  done
  "$wine" --com1 /dev/null
fi
exit $fail

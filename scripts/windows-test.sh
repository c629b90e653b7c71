#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Windows terminal station (scripts/windows-build.sh), runs its non-GUI tests
# under Wine, and runs every example under Wine twice, over the in-process simulated board
# and over boardsim on a pseudo-terminal mapped to COM1, comparing each status output and
# wire trace with the Linux build's. Every Wine start goes through scripts/windows-wine.sh,
# so Wine never sees a real /dev/ttyS* (the system console here).
#   scripts/windows-test.sh [--no-pty] [--ref BUILD_DIR]
# --ref names a Linux build whose progstation-cli and boardsim serve as the reference
# (scripts/test.sh passes its normal build); without it one is built in build-win-ref.
# Wine needs a private mount namespace, so without root (or where the packages cannot be
# installed) the step says it is skipped and ends with 0.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
pty=1 ref=""
while [ $# -gt 0 ]; do
  case "$1" in
    --no-pty) pty=0 ;;
    --ref) ref=$2; shift ;;
    *) echo "usage: $0 [--no-pty] [--ref BUILD_DIR]" >&2; exit 64 ;;
  esac
  shift
done
skip() { echo "windows-test.sh: skipped: $*"; exit 0; }
if ! unshare -m --propagation private true 2>/dev/null; then
  skip "no private mount namespace here (needs root), and Wine must never see /dev/ttyS*"
fi
if [ "$(id -u)" -ne 0 ] && ! scripts/install-deps.sh windows --check 2>/dev/null; then
  skip "the MinGW-w64 compiler or Wine is missing and only root installs them"
fi
win=build-win
scripts/windows-build.sh "$win"

if [ -z "$ref" ]; then
  echo "== Linux reference build"
  ref=build-win-ref   # the Linux station the Windows one is compared with
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$ref" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPS_GUI=OFF -DPS_TESTS=OFF \
        -DPS_BENCH=OFF "${launcher[@]}" >/dev/null
  cmake --build "$ref" -j "${PS_JOBS:-2}" --target progstation-cli boardsim >/dev/null
fi

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
fail=0
# A Wine process now and then ends at its start, at once and without a word (seen about
# once in 400 starts, right after a new server); a test that fails twice is a failure.
ctest --test-dir "$win" -j "${PS_JOBS:-2}" --output-on-failure --timeout 300 -E "$linux_only" \
      --repeat until-pass:2 || fail=1

work=$root/$win/compare
rm -rf "$work"; mkdir -p "$work"

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

# Compares the two stations' output and trace (the trace's times left out); "" when same.
differences() {
  local base=$work/$1.$2 v=""
  cmp -s "$base.linux.out" "$base.windows.out" || v="status output differs; "
  # Every event the same and in order; of the received bytes one stream starts the other
  # (a flow that does not wait for its last acknowledgements closes with some in flight).
  local rxl rxw
  rxl=$(tail -1 "$base.linux.events"); rxw=$(tail -1 "$base.windows.events")
  cmp -s <(sed '$d' "$base.linux.events") <(sed '$d' "$base.windows.events") &&
    [[ "$rxl" == "$rxw"* || "$rxw" == "$rxl"* ]] || v="${v}wire trace differs; "
  [ -s "$base.linux.events" ] || v="${v}no trace; "
  echo "$v"
}

# Prints the verdict of example $1 over $2 (sim|pty); `again` runs the Windows side once
# more, for a difference seen first (a Wine start that failed shows then as passing twice
# in a row, a real difference as failing twice).
verdict() {
  local name=$1 tag=$2 v note=""
  v=$(differences "$name" "$tag")
  if [ -n "$v" ]; then
    mkdir -p "$work/first"
    cp "$work/$name.$tag.windows".* "$work/first/" 2>/dev/null || true
    again "$name"
    note=" (on a second try; the first: ${v%; })"
    v=$(differences "$name" "$tag")
  fi
  [ -z "$v" ] || note=""
  printf '  %-20s %-4s %s(%s)%s\n' "$name" "$tag" "${v:-same output and trace }" \
         "$(tail -1 "$work/$name.$tag.linux.out")" "$note"
  [ -z "$v" ] || fail=1
}

echo "== examples under Wine, in-process simulated boards"
for dir in examples/*/; do
  name=$(basename "$dir")
  run linux "$name" "" sim
  run windows "$name" "" sim
  again() { run windows "$1" "" sim; }
  verdict "$name" sim
done

echo "== a gang under Wine: examples/atmel on COM1 and COM2, COM3 silent"
# The runs' lines interleave as they come, so what is compared is the gang's table (without
# the times) and its exit status.
gang() {
  local side=$1 out=$work/gang.$1 rc=0
  cd examples/atmel
  local env=(PROGSTATION_DATA_DIR="$PWD" PROGSTATION_COM2=sim:avr PROGSTATION_COM3=sim:avr,silent)
  if [ "$side" = linux ]; then
    env "${env[@]}" timeout 120 "$root/$ref/progstation-cli" --ini PROGRAMMER.INI \
      --gang 1,2,3 --silence-limit 2 </dev/null >"$out.out" 2>&1 || rc=$?
  else
    env "${env[@]}" timeout 180 "$wine" "$root/$win/progstation-cli.exe" --ini PROGRAMMER.INI \
      --gang 1,2,3 --silence-limit 2 </dev/null >"$out.out" 2>&1 || rc=$?
  fi
  cd "$root"
  sed -n '/^port /,$p' "$out.out" | awk '{ $(NF-2) = ""; $(NF-1) = ""; print }' >"$out.table"
  echo "exit $rc" >>"$out.table"
}
gang linux
gang windows
if cmp -s "$work/gang.linux.table" "$work/gang.windows.table" &&
   grep -q '^COM3 ' "$work/gang.linux.table"; then
  echo "  gang 1,2,3            same table and status ($(tail -1 "$work/gang.linux.table"))"
else
  echo "  gang 1,2,3            the tables differ:"; diff "$work/gang.linux.table" "$work/gang.windows.table" || true
  fail=1
fi

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
  # COM1 leads to a link that each board's pty takes in turn: Wine reads its port map when
  # its server starts, and follows the link when the station opens the port, so one server
  # serves every example.
  link=$work/com1
  ln -sfn /dev/null "$link"
  "$wine" --com1 "$link"
  windows_over_pty() {
    start_board "$work/$1.pty.windows.board" "$board"
    ln -sfn "$port" "$link"
    run windows "$1" COM1 pty
    stop_board
  }
  for dir in examples/*/; do
    name=$(basename "$dir")
    board=$(sed -n 's/^COM1=sim:\([^[:space:];]*\).*/\1/p' "$dir/PROGRAMMER.INI" | head -1)
    [ -n "$board" ] || continue
    start_board "$work/$name.pty.linux.board" "$board"
    run linux "$name" "$port" pty
    stop_board
    windows_over_pty "$name"
    again() { windows_over_pty "$1"; }
    verdict "$name" pty
  done
  ln -sfn /dev/null "$link"
  "$wine" --com1 /dev/null
fi
exit $fail

#!/usr/bin/env bash
# Puts the licence line "SPDX-License-Identifier: MIT" at the top of every source file of the
# project (C++ sources and headers, CMake files, shell and Python scripts): the first line,
# or the second after a "#!" line. Running it again changes nothing. With --check it changes
# nothing and lists the files that lack the line (status 1 when there are any).
#   Usage: spdx.sh [--check] [FOLDER]   (default: the checkout this script is in)
set -euo pipefail
check=0
if [ "${1:-}" = --check ]; then check=1; shift; fi
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
cd "$root"
tag="SPDX-License-Identifier: MIT"

list_files() {  # every candidate file, relative to the root, NUL-separated
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z --cached --others --exclude-standard
    else
        find . -path ./build -prune -o -path './build-*' -prune -o -path ./.git -prune \
            -o -type f -print0 | sed -z 's|^\./||'
    fi
}

comment_for() {  # the comment leader of a source file, or nothing for other files
    local f=$1
    case $f in
        *.cpp|*.h|*.hpp|*.cc) echo "//"; return ;;
        CMakeLists.txt|*/CMakeLists.txt|*.cmake|*.sh|*.py) echo "#"; return ;;
    esac
    # Scripts without a suffix (the CI entry, maintainer scripts, completions) by their "#!".
    case $(head -c 64 "$f" 2>/dev/null | tr -d '\000' | head -n 1) in
        '#!'*sh*|'#!'*python*) echo "#" ;;
    esac
    if [ "${f#*bash-completion/}" != "$f" ]; then echo "#"; fi
}

missing=0
while IFS= read -r -d '' f; do
    [ -f "$f" ] && [ ! -L "$f" ] || continue
    leader=$(comment_for "$f" | head -n 1)
    [ -n "$leader" ] || continue
    first=$(head -n 1 "$f")
    if [ "${first#\#!}" != "$first" ]; then
        # A script: the "#!" line stays first.
        sed -n 2p "$f" | grep -qF "$tag" && continue
        line=2
    else
        printf '%s\n' "$first" | grep -qF "$tag" && continue
        line=1
    fi
    missing=$((missing + 1))
    if [ "$check" -eq 1 ]; then
        echo "no licence line: $f"
        continue
    fi
    tmp=$(mktemp "$f.spdx.XXXXXX")
    if [ "$line" -eq 2 ]; then
        { head -n 1 "$f"; printf '%s %s\n' "$leader" "$tag"; tail -n +2 "$f"; } >"$tmp"
    else
        { printf '%s %s\n' "$leader" "$tag"; cat "$f"; } >"$tmp"
    fi
    chmod --reference="$f" "$tmp"
    mv "$tmp" "$f"
done < <(list_files)

if [ "$check" -eq 1 ]; then
    [ "$missing" -eq 0 ] || { echo "spdx: $missing file(s) without the licence line" >&2; exit 1; }
    echo "spdx: every source file has the licence line"
else
    echo "spdx: added the licence line to $missing file(s)"
fi

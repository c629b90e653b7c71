#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package from a configured build folder and checks it as a user of the
# package and a distribution's maintainer would meet it: the licence line in every source
# file, lintian without errors or warnings, the files it holds (nothing outside /usr but
# its conffile in /etc/progstation), its man pages rendered without warnings, its desktop
# entry and AppStream metainfo valid, the note of its postinst said once, and the programs it
# ships running the example project from the unpacked tree.
#   Usage: package-check.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0; failed=0
check() {  # check "what" command...
    local what=$1; shift
    if "$@" >"$work/out" 2>&1; then passed=$((passed + 1)); echo "ok   $what"
    else failed=$((failed + 1)); echo "FAIL $what"; sed 's/^/     /' "$work/out"; fi
}

source=$(cd "$(dirname "$0")/.." && pwd)
check "every source file has the licence line" "$source/scripts/spdx.sh" --check "$source"

rm -f "$build"/progstation_*.deb
(cd "$build" && cpack -G DEB >/dev/null 2>&1)
deb=$(ls "$build"/progstation_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"

for f in /usr/bin/progstation /usr/bin/progstation-cli /usr/bin/boardsim \
         /usr/share/man/man1/progstation.1.gz /usr/share/man/man1/progstation-cli.1.gz \
         /usr/share/man/man1/boardsim.1.gz /usr/share/man/man5/progstation-steps.5.gz \
         /usr/share/applications/progstation.desktop \
         /usr/share/icons/hicolor/scalable/apps/progstation.svg \
         /usr/share/icons/hicolor/48x48/apps/progstation.png \
         /usr/share/bash-completion/completions/progstation-cli \
         /usr/lib/udev/rules.d/60-progstation-ftdi-latency.rules \
         /usr/share/progstation/examples/atmel/upgrade.cfg \
         /usr/share/doc/progstation/copyright /usr/share/doc/progstation/changelog.Debian.gz \
         /usr/share/doc/progstation/examples \
         /usr/share/metainfo/org.progstation.progstation.metainfo.xml \
         /etc/progstation/PROGRAMMER.INI; do
    check "package holds $f" grep -qx "$f" "$work/files"
done
check "nothing outside /usr but /etc/progstation" \
    bash -c "! grep -v -e '^/$' -e '^/usr/' -e '^/etc/$' -e '^/etc/progstation/' '$work/files'"
# Errors (E:) and warnings (W:) fail; informational and pedantic tags are shown only.
check "lintian: no error and no warning" bash -c "
    lintian --info --display-info --pedantic '$deb' >'$work/lintian' 2>&1 || true
    cat '$work/lintian'; ! grep -E '^(E|W): ' '$work/lintian'"
check "no -dev package among the dependencies" \
    bash -c "dpkg-deb -f '$deb' Depends | grep -q libqt6widgets6 && ! dpkg-deb -f '$deb' Depends | grep -q -- '-dev'"

dpkg-deb -x "$deb" "$work/root"
for page in "$work"/root/usr/share/man/man*/*.gz; do
    check "man page $(basename "$page") renders without warnings" \
        bash -c "LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '$page' 2>&1 >/dev/null | (! grep .)"
done
check "desktop entry is valid" \
    desktop-file-validate "$work/root/usr/share/applications/progstation.desktop"
check "AppStream metainfo is valid" appstreamcli validate --no-net \
    "$work/root/usr/share/metainfo/org.progstation.progstation.metainfo.xml"
check "the examples are reached from the documentation folder" \
    test -f "$work/root/usr/share/doc/progstation/examples/atmel/upgrade.cfg"
dpkg-deb -e "$deb" "$work/control"
check "postinst says its note on the first installation only" bash -c "
    sh '$work/control/postinst' configure '' | grep -q dialout &&
    [ -z \"\$(sh '$work/control/postinst' configure 0.1-1)\" ]"
check "the conffile is marked as such" grep -qx /etc/progstation/PROGRAMMER.INI \
    "$work/control/conffiles"
check "bash completion offers the options" bash -c "
    source '$work/root/usr/share/bash-completion/completions/progstation-cli'
    COMP_WORDS=(progstation-cli --qu); COMP_CWORD=1; _progstation_cli
    [ \"\${COMPREPLY[*]}\" = --quiet ]"
check "progstation-cli --version" "$work/root/usr/bin/progstation-cli" --version
check "boardsim --version" "$work/root/usr/bin/boardsim" --version
check "the installed example programs its simulated board" \
    bash -c "cd '$work/root/usr/share/progstation/examples/atmel' &&
             '$work/root/usr/bin/progstation-cli' --ini PROGRAMMER.INI"

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

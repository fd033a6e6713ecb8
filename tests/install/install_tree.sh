#!/usr/bin/env bash
# `cmake --install` into a scratch prefix: the program, desktop entry, icons, metainfo, man page
# and systemd user unit are where desktops and systemd look, and the validators accept them.
# Usage: install_tree.sh BUILD_DIR   (exit 77 = skipped: validators missing)
set -euo pipefail
build=$(readlink -f "$1")
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/deps test)"; exit 77; }
done
prefix=$(mktemp -d /tmp/tarnwick-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fails=0
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }
for f in bin/tarnwick share/applications/tarnwick.desktop share/metainfo/org.tarnwick.tarnwick.metainfo.xml \
         share/icons/hicolor/scalable/apps/tarnwick.svg share/man/man1/tarnwick.1 share/man/ja/man1/tarnwick.1 \
         share/doc/tarnwick/README.md share/doc/tarnwick/README.ja.md lib/systemd/user/tarnwick.service; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/tarnwick.png
  [ "$(file -b "$png" 2>/dev/null | grep -o "$size x $size")" = "$size x $size" ] || fail "$png is not a ${size}x${size} PNG"
done
desktop-file-validate "$prefix/share/applications/tarnwick.desktop" || fail "desktop entry rejected"
grep -qx 'Categories=Network;Email;' "$prefix/share/applications/tarnwick.desktop" || fail "desktop entry categories"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tarnwick.tarnwick.metainfo.xml" || fail "metainfo rejected"
grep -q '^ExecStart=/.*/tarnwick --watch$' "$prefix/lib/systemd/user/tarnwick.service" || fail "unit does not run --watch"
if command -v groff >/dev/null; then
  for page in man1 ja/man1; do
    [ -z "$(LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww -z "$prefix/share/man/$page/tarnwick.1" 2>&1)" ] || fail "$page man page has warnings"
  done
fi
"$prefix/bin/tarnwick" --version | grep -q '^tarnwick ' || fail "installed program does not run"
[ "$fails" = 0 ]

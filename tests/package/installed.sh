#!/usr/bin/env bash
# Installs the Debian package (scripts/package) on this machine, checks what it put in place and
# runs the installed program headless against the local servers, the way a user of the package
# would: settings under $XDG_CONFIG_HOME, ledgers under $XDG_DATA_HOME. Removes the package again.
# Usage: installed.sh PACKAGE.deb    (run as root; the mail part needs the servers' variables)
set -euo pipefail
deb=$(readlink -f "$1")
# shellcheck source=../support/mail.sh
. "$(dirname "$0")/../support/mail.sh"

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 "$deb" >/dev/null
work=$(mktemp -d /tmp/tarnwick-package-XXXXXX)
trap 'rm -rf "$work"; apt-get remove -y -q -o DPkg::Lock::Timeout=300 tarnwick >/dev/null 2>&1 || true' EXIT

fails=0
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }
for f in /usr/bin/tarnwick /usr/share/applications/tarnwick.desktop /usr/share/metainfo/org.tarnwick.tarnwick.metainfo.xml \
         /usr/share/icons/hicolor/48x48/apps/tarnwick.png /usr/share/man/man1/tarnwick.1 /usr/share/doc/tarnwick/README.md \
         /usr/lib/systemd/user/tarnwick.service; do
  dpkg -S "$f" >/dev/null 2>&1 || fail "$f is not in the package"
done
dpkg-query -W -f='${Depends}\n' tarnwick | grep -q 'libqt6widgets6' || fail "dependencies were not computed from the libraries"
grep -qx 'ExecStart=/usr/bin/tarnwick --watch' /usr/lib/systemd/user/tarnwick.service || fail "unit runs another program"

if have_mail_servers; then
  lock_mail_servers
  mkdir -p "$work/home/.config/tarnwick"
  write_settings "$work/home/.config/tarnwick/tarnwick.ini" "$TARNWICK_POP3_USER" "$TARNWICK_POP3_PASS"
  printf 'From: sender@example.jp\nTo: box@example.jp\nSubject: packaged\nMessage-ID: <packaged@example.jp>\n\nbody\n' >"$work/msg"
  drop_message "$work/msg"
  code=0
  (cd / && env -i PATH=/usr/bin:/bin HOME="$work/home" /usr/bin/tarnwick --once >"$work/out" 2>&1) || code=$?
  [ "$code" = 0 ] || { fail "installed --once exited $code"; cat "$work/out" >&2; }
  grep -qF 'メール転送(packaged)' "$work/out" || fail "installed --once did not forward"
  [ -s "$work/home/.local/share/tarnwick/phone@docomo.ne.jp.txt" ] || fail "no ledger under XDG_DATA_HOME"
  wait_delivered 1
  [ "$(delivered_count)" = 1 ] || fail "the message was not delivered"
  empty_maildir "$TARNWICK_POP3_MAILDIR"; empty_maildir "$TARNWICK_DELIVERED_MAILDIR"
else
  echo "mail servers not configured: forwarding part skipped"
  /usr/bin/tarnwick --version >/dev/null || fail "installed program does not run"
fi
[ "$fails" = 0 ] && echo "package: all passed"
[ "$fails" = 0 ]

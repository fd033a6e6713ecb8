#!/usr/bin/env bash
# Runs the keyring tests of TESTS (the signin test program) three times: under a private session
# bus with an unlocked gnome-keyring, with one that answers but cannot store (no login keyring, no
# prompter), and with no bus at all. Exit 77 (skipped) without the tools.
set -euo pipefail
tests=$1
for tool in dbus-run-session gnome-keyring-daemon; do
  command -v "$tool" >/dev/null || { echo "keyring: $tool missing"; exit 77; }
done
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# The keyring files of this run live in a throw-away home, never in the user's.
export HOME=$home XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS KDE_FULL_SESSION XDG_CURRENT_DESKTOP DESKTOP_SESSION
TARNWICK_KEYRING=none "$tests" --gtest_filter='Keyring*'
set +e
dbus-run-session -- sh -c '
  gnome-keyring-daemon --start --components=secrets >/dev/null
  TARNWICK_KEYRING=locked exec "$0" --gtest_filter="Keyring*"' "$tests" >"$home/out" 2>&1
rc=$?
# The keyring asks a prompter that cannot show itself: expected noise here.
grep -v -e "fd limit" -e "control socket" -e "discover_other_daemon" -e "SystemPrompter" -e "cannot open display" "$home/out"
[ $rc -eq 0 ] || exit $rc
dbus-run-session -- sh -c '
  printf "%s" test-keyring-pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  TARNWICK_KEYRING=session exec "$0" --gtest_filter="Keyring*"' "$tests" >"$home/out" 2>&1
rc=$?
# dbus-daemon cannot raise its descriptor limit in a container: harmless, and not worth a line.
grep -v "fd limit" "$home/out"
exit $rc

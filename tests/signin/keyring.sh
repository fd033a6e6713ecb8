#!/usr/bin/env bash
# Runs the keyring tests of TESTS (the signin test program) three times: under a private session
# bus with an unlocked gnome-keyring, with one that answers but cannot store (no login keyring, no
# prompter), under one where a stand-in takes keyring calls and never answers, and with no bus at
# all (but a display, where Xvfb is there: no bus may be started for it). Exit 77 (skipped) without
# the tools.
set -euo pipefail
tests=$1
for tool in dbus-run-session gnome-keyring-daemon; do
  command -v "$tool" >/dev/null || { echo "keyring: $tool missing"; exit 77; }
done
home=$(mktemp -d)
xvfb=
trap '[ -n "$xvfb" ] && kill "$xvfb"; rm -rf "$home"' EXIT
# The keyring files of this run live in a throw-away home, never in the user's.
export HOME=$home XDG_DATA_HOME=$home/.local/share XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS KDE_FULL_SESSION XDG_CURRENT_DESKTOP DESKTOP_SESSION
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -nolisten tcp 3>"$home/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$home/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$home/display")
fi
TARNWICK_KEYRING=none "$tests" --gtest_filter='Keyring*'
# dbus-launch (dbus-x11) keeps the address of a bus it started for the display here.
if [ -e "$home/.dbus/session-bus" ]; then echo "keyring: a session bus was started for the display"; exit 1; fi
[ -n "$xvfb" ] && kill "$xvfb" && wait "$xvfb" 2>/dev/null
xvfb=
unset DISPLAY
set +e
for test in OnTheApplicationsThread FromACyclesThread; do
  dbus-run-session -- env TARNWICK_KEYRING=stalled "$tests" --gtest_filter="KeyringStop.$test" >"$home/out" 2>&1 || {
    grep -v "fd limit" "$home/out"
    exit 1
  }
done
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

#!/usr/bin/env bash
# The real program refuses a single-instance lock that is not safely its own: a message on standard
# error and a non-zero exit, before it touches the display.
# Usage: instance_lock.sh PROGRAM
set -uo pipefail
prog=$1
work=$(mktemp -d /tmp/tarnwick-lock-XXXXXX)
trap 'rm -rf "$work"' EXIT
unset DISPLAY WAYLAND_DISPLAY
export QT_QPA_PLATFORM=none-such
failed=0

expect_refusal() { # what needle
  local rc=0
  timeout 20 "$prog" >"$work/out" 2>"$work/err" || rc=$?
  if [ "$rc" -eq 0 ] || [ "$rc" -eq 124 ] || ! grep -qF -- "$2" "$work/err"; then
    echo "FAIL: $1: exit $rc, stderr:"; cat "$work/err"; failed=1
  else
    echo "ok: $1: exit $rc: $(cat "$work/err")"
  fi
}

uid=$(id -u)
mkdir -m 0777 "$work/tmp"
export TMPDIR=$work/tmp
unset XDG_RUNTIME_DIR

mkdir -m 0755 "$work/tmp/tarnwick-$uid"
expect_refusal "lock folder open to others" "$work/tmp/tarnwick-$uid"
rmdir "$work/tmp/tarnwick-$uid"

mkdir -m 0700 "$work/elsewhere"
ln -s "$work/elsewhere" "$work/tmp/tarnwick-$uid"
expect_refusal "lock folder is a link" "$work/tmp/tarnwick-$uid"

if [ "$uid" -eq 0 ]; then
  mkdir -m 0700 "$work/runtime"
  export XDG_RUNTIME_DIR=$work/runtime
  touch "$work/runtime/ForwardMail.lock"
  chown nobody "$work/runtime/ForwardMail.lock"
  expect_refusal "lock file of another user" "$work/runtime/ForwardMail.lock"
else
  echo "note: the planted lock file of another user takes root; not tried"
fi
exit $failed

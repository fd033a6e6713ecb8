#!/usr/bin/env bash
# The real program refuses a single-instance lock that is not safely its own: a message on standard
# error and a non-zero exit, before it touches the display. A second start of the window brings the
# running one forward.
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
# A second start of the window brings the running one forward and ends at once, silently; a knock
# that is not the request changes nothing, and the socket left by a killed instance is replaced.
unset XDG_RUNTIME_DIR
rm -f "$work/tmp/tarnwick-$uid"
printf '[POP3]\r\nServer=127.0.0.1:1\r\n[SMTP]\r\nServer=127.0.0.1:1\r\n[Mail]\r\nUser=taro\r\nDomain=docomo.ne.jp\r\n' >"$work/t.ini"
wait_lines() { # pattern file count: true once there are count lines, within a bound that only ends a failure
  for _ in $(seq 1 600); do
    [ "$(grep -c -- "$1" "$2" 2>/dev/null)" -ge "$3" ] && return 0
    sleep 0.1
  done
  return 1
}
for start in first after-kill; do
  QT_QPA_PLATFORM=offscreen TARNWICK_TRACE=1 "$prog" --config "$work/t.ini" >"$work/window" 2>&1 &
  pid=$!
  wait_lines 'trace: background window' "$work/window" 1 || { echo "FAIL: $start: no window in the background"; failed=1; }
  socket=$(ls "$work"/tmp/tarnwick-"$uid"/*.sock 2>/dev/null)
  [ -S "$socket" ] || { echo "FAIL: $start: no socket"; failed=1; }
  if command -v python3 >/dev/null; then
    python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); s.sendall(b"shoe\n" * 1000); s.close()' "$socket"
  fi
  rc=0
  QT_QPA_PLATFORM=offscreen timeout 20 "$prog" --config "$work/t.ini" >"$work/second" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ] || [ -s "$work/second" ] || ! wait_lines 'trace: watch off' "$work/window" 1 ||
     [ "$(grep -c 'trace: watch off' "$work/window")" -ne 1 ] || ! kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: $start: second start exit $rc, its output:"; cat "$work/second"; echo "the window's:"; cat "$work/window"
    failed=1
  else
    echo "ok: $start: a second start brought the window forward and ended silently"
  fi
  kill -9 "$pid"; wait "$pid" 2>/dev/null
done
exit $failed

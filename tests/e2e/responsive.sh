#!/usr/bin/env bash
# End to end: while a server stalls the forwarding cycle, the icon's menu and the settings window
# still open, and choosing 終了 twice ends the program. The real program under Xvfb with trayer.
# Usage: responsive.sh PROGRAM XHELPER STALLSERVER     (exit 77 = skipped: X tools missing)
set -euo pipefail

prog=$(readlink -f "$1")
xhelper=$(readlink -f "$2")
stallserver=$(readlink -f "$3")

for tool in Xvfb trayer xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/deps test installs it)"
    exit 77
  fi
done

work=$(mktemp -d /tmp/tarnwick-responsive-XXXXXX)
xvfb_pid="" tray_pid="" app_pid="" server_pid=""
cleanup() {
  local p
  for p in $app_pid $server_pid $tray_pid $xvfb_pid; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/out*.txt; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done >&2
  exit 1
}
step() { echo "== $*"; }
wait_line() { # pattern file seconds [count]
  local i count=${4:-1}
  for i in $(seq 1 $(($3 * 10))); do
    if [ -f "$2" ] && [ "$(grep -c -- "$1" "$2" || true)" -ge "$count" ]; then return 0; fi
    sleep 0.1
  done
  fail "no line '$1' (x$count) in $(basename "$2") within $3 s"
}
wait_exit() { # pid seconds
  local i
  for i in $(seq 1 $(($2 * 10))); do
    if ! kill -0 "$1" 2>/dev/null; then
      rc=0
      wait "$1" || rc=$?
      return 0
    fi
    sleep 0.1
  done
  fail "process $1 still running $2 s after the second 終了"
}
visible_ids() { xdotool search --onlyvisible --classname tarnwick 2>/dev/null | sort || true; }
# The icon: the small window of the program's class in trayer's panel at the bottom of the screen.
find_icon() {
  local id i X Y WIDTH HEIGHT SCREEN WINDOW
  for i in $(seq 1 50); do
    for id in $(visible_ids); do
      eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
      if [ "${Y:-0}" -ge 700 ] && [ "${WIDTH:-100}" -le 64 ]; then echo "$id"; return 0; fi
    done
    sleep 0.1
  done
  return 1
}
click_icon() { # button
  local X Y WIDTH HEIGHT SCREEN WINDOW icon
  icon=$(find_icon) || fail "no tray icon"
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
  sleep 0.1
  xdotool click "$1"
}
# Chooses 終了 in the icon's menu.
choose_end() {
  click_icon 3
  sleep 0.5
  xdotool key Up Return
}
# Starts the program with the settings file in place and waits for its icon.
start_program() { # output-file
  ./tarnwick >"$1" 2>&1 &
  app_pid=$!
  wait_line 'trace: background tray' "$1" 10
  find_icon >/dev/null || fail "no tray icon"
}

export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
export TARNWICK_TRACE=1 QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
cp "$prog" "$work/tarnwick"
cd "$work"

step "X server, notification area and a server that stalls"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for i in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$work/display")
trayer --edge bottom --align right --widthtype request --height 32 --transparent false 2>"$work/trayer.log" &
tray_pid=$!
for i in $(seq 1 100); do "$xhelper" tray && break; sleep 0.1; done
"$xhelper" tray || fail "no notification area"
"$stallserver" "$work/port" &
server_pid=$!
for i in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
printf '[POP3]\r\nServer=127.0.0.1:%s\r\nUser=u\r\nPass=p\r\n[SMTP]\r\nServer=127.0.0.1:9\r\n[Mail]\r\nUser=keitai\r\nDomain=docomo.ne.jp\r\n[Common]\r\nInterval=60\r\n' \
  "$port" >tarnwick.ini

step "a cycle against a server that never answers"
start_program out1.txt
click_icon 1
WIN=$(timeout 10 xdotool search --sync --onlyvisible --name '^Tarnwick Ver1.01$' | head -n1) || fail "no window"
"$xhelper" close "$WIN"
wait_line 'trace: cycle' out1.txt 5
sleep 0.5
grep -q 'trace: finished cycle' out1.txt && fail "the cycle ended although the server never answered"

step "the menu opens while the cycle waits"
before=$(visible_ids)
click_icon 3
menu=""
for i in $(seq 1 100); do
  menu=$(comm -13 <(echo "$before") <(visible_ids) | head -n1)
  [ -n "$menu" ] && break
  sleep 0.1
done
[ -n "$menu" ] || fail "the menu did not open while a cycle ran"
xdotool key Escape

step "the window opens while the cycle waits"
click_icon 1
wait_line 'trace: watch off' out1.txt 10 2
timeout 10 xdotool search --sync --onlyvisible --name '^Tarnwick Ver1.01$' >/dev/null || fail "the window did not open"
grep -q 'trace: finished cycle' out1.txt && fail "the cycle ended although the server never answered"
"$xhelper" close "$WIN"
wait_line 'trace: background tray' out1.txt 5 3

step "終了 waits for the cycle, a second 終了 cuts it off"
choose_end
wait_line '転送の終了を待っています' out1.txt 10
choose_end
wait_line '転送を中断して終了します' out1.txt 10
wait_exit "$app_pid" 20
app_pid=""
[ "$rc" = 0 ] || fail "the program ended with $rc"
grep -q 'trace: end' out1.txt || fail "no clean end"

step "the same against a server that trickles its greeting"
start_program out2.txt
click_icon 1
WIN=$(timeout 10 xdotool search --sync --onlyvisible --name '^Tarnwick Ver1.01$' | head -n1) || fail "no window"
"$xhelper" close "$WIN"
wait_line 'trace: cycle' out2.txt 5
choose_end
wait_line '転送の終了を待っています' out2.txt 10
choose_end
wait_exit "$app_pid" 20
app_pid=""
[ "$rc" = 0 ] || fail "the program ended with $rc"
grep -q 'trace: finished cycle' out2.txt || fail "the cycle did not end"

echo "responsive: all steps passed"

#!/usr/bin/env bash
# End to end: the real program on a private X server (Xvfb) with a real notification area (trayer),
# driven with xdotool the way a user would.
# Usage: e2e.sh PROGRAM XHELPER OUTDIR     (exit 77 = skipped: X tools missing)
#
# Mail forwarding is checked as well when TARNWICK_E2E_MAIL=1 and the test servers' variables are set
# (scripts/servers exports TARNWICK_POP3_HOST/PORT/USER/PASS/MAILDIR, TARNWICK_SMTP_HOST/PORT and
# TARNWICK_DELIVERED_MAILDIR). The servers are then typed as "host:port": their implicit-TLS ports
# with the first start's SSL/TLS (SMTP with AUTH) when scripts/servers runs them, else the plain
# ports with 暗号化 set to なし.
set -euo pipefail

prog=$(readlink -f "$1")
xhelper=$(readlink -f "$2")
out=$(mkdir -p "$3" && readlink -f "$3")

for tool in Xvfb trayer xdotool import convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/deps test installs it)"
    exit 77
  fi
done

check_mail=0
if [ "${TARNWICK_E2E_MAIL:-0}" = 1 ] && [ -n "${TARNWICK_POP3_PORT:-}" ] && [ -n "${TARNWICK_SMTP_PORT:-}" ]; then
  check_mail=1
  # The servers are shared with the integration tests: hold their lock while we use them.
  exec 9>"${TARNWICK_SERVERS_DIR:-/tmp/tarnwick-servers}/tests.lock"
  flock -w 180 9 || { echo "FAIL: mail servers busy" >&2; exit 1; }
fi

work=$(mktemp -d /tmp/tarnwick-e2e-XXXXXX)
xvfb_pid="" tray_pid="" app_pid=""
cleanup() {
  local p
  for p in $app_pid $tray_pid $xvfb_pid; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [ -n "${DISPLAY:-}" ] && import -window root "$out/failure.png" 2>/dev/null || true
  for f in "$work"/out*.txt "$work"/err*.txt; do
    [ -f "$f" ] && { echo "--- $f"; cat "$f"; }
  done >&2
  exit 1
}
step() { echo "== $*"; }

# The limits of the waits below only end a failing run; a busy machine gets this many times
# the seconds each names.
slow=${TARNWICK_E2E_SLOW:-6}
# Waits until FILE holds a line matching the pattern, at most SECONDS.
wait_line() { # pattern file seconds [count]
  local i count=${4:-1}
  for i in $(seq 1 $(($3 * 10 * slow))); do
    if [ -f "$2" ] && [ "$(grep -c -- "$1" "$2" || true)" -ge "$count" ]; then return 0; fi
    sleep 0.1
  done
  fail "no line '$1' (x$count) in $(basename "$2") within $3 s"
}
# Waits until the process has ended and returns its exit code in $rc.
wait_exit() { # pid seconds
  local i
  for i in $(seq 1 $(($2 * 10 * slow))); do
    if ! kill -0 "$1" 2>/dev/null; then
      rc=0
      wait "$1" || rc=$?
      return 0
    fi
    sleep 0.1
  done
  fail "process $1 still running after $2 s"
}
visible_window() { # name-regex seconds
  timeout $(($2 * slow)) xdotool search --sync --onlyvisible --name "$1" | head -n1
}
# Waits until no visible window has the name; false when one is still there after SECONDS.
window_gone() { # name-regex seconds
  local i
  for i in $(seq 1 $(($2 * 10 * slow))); do
    xdotool search --onlyvisible --name "$1" >/dev/null || return 0
    sleep 0.1
  done
  return 1
}
click_at() { # x y [button]
  xdotool mousemove "$1" "$2"
  sleep 0.1
  xdotool click "${3:-1}"
}
# Replaces the text of the field at (x, y) of the settings window with the given text.
type_into() { # x y text
  click_at $((WX + $1)) $((WY + $2))
  xdotool key ctrl+a
  xdotool type --delay 20 -- "$3"
}
# The tray icon: the small visible window of the program's class in trayer's panel at the bottom
# (not the settings window, nor a notification balloon).
find_icon() {
  local id i X Y WIDTH HEIGHT SCREEN WINDOW
  for i in $(seq 1 $((50 * slow))); do
    for id in $(xdotool search --onlyvisible --classname tarnwick 2>/dev/null); do
      [ "$id" != "${WIN:-}" ] || continue
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
  click_at $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) "$1"
}

export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
export TARNWICK_TRACE=1 QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
# The settings file lives beside the executable and the ledger in the current folder: use a copy here.
cp "$prog" "$work/tarnwick"
cd "$work"

step "X server and notification area"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for i in $(seq 1 $((100 * slow))); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$work/display")
trayer --edge bottom --align right --widthtype request --height 32 --transparent false 2>"$work/trayer.log" &
tray_pid=$!
for i in $(seq 1 $((100 * slow))); do "$xhelper" tray && break; sleep 0.1; done
"$xhelper" tray || fail "no notification area"

security=None
if [ $check_mail = 1 ]; then
  pop3_server="$TARNWICK_POP3_HOST:$TARNWICK_POP3_PORT"
  smtp_server="$TARNWICK_SMTP_HOST:$TARNWICK_SMTP_PORT"
  if [ -n "${TARNWICK_POP3S_PORT:-}" ] && [ -n "${TARNWICK_SMTPS_PORT:-}" ] && [ -n "${SSL_CERT_FILE:-}" ]; then
    pop3_server="$TARNWICK_POP3_HOST:$TARNWICK_POP3S_PORT"
    smtp_server="$TARNWICK_SMTP_HOST:$TARNWICK_SMTPS_PORT"
    security=TLS
  fi
  pop3_user=$TARNWICK_POP3_USER pop3_pass=$TARNWICK_POP3_PASS
  # Puts a message into the mailbox: deliver NAME
  deliver() {
    local msg="$TARNWICK_POP3_MAILDIR/new/$(date +%s).$1.$$"
    printf 'From: sender@example.jp\r\nTo: tarnwick@example.jp\r\nSubject: %s %s\r\nMessage-ID: <%s.%s@example.jp>\r\n\r\nbody\r\n' \
      "$1" "$$" "$1" "$$" >"$msg"
    chown --reference="$TARNWICK_POP3_MAILDIR" "$msg" 2>/dev/null || true
  }
  # A message already there before the first start: the first run records it and sends nothing.
  deliver old
  delivered_before=$(find "$TARNWICK_DELIVERED_MAILDIR/new" -type f | wc -l)
else
  # Nothing listens there: a cycle only fails to log in, which it reports in the log.
  pop3_server=127.0.0.1:9 smtp_server=127.0.0.1:9 pop3_user=taro pop3_pass=secret
fi

step "first start without a settings file: the window stays"
./tarnwick >out1.txt 2>err1.txt &
app_pid=$!
WIN=$(visible_window '^Tarnwick Ver1.01$' 10) || fail "the settings window did not appear"
sleep 1.2
xdotool search --onlyvisible --name '^Tarnwick Ver1.01$' >/dev/null || fail "the window went away without settings"
grep -q 'trace: background' out1.txt && fail "went to the background without settings"
[ -e tarnwick.ini ] && fail "reading the settings created a file"
eval "$(xdotool getwindowgeometry --shell "$WIN" | sed 's/^/W/')"
[ "$WWIDTH" = 708 ] && [ "$WHEIGHT" = 340 ] || fail "window is ${WWIDTH}x${WHEIGHT}, not 708x340"

step "type the settings"
type_into 225 62 "$pop3_server"    # POP3 server
# 暗号化: SSL/TLS on a first start; なし (the first choice) for plain servers
if [ "$security" = None ]; then xdotool key Tab Home; fi
type_into 225 110 "$pop3_user"     # user (leaving the server fills the empty SMTP server)
type_into 225 134 "$pop3_pass"     # password
type_into 580 38 "$smtp_server"    # SMTP server, replacing the copy
if [ "$security" = None ]; then xdotool key Tab Home; fi
type_into 190 194 keitai           # forwarding address, user part
type_into 320 194 docomo.ne.jp     # its domain
click_at $((WX + 580)) $((WY + 86))    # into the SMTP user field: the POP3 ones stay as typed

step "close the window: icon appears and a cycle runs at once"
"$xhelper" close "$WIN"
wait_line 'trace: background tray' out1.txt 5
wait_line 'trace: cycle' out1.txt 5
window_gone '^Tarnwick Ver1.01$' 5 || fail "window still on screen in the tray mode"
if [ $check_mail = 1 ]; then
  # The check box "do not forward what is already there" is on for a first start.
  wait_line '既存のメール [0-9]*件を転送済みとして記録しました' out1.txt 20
  wait_line 'trace: finished cycle' out1.txt 20
  grep -q 'メール転送(' out1.txt && fail "the first run forwarded mail that was already there"
  [ "$(find "$TARNWICK_DELIVERED_MAILDIR/new" -type f | wc -l)" = "$delivered_before" ] || fail "mail delivered on the first run"
  # What arrives from now on is forwarded (by the cycle of the next close).
  deliver new
else
  # The cycle's own log line, if it writes one (it fails to log in here); give it a moment.
  for i in $(seq 1 30); do grep -q 'POP3サーバにログイン' out1.txt && break; sleep 0.1; done
fi

step "single click on the icon: the window comes back and watching stops"
click_icon 1
wait_line 'trace: watch off' out1.txt 5
visible_window '^Tarnwick Ver1.01$' 5 >/dev/null || fail "window not back after a click on the icon"

step "screenshot with the log shown"
click_at $((WX + 646)) $((WY + 323))
for i in $(seq 1 $((50 * slow))); do
  eval "$(xdotool getwindowgeometry --shell "$WIN" | sed 's/^/W/')"
  [ "$WHEIGHT" = 570 ] && break
  sleep 0.1
done
[ "$WHEIGHT" = 570 ] || fail "window is $WHEIGHT high with the log shown, not 570"
import -window root "$work/screen.png"
convert "$work/screen.png" -crop "${WWIDTH}x${WHEIGHT}+${WX}+${WY}" +repage "$out/screenshot.png"

step "close again"
"$xhelper" close "$WIN"
wait_line 'trace: background tray' out1.txt 5 2
wait_line 'trace: cycle' out1.txt 5 2
if [ $check_mail = 1 ]; then
  wait_line "メール転送(new $$)" out1.txt 20
  for i in $(seq 1 $((100 * slow))); do
    [ "$(find "$TARNWICK_DELIVERED_MAILDIR/new" -type f | wc -l)" -gt "$delivered_before" ] && break
    sleep 0.1
  done
  grep -q "new.$$@example.jp" -r "$TARNWICK_DELIVERED_MAILDIR/new" || fail "the new mail was not delivered"
  grep -q "old.$$@example.jp" -r "$TARNWICK_DELIVERED_MAILDIR/new" && fail "the mail that was already there was delivered"
fi

step "a double click on the icon is not a single click"
icon=$(find_icon) || fail "no tray icon"
eval "$(xdotool getwindowgeometry --shell "$icon")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
sleep 0.1
xdotool click --repeat 2 --delay 100 1
sleep 1
[ "$(grep -c 'trace: watch off' out1.txt)" = 1 ] || fail "a double click opened the settings window"

step "end from the tray menu"
click_icon 3
sleep 0.5
xdotool key Up Return
wait_line 'trace: message box' out1.txt 5
BOX=$(visible_window '^情報$' 5) || fail "no first-save message"
eval "$(xdotool getwindowgeometry --shell "$BOX" | sed 's/^/B/')"
xdotool mousemove $((BX + BWIDTH / 2)) $((BY + 10))
sleep 0.2
xdotool key Return
wait_exit "$app_pid" 10
app_pid=""
[ "$rc" = 0 ] || fail "the program ended with $rc"
[ "$(grep -c 'trace: cycle' out1.txt)" = 3 ] || fail "expected three cycles (two closes, the last one)"
grep -q 'trace: end' out1.txt || fail "no clean end"

step "the settings file holds what was typed"
[ -f tarnwick.ini ] || fail "no settings file"
[ "$(stat -c %a tarnwick.ini)" = 600 ] || fail "settings file mode $(stat -c %a tarnwick.ini)"
ini=$(tr -d '\r' <tarnwick.ini)
for want in "Server=$pop3_server" "User=$pop3_user" "Pass=$pop3_pass" "Server=$smtp_server" \
            "User=keitai" "Domain=docomo.ne.jp" "Interval=5"; do
  grep -qxF -- "$want" <<<"$ini" || fail "settings file lacks '$want':"$'\n'"$ini"
done
# The SMTP user and password were empty and took the POP3 ones when those fields were left.
[ "$(grep -cxF "User=$pop3_user" <<<"$ini")" = 2 ] || fail "SMTP user not copied from POP3"
[ "$(grep -cxF "Pass=$pop3_pass" <<<"$ini")" = 2 ] || fail "SMTP password not copied from POP3"
[ "$(grep -cxF "Security=$security" <<<"$ini")" = 2 ] || fail "暗号化 not $security in both groups"

step "start with the settings file: straight to the tray (the lock was released)"
./tarnwick >out2.txt 2>err2.txt &
app_pid=$!
wait_line 'trace: background tray' out2.txt 5
grep -q 'trace: cycle' out2.txt && fail "a cycle ran before the first interval"

step "a second start while one runs ends silently and brings the window forward"
rc=0
# A second start that waited instead of ending would be cut off here (status 124).
timeout 60 ./tarnwick >out3.txt 2>err3.txt || rc=$?
[ "$rc" = 0 ] || fail "second start ended with $rc"
[ ! -s out3.txt ] && [ ! -s err3.txt ] || fail "second start said something"
wait_line 'trace: watch off' out2.txt 5
WIN=$(visible_window '^Tarnwick Ver1.01$' 5) || fail "window not forward after a second start"
"$xhelper" close "$WIN"
wait_line 'trace: background tray' out2.txt 5 2

step "end again: no message this time"
WIN=""
click_icon 3
sleep 0.5
xdotool key Up Return
wait_exit "$app_pid" 10
app_pid=""
[ "$rc" = 0 ] || fail "the program ended with $rc"
grep -q 'trace: message box' out2.txt && fail "a message box at the second end"
[ "$(grep -c 'trace: cycle' out2.txt)" = 2 ] || fail "expected two cycles (the close, the last one)"

echo "e2e: all steps passed (mail check: $([ $check_mail = 1 ] && echo on || echo off))"

#!/usr/bin/env bash
# The command-line modes of the real program: options, the no-display message, where settings and
# ledgers go, and --once / --watch against the local Dovecot and Postfix (exit codes, log, ledger,
# SIGTERM in the middle of a long cycle), and --authorize with a stand-in OAuth provider. Nothing
# here may open a display.
# Usage: headless.sh PROGRAM [STALLSERVER [TOKENENDPOINT]]   (mail parts skip unless the servers'
# variables are set)
set -euo pipefail

prog=$(readlink -f "$1")
stallserver=${2:+$(readlink -f "$2")}
tokenendpoint=${3:+$(readlink -f "$3")}
# shellcheck source=../support/mail.sh
. "$(dirname "$0")/../support/mail.sh"
work=$(mktemp -d /tmp/tarnwick-headless-XXXXXX)
chmod 0755 "$work"
watch_pid=""
cleanup() {
  if [ -n "$watch_pid" ]; then kill "$watch_pid" 2>/dev/null || true; wait "$watch_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$work/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"

fails=0
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }
expect_code() { # want got what
  [ "$1" = "$2" ] || fail "$3: exit code $2, expected $1"
}
expect_in() { # file text what
  grep -qF -- "$2" "$1" || { fail "$3: no '$2' in output"; sed 's/^/  | /' "$1" >&2; }
}

# --- Options and the no-display message -------------------------------------------------------
code=0; "$prog" --help >"$work/out" 2>&1 || code=$?
expect_code 0 "$code" "--help"; expect_in "$work/out" "--watch" "--help"
LC_ALL= LC_MESSAGES= LANG=ja_JP.UTF-8 "$prog" --help >"$work/out" 2>&1
expect_in "$work/out" "使い方:" "--help under a Japanese locale"
LC_ALL=C LANG=ja_JP.UTF-8 "$prog" --help >"$work/out" 2>&1
expect_in "$work/out" "Usage:" "--help under LC_ALL=C"
code=0; "$prog" --version >"$work/out" 2>&1 || code=$?
expect_code 0 "$code" "--version"; expect_in "$work/out" "tarnwick 1." "--version"
code=0; "$prog" --bogus >"$work/out" 2>&1 || code=$?
expect_code 2 "$code" "unknown option"; expect_in "$work/out" "--help" "unknown option"
code=0; "$prog" >"$work/out" 2>&1 || code=$?
expect_code 2 "$code" "no display"; expect_in "$work/out" "no display found" "no display"
expect_in "$work/out" "--watch" "no display"

# --- Where the settings live ------------------------------------------------------------------
# Runs a copy of the program from folder $1 as an ordinary user, with its own XDG folders.
as_user=()
if [ "$(id -u)" = 0 ]; then as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups); fi
home=$work/home
mkdir -p "$home"
[ ${#as_user[@]} -gt 0 ] && chown nobody "$home" "$XDG_RUNTIME_DIR"
run_copy() { # folder -> stdout in $work/out, exit code in $code
  code=0
  (cd "$home" && HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
    "${as_user[@]}" "$1/tarnwick" --once >"$work/out" 2>&1) || code=$?
}
for f in writable readonly holding; do
  mkdir -p "$work/$f"; cp "$prog" "$work/$f/tarnwick"
done
[ ${#as_user[@]} -gt 0 ] && chown nobody "$work/writable"
printf '[Common]\nInterval=5\n' >"$work/holding/tarnwick.ini"
chmod 0555 "$work/readonly" "$work/holding"

run_copy "$work/writable"
expect_code 2 "$code" "writable folder, no settings"
expect_in "$work/out" "設定ファイル: $work/writable/tarnwick.ini" "writable folder"
[ ! -e "$home/config" ] || fail "writable folder: the XDG config folder was made"

run_copy "$work/readonly"
expect_code 2 "$code" "read-only folder, no settings"
expect_in "$work/out" "設定ファイル: $home/config/tarnwick/tarnwick.ini" "read-only folder"
expect_in "$work/out" "転送済みIDの保存先: $home/data/tarnwick" "read-only folder"
[ "$(stat -c %a "$home/config/tarnwick")" = 700 ] || fail "config folder is not 0700"
printf '[Common]\nInterval=5\n' >"$home/config/tarnwick/tarnwick.ini"
chmod 0644 "$home/config/tarnwick/tarnwick.ini"
[ ${#as_user[@]} -gt 0 ] && chown nobody "$home/config/tarnwick/tarnwick.ini"
run_copy "$work/readonly"
[ "$(stat -c %a "$home/config/tarnwick/tarnwick.ini")" = 600 ] || fail "settings file was not made 0600"

run_copy "$work/holding"
expect_in "$work/out" "設定ファイル: $work/holding/tarnwick.ini" "read-only folder holding the file"

# A token request that gets no answer: SIGTERM ends --once as a stopped run (the request is cut
# after 2 s, as a connection is), not when the request's own time-out comes.
if [ -n "$tokenendpoint" ]; then
  mkdir -p "$work/stalltoken"
  exec 7> >(TARNWICK_OAUTH_KEY=c3RhbGw= TARNWICK_TOKEN_REPLY=stall exec "$tokenendpoint" >"$work/stalltoken/port" \
    2>"$work/stalltoken/requests")
  for _ in $(seq 1 100); do [ -s "$work/stalltoken/port" ] && break; sleep 0.1; done
  printf '[POP3]\nServer=127.0.0.1:9\nUser=u\nAuth=Other\nClientId=c\nTokenUrl=http://127.0.0.1:%s/token\nScopes=mail\n' \
    "$(cat "$work/stalltoken/port")" >"$work/stalltoken/box.ini"
  printf 'OAuthRefreshToken=r1\nOAuthExpires=0\n[SMTP]\nServer=127.0.0.1:9\n[Mail]\nUser=x\nDomain=docomo.ne.jp\n' \
    >>"$work/stalltoken/box.ini"
  printf '[Common]\nKeyringSecrets=0\n' >>"$work/stalltoken/box.ini"
  chmod 0600 "$work/stalltoken/box.ini"
  (cd "$work/stalltoken" && exec "$prog" --once --config "$work/stalltoken/box.ini" >"$work/stalltoken/out" 2>&1) &
  stalled_pid=$!
  for _ in $(seq 1 600); do [ -s "$work/stalltoken/requests" ] && break; sleep 0.05; done
  kill -TERM "$stalled_pid"
  code=0; wait "$stalled_pid" || code=$?
  expect_code 1 "$code" "--once, SIGTERM, stalled token request"
  expect_in "$work/stalltoken/out" "転送を中断して終了します" "--once, stalled token request"
  exec 7>&-
fi

# --- Forwarding against the local servers -------------------------------------------------------
if ! have_mail_servers; then
  echo "mail servers not configured: forwarding part skipped"
  [ "$fails" = 0 ] || exit 1
  exit 0
fi
lock_mail_servers
message() { # n [extra body line]
  printf 'From: sender@example.jp\nTo: box@example.jp\nSubject: headless %s\nMessage-ID: <h%s@example.jp>\n\nbody %s\n%s' \
    "$1" "$1" "$1" "${2:-}" >"$work/msg"
  drop_message "$work/msg"
}
mkdir -p "$work/a" "$work/b"
write_settings "$work/a/box.ini" "$TARNWICK_POP3_USER" "$TARNWICK_POP3_PASS"
write_settings "$work/b/box.ini" "$TARNWICK_POP3_USER2" "$TARNWICK_POP3_PASS2"
once() { # settings file -> stdout in $work/out, exit code in $code
  code=0; (cd "$work" && DISPLAY=:424242 "$prog" --once --config "$1" >"$work/out" 2>&1) || code=$?
}
ledger=$work/a/phone@docomo.ne.jp.txt

for n in 1 2 3; do message "$n"; done
once "$work/a/box.ini"
expect_code 0 "$code" "--once, three new"
[ "$(grep -c 'メール転送(headless' "$work/out")" = 3 ] || fail "--once: three forwarded lines expected"
[ "$(wc -l <"$ledger")" = 3 ] || fail "--once: the ledger beside the settings holds three ids"
wait_delivered 3; [ "$(delivered_count)" = 3 ] || fail "--once: three messages delivered"

once "$work/a/box.ini"
expect_code 0 "$code" "--once, nothing new"; expect_in "$work/out" "新規メール 0件" "--once, nothing new"

# A line longer than the cycle takes is skipped; the message after it still goes.
head -c 17000000 /dev/zero | tr '\0' x >"$work/long"
message 4 "$(cat "$work/long")"
message 5
once "$work/a/box.ini"
expect_code 1 "$code" "--once, one skipped"; expect_in "$work/out" "メール転送(headless 5)" "--once, one skipped"

write_settings "$work/b/wrong.ini" "$TARNWICK_POP3_USER2" "not the password"
once "$work/b/wrong.ini"
expect_code 2 "$code" "--once, refused login"; expect_in "$work/out" "ログイン失敗" "--once, refused login"

# A first run with SkipExisting records what the mailbox holds and sends none of it; later mail goes.
empty_maildir "$TARNWICK_POP3_MAILDIR"; empty_maildir "$TARNWICK_DELIVERED_MAILDIR"; rm -f "$ledger"
for n in 501 502 503; do message "$n"; done
write_settings "$work/a/skip.ini" "$TARNWICK_POP3_USER" "$TARNWICK_POP3_PASS"
printf 'SkipExisting=1\n' >>"$work/a/skip.ini"
once "$work/a/skip.ini"
expect_code 0 "$code" "--once, SkipExisting"; expect_in "$work/out" "既存のメール 3件を転送済みとして記録しました" "SkipExisting"
! grep -q 'メール転送(' "$work/out" || fail "SkipExisting: old mail was forwarded"
[ "$(wc -l <"$ledger")" = 3 ] || fail "SkipExisting: three ids recorded"
message 504
once "$work/a/skip.ini"
expect_code 0 "$code" "--once after SkipExisting"; expect_in "$work/out" "メール転送(headless 504)" "after SkipExisting"
wait_delivered 1; [ "$(delivered_count)" = 1 ] || fail "SkipExisting: $(delivered_count) delivered, 1 expected"

# A ledger that cannot be written is a failure, not a quiet success: nothing goes, exit 2.
empty_maildir "$TARNWICK_POP3_MAILDIR"; empty_maildir "$TARNWICK_DELIVERED_MAILDIR"; rm -f "$ledger"
mkdir "$ledger"
message 505
once "$work/a/box.ini"
expect_code 2 "$code" "--once, ledger not writable"
! grep -q 'メール転送(' "$work/out" || fail "ledger not writable: mail was sent"
rmdir "$ledger"

# An SMTP server that stops reading in the middle of a message: SIGTERM still ends both modes
# within moments (the connection is cut after 2 s), and the message is not recorded.
if [ -n "$stallserver" ]; then
  empty_maildir "$TARNWICK_POP3_MAILDIR"; rm -f "$ledger"
  "$stallserver" "$work/stall.port" smtp &
  stall_pid=$!
  for i in $(seq 1 100); do [ -s "$work/stall.port" ] && break; sleep 0.05; done
  write_settings "$work/a/stall.ini" "$TARNWICK_POP3_USER" "$TARNWICK_POP3_PASS"
  sed -i "s/^Server=$TARNWICK_SMTP_HOST:$TARNWICK_SMTP_PORT\$/Server=127.0.0.1:$(cat "$work/stall.port")/" "$work/a/stall.ini"
  message 506 "$(head -c 12000000 /dev/zero | tr '\0' x | fold -w 998)"
  for mode in --watch --once; do
    (cd "$work" && DISPLAY=:424242 exec "$prog" "$mode" --config "$work/a/stall.ini" >"$work/stall.out" 2>&1) &
    stalled_pid=$!
    for i in $(seq 1 600); do grep -q 'SMTPサーバにログイン(' "$work/stall.out" && break; sleep 0.05; done
    sleep 1
    kill -TERM "$stalled_pid"
    # Far below the 120 s a stalled connection would otherwise take.
    for i in $(seq 1 600); do kill -0 "$stalled_pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$stalled_pid" 2>/dev/null; then
      fail "$mode: still running after SIGTERM with a stalled server"; kill -KILL "$stalled_pid"
    fi
    code=0; wait "$stalled_pid" || code=$?
    [ "$mode" = --watch ] && expect_code 0 "$code" "--watch, SIGTERM, stalled server"
    [ "$mode" = --once ] && expect_code 1 "$code" "--once, SIGTERM, stalled server"
    expect_in "$work/stall.out" "転送を中断して終了します" "$mode, stalled server"
    [ ! -s "$ledger" ] || fail "$mode: a message cut off was recorded"
  done
  kill "$stall_pid" 2>/dev/null || true; wait "$stall_pid" 2>/dev/null || true
fi

# --watch: SIGTERM in the middle of a 200-message cycle loses nothing and sends nothing twice.
empty_maildir "$TARNWICK_POP3_MAILDIR"; empty_maildir "$TARNWICK_DELIVERED_MAILDIR"; rm -f "$ledger"
for n in $(seq 100 299); do message "$n"; done
(cd "$work" && DISPLAY=:424242 exec "$prog" --watch --config "$work/a/box.ini" >"$work/watch.out" 2>&1) &
watch_pid=$!
for i in $(seq 1 600); do grep -q 'メール転送(' "$work/watch.out" && break; sleep 0.1; done
# The same settings are locked; other settings run beside them.
once "$work/a/box.ini"
expect_code 2 "$code" "--once beside --watch on the same settings"; expect_in "$work/out" "another instance" "lock"
once "$work/b/box.ini"
expect_code 0 "$code" "--once on other settings beside --watch"
kill -TERM "$watch_pid"
code=0; wait "$watch_pid" || code=$?; watch_pid=""
expect_code 0 "$code" "--watch ended by SIGTERM"
expect_in "$work/watch.out" "SMTPサーバからログオフ" "--watch ended by SIGTERM"
forwarded=$(grep -c 'メール転送(' "$work/watch.out" || true)
[ "$(wc -l <"$ledger")" = "$forwarded" ] || fail "--watch: ledger ($(wc -l <"$ledger")) and log ($forwarded) disagree"
once "$work/a/box.ini"
expect_code 0 "$code" "--once after --watch"
wait_delivered 200
[ "$(delivered_count)" = 200 ] || fail "SIGTERM: $(delivered_count) of 200 messages delivered"
ids=$(find "$TARNWICK_DELIVERED_MAILDIR/new" "$TARNWICK_DELIVERED_MAILDIR/cur" -type f -exec grep -h '^Message-ID: <h' {} + | sort)
uniq_ids=$(sort -u <<<"$ids" | wc -l)
ids=$(wc -l <<<"$ids")
[ "$ids" = 200 ] && [ "$uniq_ids" = 200 ] || fail "SIGTERM: $uniq_ids different of $ids delivered, 200 expected"

# SIGKILL in the middle of a pipelined cycle: only messages accepted but not yet recorded may go
# twice (the two in flight at most), and nothing is lost.
empty_maildir "$TARNWICK_POP3_MAILDIR"; empty_maildir "$TARNWICK_DELIVERED_MAILDIR"; rm -f "$ledger"
for n in $(seq 300 399); do message "$n"; done
(cd "$work" && DISPLAY=:424242 exec "$prog" --once --config "$work/a/box.ini" >"$work/kill.out" 2>&1) &
kill_pid=$!
for i in $(seq 1 600); do [ "$(grep -c 'メール転送(' "$work/kill.out" || true)" -ge 20 ] && break; sleep 0.05; done
kill -KILL "$kill_pid"; wait "$kill_pid" 2>/dev/null || true
once "$work/a/box.ini"
expect_code 0 "$code" "--once after SIGKILL"
wait_delivered 100
ids=$(find "$TARNWICK_DELIVERED_MAILDIR/new" "$TARNWICK_DELIVERED_MAILDIR/cur" -type f -exec grep -h '^Message-ID: <h' {} + | sort)
uniq_ids=$(sort -u <<<"$ids" | wc -l)
ids=$(wc -l <<<"$ids")
[ "$uniq_ids" = 100 ] && [ "$ids" -le 102 ] || fail "SIGKILL: $uniq_ids different of $ids delivered, 100 (at most two twice) expected"

# Encryption, the certificate authority and the envelope sender, as a provider's settings file
# holds them: only CAFile vouches for the servers here (the system's store does not know them).
if [ -n "${TARNWICK_POP3S_PORT:-}" ] && [ -n "${TARNWICK_SUBMISSION_PORT:-}" ]; then
  empty_maildir "$TARNWICK_POP3_MAILDIR"; empty_maildir "$TARNWICK_DELIVERED_MAILDIR"
  mkdir -p "$work/tls"
  tls_settings() { # ca-file
    printf '[POP3]\nServer=%s:%s\nSecurity=TLS\nCAFile=%s\nUser=%s\nPass=%s\n' "$TARNWICK_POP3_HOST" \
      "$TARNWICK_POP3S_PORT" "$1" "$TARNWICK_POP3_USER" "$TARNWICK_POP3_PASS"
    printf '[SMTP]\nServer=%s:%s\nSecurity=STARTTLS\nCAFile=%s\nUser=%s\nPass=%s\nEnvelopeFrom=account@example.jp\n' \
      "$TARNWICK_SMTP_HOST" "$TARNWICK_SUBMISSION_PORT" "$1" "$TARNWICK_POP3_USER" "$TARNWICK_POP3_PASS"
    printf '[Mail]\nUser=phone\nDomain=docomo.ne.jp\n'
  }
  once_tls() {
    code=0
    (cd "$work" && DISPLAY=:424242 env -u SSL_CERT_FILE "$prog" --once --config "$work/tls/box.ini" >"$work/out" 2>&1) ||
      code=$?
  }
  message 900
  tls_settings "" >"$work/tls/box.ini"
  once_tls
  expect_code 2 "$code" "TLS without CAFile"
  expect_in "$work/out" "POP3サーバにログイン失敗($TARNWICK_POP3_HOST:$TARNWICK_POP3S_PORT) Certificate verification failed: unable to get local issuer certificate" "TLS without CAFile"
  tls_settings "$TARNWICK_CA_FILE" >"$work/tls/box.ini"
  once_tls
  expect_code 0 "$code" "TLS with CAFile"; expect_in "$work/out" "メール転送(headless 900)" "TLS with CAFile"
  wait_delivered 1
  grep -rqx 'Return-Path: <account@example.jp>' "$TARNWICK_DELIVERED_MAILDIR/new" || fail "TLS: envelope sender not used"
fi

# The size limit and the rules come from the same settings file: a tagged message is held back
# and a big one becomes a notice, in --once as in the window.
empty_maildir "$TARNWICK_POP3_MAILDIR"; empty_maildir "$TARNWICK_DELIVERED_MAILDIR"
mkdir -p "$work/filter"
write_settings "$work/filter/box.ini" "$TARNWICK_POP3_USER" "$TARNWICK_POP3_PASS"
printf '[Filter]\nMaxSizeKB=8\nSizeNotice=1\nRuleCount=1\nRule1=X-Spam-Flag: YES\n' >>"$work/filter/box.ini"
printf 'From: sender@example.jp\nSubject: headless spam\nX-Spam-Flag: YES\n\nspam\n' >"$work/msg"; drop_message "$work/msg"
message 950 "$(head -c 20000 /dev/zero | tr '\0' y)"
once "$work/filter/box.ini"
expect_code 0 "$code" "--once with a rule and a size limit"
expect_in "$work/out" "転送しない条件に一致(headless spam)" "--once, rule"
expect_in "$work/out" "サイズ超過のため通知を転送(headless 950)" "--once, notice"
wait_delivered 1
[ "$(delivered_count)" = 1 ] || fail "--once with a rule and a size limit: one notice delivered"
[ "$(wc -l <"$work/filter/phone@docomo.ne.jp.txt")" = 2 ] || fail "--once with a rule: both recorded"
# --- Sign-in without a display, and a sign-in that was revoked -----------------------------------
if [ -n "$tokenendpoint" ] && [ -n "${TARNWICK_OAUTH_KEY:-}" ] && [ -n "${TARNWICK_SUBMISSION_PORT:-}" ]; then
  empty_maildir "$TARNWICK_POP3_MAILDIR"; empty_maildir "$TARNWICK_DELIVERED_MAILDIR"
  mkdir -p "$work/oauth"
  exec 7> >(exec "$tokenendpoint" >"$work/oauth/port")
  for _ in $(seq 1 100); do [ -s "$work/oauth/port" ] && break; sleep 0.1; done
  idp=http://127.0.0.1:$(cat "$work/oauth/port")
  auth="Auth=Other\nClientId=tarnwick-test\nAuthUrl=$idp/authorize\nTokenUrl=$idp/token\nDeviceUrl=$idp/devicecode\nScopes=mail"
  printf "[POP3]\nServer=%s:%s\nSecurity=STARTTLS\nCAFile=%s\nUser=%s\n$auth\n" "$TARNWICK_POP3_HOST" "$TARNWICK_POP3_PORT" \
    "$TARNWICK_CA_FILE" "$TARNWICK_POP3_USER" >"$work/oauth/box.ini"
  printf "[SMTP]\nServer=%s:%s\nSecurity=STARTTLS\nCAFile=%s\n$auth\n" "$TARNWICK_SMTP_HOST" "$TARNWICK_SUBMISSION_PORT" \
    "$TARNWICK_CA_FILE" >>"$work/oauth/box.ini"
  printf '[Mail]\nUser=oauth\nDomain=docomo.ne.jp\n[Common]\nInterval=5\nKeyringSecrets=0\n' >>"$work/oauth/box.ini"
  chmod 0600 "$work/oauth/box.ini"

  code=0; (cd "$work" && "$prog" --authorize --config "$work/oauth/box.ini" >"$work/out" 2>&1) || code=$?
  expect_code 0 "$code" "--authorize"
  expect_in "$work/out" "コード: ABCD-EFGH" "--authorize shows the code to enter"
  expect_in "$work/out" "サインインしました" "--authorize"
  refresh=$(sed -n 's/^OAuthRefreshToken=//p' "$work/oauth/box.ini")
  [ -n "$refresh" ] || fail "--authorize: no refresh token kept"
  if grep -qF -- "$refresh" "$work/out"; then fail "--authorize: a token reached the output"; fi

  printf 'From: sender@example.jp\nSubject: signed in\n\nbody\n' >"$work/oauth/m1"
  drop_message "$work/oauth/m1"
  code=0; (cd "$work" && "$prog" --once --config "$work/oauth/box.ini" >"$work/out" 2>&1) || code=$?
  expect_code 0 "$code" "--once with OAuth"; expect_in "$work/out" "メール転送(signed in)" "--once with OAuth"

  # The provider drops the sign-in: the next login needs a new one.
  exec 8<>"/dev/tcp/127.0.0.1/${idp##*:}"
  printf 'POST /revoke HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n' >&8
  cat <&8 >/dev/null; exec 8<&-
  sed -i 's/^OAuthExpires=.*/OAuthExpires=0/' "$work/oauth/box.ini"
  code=0; (cd "$work" && "$prog" --once --config "$work/oauth/box.ini" >"$work/out" 2>&1) || code=$?
  expect_code 2 "$code" "--once after the sign-in was revoked"
  expect_in "$work/out" "再サインインが必要です" "--once after the sign-in was revoked"
  grep -q '^OAuthSignInNeeded=1' "$work/oauth/box.ini" || fail "revoked: the state is not kept"
  exec 7>&-
fi

empty_maildir "$TARNWICK_POP3_MAILDIR"; empty_maildir "$TARNWICK_DELIVERED_MAILDIR"
[ "$fails" = 0 ] || exit 1
echo "headless: all passed"

# Shell helpers for tests of the real program against the local servers (scripts/servers): taking
# the servers' lock, emptying and filling Maildirs, counting deliveries, writing settings.
# Source it; the servers' variables (from $TARNWICK_SERVERS_DIR/env) must be set.

have_mail_servers() { [ -n "${TARNWICK_POP3_PORT:-}" ] && [ -n "${TARNWICK_DELIVERED_MAILDIR:-}" ]; }

# One test at a time owns the servers (the same lock the C++ tests take); fd 9 holds it.
lock_mail_servers() {
  exec 9>"${TARNWICK_SERVERS_DIR:-/tmp/tarnwick-servers}/tests.lock"
  flock -w 300 9 || { echo "FAIL: mail servers busy" >&2; exit 1; }
  empty_maildir "$TARNWICK_POP3_MAILDIR"
  empty_maildir "$TARNWICK_POP3_MAILDIR2"
  empty_maildir "$TARNWICK_DELIVERED_MAILDIR"
}

empty_maildir() { rm -f "$1"/new/* "$1"/cur/* "$1"/tmp/*; }

mail_drop_no=0
# A new message (the file's bytes) in the first mailbox, listed after the ones dropped before it.
drop_message() { # file
  mail_drop_no=$((mail_drop_no + 1))
  local box=$TARNWICK_POP3_MAILDIR name
  name=$(printf '%d.M%06dP%d.sh' "$(date +%s)" "$mail_drop_no" $$)
  cp "$1" "$box/tmp/$name"
  chown "$(stat -c %u:%g "$box/new")" "$box/tmp/$name" 2>/dev/null || true
  chmod 0644 "$box/tmp/$name"
  mv "$box/tmp/$name" "$box/new/$name"
}

delivered_count() { find "$TARNWICK_DELIVERED_MAILDIR/new" "$TARNWICK_DELIVERED_MAILDIR/cur" -type f | wc -l; }

# Waits, for a minute at most, until Postfix has delivered at least count messages.
wait_delivered() { # count
  local i
  for i in $(seq 1 600); do
    [ "$(delivered_count)" -ge "$1" ] && return 0
    sleep 0.1
  done
}

# Settings for the local servers, forwarding to phone@docomo.ne.jp every minute.
write_settings() { # file pop3-user pop3-password
  cat >"$1" <<INI
[POP3]
Server=$TARNWICK_POP3_HOST:$TARNWICK_POP3_PORT
User=$2
Pass=$3
[SMTP]
Server=$TARNWICK_SMTP_HOST:$TARNWICK_SMTP_PORT
User=
Pass=
[Mail]
User=phone
Domain=docomo.ne.jp
[Common]
Interval=1
INI
}

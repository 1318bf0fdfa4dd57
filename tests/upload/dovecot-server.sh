#!/usr/bin/env bash
# A real Dovecot IMAP server for the upload tests, on 127.0.0.1 only, with everything in DIR
# (or, when Dovecot's unprivileged users cannot reach DIR, in a folder of its own under /tmp):
# a test certificate authority and a server certificate for localhost/127.0.0.1 made with
# openssl, its own dovecot.conf, two users (one with a small quota, for refusals) and twenty
# more (mailsheaf-1 to mailsheaf-20, an account for each tree upload), maildirs owned by
# nobody, the log. Beside it, for the transport's cases: `openssl s_server` with a certificate
# that names only DNS:localhost, and servers that never answer (one takes connections and
# stays silent, one lets no connection finish). DIR/server.txt tells the tests the ports,
# users, password, CA file and the server certificate's SHA-256 fingerprint, one key=value a
# line.
#
# LAYOUT is how people run it: "default" (maildir, "/" between levels, the special folders
# marked SPECIAL-USE, a quota), "prefix" (every folder below "INBOX." with "." between levels
# and no SPECIAL-USE, as Cyrus is run), "mbox" (mbox files, Debian's default mail_location).
# MAILSHEAF_DOVECOT_FSYNC, when set, is Dovecot's mail_fsync (optimized, always or never; the
# benchmarks take "never" to see the client's own cost without the disk's).
#
#   dovecot-server.sh start DIR [QUOTA_KB] [LAYOUT]   (starts it and waits until it answers)
#   dovecot-server.sh stop DIR
#   dovecot-server.sh kill-imap DIR USER     (SIGKILL to the imap processes serving USER)
set -euo pipefail
command=${1:?usage: dovecot-server.sh start|stop|kill-imap DIR}
dir=$(realpath -m "${2:?usage: dovecot-server.sh start|stop|kill-imap DIR}")
# Where the server lives: DIR itself when Dovecot's unprivileged users can reach it, else a
# folder of its own under /tmp (DIR/home names it).
home=$(cat "$dir/home" 2>/dev/null || echo "$dir")

stop() {
  local helper
  for helper in "$home"/run/helper-*.pid; do
    [ -f "$helper" ] && kill "$(cat "$helper")" 2>/dev/null || true
  done
  [ -f "$home/run/master.pid" ] || return 0
  local pid
  pid=$(cat "$home/run/master.pid")
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

# Stops it; a folder of its own under /tmp goes too, its log kept in DIR.
finish() {
  stop
  if [ "$home" != "$dir" ]; then
    cp "$home/dovecot.log" "$dir/" 2>/dev/null || true
    rm -rf "$home" "$dir/home"
  fi
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

make_certificates() {
  local c=$home/certs
  mkdir -p "$c"
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Mailsheaf Test CA" \
    -keyout "$c/ca.key" -out "$c/ca.pem" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
    -keyout "$c/server.key" -out "$c/server.csr" 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' \
    >"$c/server.ext"
  openssl x509 -req -in "$c/server.csr" -CA "$c/ca.pem" -CAkey "$c/ca.key" -CAcreateserial \
    -days 30 -extfile "$c/server.ext" -out "$c/server.pem" 2>/dev/null
  # No IP address among its names: refused when reached as 127.0.0.1.
  printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n' >"$c/dns-only.ext"
  openssl x509 -req -in "$c/server.csr" -CA "$c/ca.pem" -CAkey "$c/ca.key" -CAcreateserial \
    -days 30 -extfile "$c/dns-only.ext" -out "$c/dns-only.pem" 2>/dev/null
  # A bundle whose authority for the server is not the first.
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Mailsheaf Other CA" \
    -keyout "$c/other-ca.key" -out "$c/other-ca.pem" 2>/dev/null
  cat "$c/other-ca.pem" "$c/ca.pem" >"$c/bundle.pem"
}

# Prints "<silent port> <unanswered port>": the first takes connections and never says a word
# nor reads one; the second's queue is kept full, so that a connection to it never completes.
start_silent_servers() {
  python3 -c '
import os, socket, sys
silent = socket.socket(); silent.bind(("127.0.0.1", 0)); silent.listen(64)
full = socket.socket(); full.bind(("127.0.0.1", 0)); full.listen(0)
filler = socket.create_connection(full.getsockname())
print(silent.getsockname()[1], full.getsockname()[1], flush=True)
os.close(1)
held = []
while True:
    held.append(silent.accept()[0])
' >"$home/run/silent.ports" 2>>"$home/helpers.log" </dev/null &
  echo $! >"$home/run/helper-silent.pid"
  for _ in $(seq 50); do
    [ -s "$home/run/silent.ports" ] && break
    sleep 0.1
  done
  cat "$home/run/silent.ports"
}

start_dns_only_server() {  # start_dns_only_server <port>
  openssl s_server -accept "127.0.0.1:$1" -cert "$home/certs/dns-only.pem" \
    -key "$home/certs/server.key" -www -quiet >>"$home/helpers.log" 2>&1 </dev/null &
  echo $! >"$home/run/helper-dns-only.pid"
}

namespace_config() {  # namespace_config <layout>
  if [ "$1" = prefix ]; then
    printf 'namespace inbox {\n  inbox = yes\n  prefix = INBOX.\n  separator = .\n}\n'
    return
  fi
  cat <<EOF
namespace inbox {
  inbox = yes
  separator = /
  mailbox Drafts {
    special_use = \\Drafts
    auto = create
  }
  mailbox Junk {
    special_use = \\Junk
    auto = create
  }
  mailbox Sent {
    special_use = \\Sent
    auto = create
  }
  mailbox Trash {
    special_use = \\Trash
    auto = create
  }
}
EOF
}

write_config() {  # write_config <imap port> <imaps port> <quota kB> <layout>
  local mail="maildir:$home/mail/%u/Maildir" quota="maildir:User quota" vsizes=no
  if [ "$4" = mbox ]; then
    # mbox has no quota backend of its own; "count" needs virtual sizes.
    mail="mbox:$home/mail/%u/mail:INBOX=$home/mail/%u/inbox"
    quota="count:User quota"
    vsizes=yes
  fi
  cat >"$home/dovecot.conf" <<EOF
instance_name = mailsheaf-test-$1
base_dir = $home/run
state_dir = $home/state
log_path = $home/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = yes
ssl_cert = <$home/certs/server.pem
ssl_key = <$home/certs/server.key
ssl_min_protocol = TLSv1.2
auth_failure_delay = 0
auth_mechanisms = plain login
first_valid_uid = 1
mail_plugins = quota
${MAILSHEAF_DOVECOT_FSYNC:+mail_fsync = $MAILSHEAF_DOVECOT_FSYNC}
$(namespace_config "$4")
passdb {
  driver = passwd-file
  args = scheme=PLAIN $home/users
}
userdb {
  driver = passwd-file
  args = $home/users
  default_fields = uid=nobody gid=nogroup home=$home/mail/%u mail=$mail
}
plugin {
  quota = $quota
  quota_vsizes = $vsizes
  quota_rule = *:storage=1G
}
protocol imap {
  mail_plugins = \$mail_plugins imap_quota
}
service imap-login {
  inet_listener imap {
    port = $1
  }
  inet_listener imaps {
    port = $2
    ssl = yes
  }
}
service pop3-login {
  inet_listener pop3 {
    port = 0
  }
  inet_listener pop3s {
    port = 0
  }
}
EOF
  # The second user's small quota gives the refusal case; the numbered users give the tree
  # uploads accounts of their own, whose Inbox and Sent no other case touches.
  cat >"$home/users" <<EOF
mailsheaf:{PLAIN}test-password-1::::::
mailsheaf-small:{PLAIN}test-password-1::::::userdb_quota_rule=*:storage=$3K
EOF
  for n in $(seq 20); do echo "mailsheaf-$n:{PLAIN}test-password-1::::::" >>"$home/users"; done
}

greets() {  # greets <port>: the plain-text greeting arrives
  timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1 && head -c 4 <&3" 2>/dev/null | grep -q '^\* OK'
}

listens() {  # listens <port>
  timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null
}

start() {
  local quota_kb=${1:-64} layout=${2:-default}
  finish
  rm -rf "$dir"
  mkdir -p "$dir"
  chmod 755 "$dir"
  home=$dir
  if ! runuser -u nobody -- test -x "$dir"; then
    home=$(mktemp -d /tmp/mailsheaf-dovecot.XXXXXX)
    chmod 755 "$home"
    echo "$home" >"$dir/home"
  fi
  mkdir -p "$home/run" "$home/state" "$home/mail"
  chown nobody:nogroup "$home/mail"
  make_certificates
  for attempt in 1 2 3; do
    local imap imaps
    imap=$(free_port)
    imaps=$(free_port)
    write_config "$imap" "$imaps" "$quota_kb" "$layout"
    chmod 644 "$home/users"
    if dovecot -c "$home/dovecot.conf" </dev/null >/dev/null 2>&1; then
      for _ in $(seq 100); do
        if greets "$imap" && listens "$imaps"; then
          local fingerprint silent unanswered dns_only
          fingerprint=$(openssl x509 -in "$home/certs/server.pem" -noout -fingerprint -sha256)
          read -r silent unanswered < <(start_silent_servers)
          dns_only=$(free_port)
          start_dns_only_server "$dns_only"
          for _ in $(seq 50); do listens "$dns_only" && break; sleep 0.1; done
          cat >"$dir/server.txt" <<EOF
imap_port=$imap
imaps_port=$imaps
user=mailsheaf
small_quota_user=mailsheaf-small
password=test-password-1
ca_file=$home/certs/ca.pem
ca_bundle=$home/certs/bundle.pem
fingerprint=${fingerprint#*=}
silent_port=$silent
unanswered_port=$unanswered
dns_only_port=$dns_only
EOF
          return 0
        fi
        sleep 0.1
      done
    fi
    echo "dovecot-server: attempt $attempt did not answer on $imap/$imaps" >&2
    stop
  done
  tail -20 "$home/dovecot.log" >&2 || true
  exit 1
}

kill_imap() {
  local pids
  pids=$(doveadm -c "$home/dovecot.conf" who -1 "$1" 2>/dev/null | awk 'NR > 1 { print $3 }' | tr -d '()' | tr ' ' '\n')
  [ -n "$pids" ] || { echo "dovecot-server: no imap process for $1" >&2; exit 1; }
  for pid in $pids; do kill -9 "$pid"; done
}

case $command in
  start) start "${3:-}" "${4:-}" ;;
  stop) finish ;;
  kill-imap) kill_imap "${3:?user}" ;;
  *) echo "usage: dovecot-server.sh start|stop|kill-imap DIR" >&2; exit 2 ;;
esac

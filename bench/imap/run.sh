#!/usr/bin/env bash
# Benchmark of the IMAP upload: the same tree of real mail (the test corpus in nested folders,
# default 2,000 messages) put into a local Dovecot, the tests' own (tests/upload/
# dovecot-server.sh, on 127.0.0.1, with TLS), each way into a fresh account of its own:
#   - `mailsheaf-pack --imap` (Release), then the same command again with nothing to add;
#   - mbsync (isync) pushing a Maildir copy of the tree, then again with nothing to add;
#   - Python's imaplib sending each folder's messages in MULTIAPPEND commands
#     (imaplib_multiappend.py);
#   - with SLOW_PEERS=1 also a loop of `curl -T`, one message a call, and imaplib one APPEND at
#     a time (minutes each for a few thousand messages, so left out by default).
# All of it twice: on a Dovecot with its default mail_fsync, and on one with mail_fsync = never
# and its mail in memory (/dev/shm), where the disk no longer hides the clients' own cost.
# After every run the account must hold each folder's messages exactly once. Prints every run
# (wall seconds, CPU seconds, peak memory), the best of each, and PASS or MISS for each target:
#   - first upload: mailsheaf-pack at least 2x mbsync's messages per second;
#   - nothing to add: mailsheaf-pack's second run within 2x mbsync's second run;
#   - mailsheaf-pack at least as fast as imaplib's MULTIAPPEND, on both servers;
#   - mailsheaf-pack's peak memory under 32 MiB in every run.
# The exit code is 0 when every check of the accounts passed, whatever the targets say.
#
#   bench/imap/run.sh [MESSAGES]      (RUNS=N rounds, default 2, at most 3; CORPUS=DIR takes the
#                                      messages from DIR instead of build/corpus; SLOW_PEERS=1)
set -euo pipefail
# shellcheck source=bench/archive/common.sh
source "$(dirname "$0")/../archive/common.sh" "${1:-2000}"
runs=$(( runs > 3 ? 3 : runs ))
slow=${SLOW_PEERS:-0}

# isync (mbsync) and curl are the bench's own needs, beside what the build and the tests need.
if ! command -v mbsync >/dev/null || ! command -v dovecot >/dev/null ||
   { [ "$slow" = 1 ] && ! command -v curl >/dev/null; }; then
  scripts/install-deps.sh isync curl
fi
require_tools mbsync dovecot openssl python3 /usr/bin/time
[ "$slow" != 1 ] || require_tools curl
corpus=${CORPUS:-build/corpus}
[ -d "$corpus" ] || { fetch_corpus; corpus=build/corpus; }
build_native_pack
make_work mailsheaf-imap-bench
# The server without syncs keeps its mail in memory (tmpfs) where the machine has one: on a disk
# its time goes to the file system instead of the clients, and varies twofold with what was
# deleted there shortly before (ext4 looks past recently freed inodes when it makes a file).
ram_dir=""
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  ram_dir=$(mktemp -d /dev/shm/mailsheaf-imap-bench-XXXXXX)
  chmod 755 "$ram_dir"  # the server's mail user (nobody) has to get to its mail below it
fi
server=$work/dovecot
trap 'bash tests/upload/dovecot-server.sh stop "$server" 2>/dev/null || true; rm -rf "$work" ${ram_dir:+"$ram_dir"}' EXIT

echo "Making the tree ($messages messages) and its Maildir copy..."
python3 bench/archive/make_tree.py "$corpus" "$work/tree" "$messages"
python3 bench/imap/make_maildir.py "$work/tree" "$work/maildir/root" "$work/maildir/inbox" >/dev/null
folders=$(find "$work/tree" -mindepth 1 -type d | wc -l)
bytes=$(du -sb "$work/tree" | cut -f1)
host=127.0.0.1
results=$work/results.tsv
: >"$results"

now() { date +%s.%N; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# timed SERVER ROUND WAY PHASE COMMAND...: runs COMMAND under /usr/bin/time, its output in
# $work/log.txt, and adds a line to the results: wall s, CPU s, peak KiB.
timed() {
  local kind=$1 round=$2 way=$3 phase=$4 start seconds user system peak
  shift 4
  start=$(now)
  /usr/bin/time -f '%U %S %M' -o "$work/time.txt" "$@" >"$work/log.txt" 2>&1 || {
    echo "$way ($phase) failed:" >&2; tail -20 "$work/log.txt" >&2; exit 1; }
  seconds=$(awk -v a="$(now)" -v b="$start" 'BEGIN { printf "%.3f", a - b }')
  read -r user system peak <"$work/time.txt"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$kind" "$round" "$way" "$phase" "$seconds" \
    "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" "$peak" >>"$results"
  printf '  %-22s %-7s %8s s  CPU %6s s  peak %6s KiB  (load %s)\n' "$way" "$phase" "$seconds" \
    "$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" "$peak" "$(load)"
}

# holds USER: the account holds each of the tree's folders exactly, or the bench stops.
holds() {
  python3 bench/imap/count.py "$host" "$port" "$ca" "$1" "$password" "$work/tree" >"$work/held.txt" || {
    echo "$1 does not hold the tree:" >&2; head -20 "$work/held.txt" >&2; exit 1; }
  [ "$(head -1 "$work/held.txt")" = "$messages" ] || { echo "$1 holds $(head -1 "$work/held.txt")" >&2; exit 1; }
}

# pause_before PHASE: a rerun starts 2 s after the first run. mbsync sleeps until the second in
# which its Maildir last changed is over ("sleeping due to recent directory modification"), a
# wait nobody coming back later sees; both reruns get the same pause.
pause_before() { [ "$1" = first ] || sleep 2; }

by_mailsheaf() {  # by_mailsheaf KIND ROUND USER: the first run, then the same command again
  mkdir -p "$work/state-$1-$3"
  local phase
  for phase in first again; do
    pause_before "$phase"
    timed "$1" "$2" mailsheaf "$phase" env XDG_STATE_HOME="$work/state-$1-$3" \
      MAILSHEAF_PASSWORD="$password" "$native_pack" --imap "imaps://$host:$port" --user "$3" \
      --trust-certificate "$fingerprint" "$work/tree"
    holds "$3"
  done
}

by_mbsync() {  # by_mbsync KIND ROUND USER: the first run, then the same command again
  local near=$work/maildir-$1-$3 phase
  cp -a "$work/maildir" "$near"
  # mbsync 1.4 matches only host names against a certificate, not the IP address this one
  # names, so it is given the server's own certificate, which it trusts as it is: the same
  # trust as mailsheaf-pack's --trust-certificate.
  cat >"$near/mbsyncrc" <<EOF
IMAPAccount bench
Host $host
Port $port
User $3
Pass $password
SSLType IMAPS
CertificateFile $(dirname "$ca")/server.pem

IMAPStore far
Account bench

MaildirStore near
Path $near/root/
Inbox $near/inbox
SubFolders Verbatim

Channel push
Far :far:
Near :near:
Patterns * !Drafts !Junk !Sent !Trash
Create Far
Sync Push
Expunge None
SyncState *
EOF
  for phase in first again; do
    pause_before "$phase"
    timed "$1" "$2" mbsync "$phase" mbsync -c "$near/mbsyncrc" -a
    holds "$3"
  done
}

by_multiappend() {  # by_multiappend KIND ROUND USER
  timed "$1" "$2" imaplib-multiappend first \
    python3 bench/imap/imaplib_multiappend.py "$host" "$port" "$ca" "$3" "$password" "$work/tree"
  holds "$3"
}

by_imaplib() {  # by_imaplib KIND ROUND USER
  timed "$1" "$2" imaplib-one-at-a-time first \
    python3 bench/imap/imaplib_append.py "$host" "$port" "$ca" "$3" "$password" "$work/tree"
  holds "$3"
}

by_curl() {  # by_curl KIND ROUND USER
  timed "$1" "$2" curl first bash bench/imap/curl_append.sh "$host" "$port" "$ca" "$3" \
    "$password" "$work/tree"
  holds "$3"
}

value() { sed -n "s/^$1=//p" "$server/server.txt"; }
for kind in default never; do
  echo "Starting Dovecot (mail_fsync $kind$([ "$kind" = never ] && [ -n "$ram_dir" ] && echo ", mail in memory"))..."
  if [ "$kind" = never ]; then
    [ -z "$ram_dir" ] || server=$ram_dir/dovecot
    MAILSHEAF_DOVECOT_FSYNC=never bash tests/upload/dovecot-server.sh start "$server"
  else
    bash tests/upload/dovecot-server.sh start "$server"
  fi
  port=$(value imaps_port)
  ca=$(value ca_file)
  fingerprint=$(value fingerprint)
  password=$(value password)
  ways=(mailsheaf mbsync multiappend)
  # The slow ones take minutes each: their pace on the first server is enough.
  [ "$slow" != 1 ] || [ "$kind" != default ] || ways+=(imaplib curl)
  find "$work/tree" "$work/maildir" -type f -exec cat {} + >/dev/null
  user_number=0
  for ((round = 1; round <= runs; round++)); do
    echo "Round $round, mail_fsync $kind:"
    for way in "${ways[@]}"; do
      user_number=$((user_number + 1))
      "by_$way" "$kind" "$round" "mailsheaf-$user_number"
    done
  done
  bash tests/upload/dovecot-server.sh stop "$server"
done

echo
machine
echo "Tree: $messages messages in $folders folders, $bytes bytes; $runs round(s); build $(git rev-parse --short HEAD)"
python3 bench/imap/summary.py "$results" "$messages"

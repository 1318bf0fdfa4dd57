#!/usr/bin/env bash
# Benchmark of the IMAP upload: the same tree of real mail (the test corpus, default 3,000
# messages in nested folders) put into a local Dovecot, the tests' own (tests/upload/
# dovecot-server.sh, on 127.0.0.1, with TLS), three ways in one run, each into an account of
# its own: `mailsheaf-pack --imap`; a loop of `curl -T`, one message a call (a process, a TLS
# handshake and a login for each, as a shell script would do it); and Python's imaplib, one
# connection appending one message at a time. Every way's folders are made as it goes. Prints
# seconds and messages per second for each, checks that every account holds every message,
# and the ratio the target is stated in: mailsheaf-pack at least 5x the faster of the others.
#
#   bench/imap/run.sh [MESSAGES]      (RUNS=N rounds, default 2, at most 3; CORPUS=DIR takes the
#                                      messages from DIR instead of build/corpus)
set -euo pipefail
# shellcheck source=bench/archive/common.sh
source "$(dirname "$0")/../archive/common.sh" "${1:-3000}"
runs=$(( runs > 3 ? 3 : runs ))

# curl is the bench's own need: the packages the build and the tests need, and curl.
if ! command -v curl >/dev/null || ! command -v dovecot >/dev/null; then
  scripts/install-deps.sh curl
fi
require_tools curl dovecot openssl python3
corpus=${CORPUS:-build/corpus}
[ -d "$corpus" ] || { fetch_corpus; corpus=build/corpus; }
build_native_pack
make_work mailsheaf-imap-bench
server=$work/dovecot
trap 'bash tests/upload/dovecot-server.sh stop "$server"; rm -rf "$work"' EXIT

echo "Making the tree ($messages messages)..."
python3 bench/archive/make_tree.py "$corpus" "$work/tree" "$messages"
find "$work/tree" -type f -exec cat {} + >/dev/null
echo "Starting Dovecot..."
bash tests/upload/dovecot-server.sh start "$server"
value() { sed -n "s/^$1=//p" "$server/server.txt"; }
port=$(value imaps_port)
ca=$(value ca_file)
fingerprint=$(value fingerprint)
password=$(value password)
host=127.0.0.1

now() { date +%s.%N; }

by_mailsheaf() {  # by_mailsheaf USER
  MAILSHEAF_PASSWORD=$password "$native_pack" --imap "imaps://$host:$port" --user "$1" \
    --trust-certificate "$fingerprint" "$work/tree" >"$work/mailsheaf.txt"
}

by_curl() {  # by_curl USER
  local folder relative
  while IFS= read -r folder; do
    relative=${folder#"$work/tree"}
    relative=${relative#/}
    local mailbox=${relative:-INBOX}
    [ -z "$relative" ] || curl -sS --cacert "$ca" -u "$1:$password" "imaps://$host:$port" \
      -X "CREATE \"$relative\"" >/dev/null
    find "$folder" -maxdepth 1 -type f | sort | while IFS= read -r file; do
      curl -sS --cacert "$ca" -u "$1:$password" -T "$file" "imaps://$host:$port/$mailbox"
    done
  done < <(find "$work/tree" -type d | sort)
}

by_imaplib() {  # by_imaplib USER
  python3 bench/imap/imaplib_append.py "$host" "$port" "$ca" "$1" "$password" "$work/tree"
}

declare -A best
user_number=0
for ((round = 1; round <= runs; round++)); do
  for way in mailsheaf curl imaplib; do
    user_number=$((user_number + 1))
    user=mailsheaf-$user_number
    echo "Round $round: $way into $user..."
    start=$(now)
    "by_$way" "$user"
    seconds=$(awk -v a="$(now)" -v b="$start" 'BEGIN { printf "%.3f", a - b }')
    held=$(python3 bench/imap/count.py "$host" "$port" "$ca" "$user" "$password")
    [ "$held" = "$messages" ] || { echo "$way: the account holds $held of $messages" >&2; exit 1; }
    echo "  $seconds s, the account holds $held messages"
    if [ -z "${best[$way]:-}" ] || awk -v a="$seconds" -v b="${best[$way]}" 'BEGIN { exit !(a < b) }'; then
      best[$way]=$seconds
    fi
  done
done

echo
machine
echo "Tree: $messages messages, $(du -sb "$work/tree" | cut -f1) bytes; best of $runs"
python3 - "$messages" "${best[mailsheaf]}" "${best[curl]}" "${best[imaplib]}" <<'PY'
import sys
messages = int(sys.argv[1])
seconds = dict(zip(("mailsheaf-pack --imap", "curl -T, one a call", "imaplib, one at a time"),
                   map(float, sys.argv[2:5])))
print(f"{'':<26} {'seconds':>9} {'messages/s':>11}")
for name, s in seconds.items():
    print(f"{name:<26} {s:9.2f} {messages / s:11.1f}")
ours, curl, imaplib = (messages / s for s in seconds.values())
ratio = ours / max(curl, imaplib)
print(f"\nmailsheaf-pack / the faster other: {ratio:.2f}x   target >= 5   {'ok' if ratio >= 5 else 'MISSED'}")
PY

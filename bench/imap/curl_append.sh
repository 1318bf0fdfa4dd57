#!/usr/bin/env bash
# A loop of curl putting a tree into an account as a shell script would: `curl -X CREATE` for
# each folder, then `curl -T` for each message, one process, TLS handshake and login a call.
#
#   curl_append.sh HOST PORT CA_FILE USER PASSWORD TREE
set -euo pipefail
host=$1 port=$2 ca=$3 user=$4 password=$5 tree=$6
while IFS= read -r folder; do
  relative=${folder#"$tree"}
  relative=${relative#/}
  mailbox=${relative:-INBOX}
  [ -z "$relative" ] || curl -sS --cacert "$ca" -u "$user:$password" "imaps://$host:$port" \
    -X "CREATE \"$relative\"" >/dev/null
  find "$folder" -maxdepth 1 -type f | sort | while IFS= read -r file; do
    curl -sS --cacert "$ca" -u "$user:$password" -T "$file" "imaps://$host:$port/$mailbox"
  done
done < <(find "$tree" -type d | sort)

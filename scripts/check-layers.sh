#!/usr/bin/env bash
# Fails, naming file:line, on a quoted #include that crosses the layers:
#   base    -> base
#   fs      -> base, fs
#   shell   -> base, fs, shell
#   mail    -> base, mail                     (the message pipeline both routes share)
#   archive -> base, mail, archive
#   upload  -> base, mail, upload
#   cli     -> base, mail, archive, upload, cli
#   app     -> anything but tests/ and tools/
#   tools   -> anything
# Only app/ (and tests/, tools/) include app/. Includes of our own files that name no folder
# (a neighbour, "x.h") stay inside their layer.
#
#   scripts/check-layers.sh [source-dir]
set -uo pipefail

root=${1:-"$(dirname "$0")/.."}
cd "$root" || exit 2

allowed() {  # allowed <from-layer> <to-folder>
  case "$1" in
    base) [[ $2 == base ]] ;;
    fs) [[ $2 == base || $2 == fs ]] ;;
    shell) [[ $2 == base || $2 == fs || $2 == shell ]] ;;
    mail) [[ $2 == base || $2 == mail ]] ;;
    archive) [[ $2 == base || $2 == mail || $2 == archive ]] ;;
    upload) [[ $2 == base || $2 == mail || $2 == upload ]] ;;
    cli) [[ $2 == base || $2 == mail || $2 == archive || $2 == upload || $2 == cli ]] ;;
    app) [[ $2 != tests && $2 != tools ]] ;;
    tools) true ;;
  esac
}

status=0
for layer in base fs shell mail archive upload cli app tools; do
  [[ -d $layer ]] || continue
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$text")
    [[ $target == */* ]] || continue
    folder=${target%%/*}
    if ! allowed "$layer" "$folder"; then
      echo "$file:$line: $layer/ may not include \"$target\""
      status=1
    fi
  done < <(grep -rnE --include='*.h' --include='*.cpp' --include='*.rc' \
             '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$layer" | sort -t: -k1,1 -k2,2n)
done
exit $status

#!/usr/bin/env bash
# The layering check on made-up trees: every allowed include passes, every crossing is named
# by file and line.
#
#   check_layers_test.sh <check-layers.sh>
set -uo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failures=0

put() {  # put <file> <line>...
  mkdir -p "$tree/$(dirname "$1")"
  local file=$1
  shift
  printf '%s\n' "$@" >"$tree/$file"
}

expect() {  # expect <exit status> <output>
  local output status
  output=$(bash "$check" "$tree")
  status=$?
  if [[ $status -ne $1 || $output != "$2" ]]; then
    echo "expected status $1 and:"; echo "$2"
    echo "got status $status and:"; echo "$output"
    failures=$((failures + 1))
  fi
}

put base/a.h '#include <string>' '#include "base/b.h"' '#include "neighbour.h"'
put base/win32/w.h '#include "base/a.h"'
put fs/f.cpp '#include "fs/f.h"' '#include "base/a.h"'
put shell/win32/s.cpp '#include "fs/f.h"' '#include "base/a.h"' '#include "shell/s.h"'
put archive/t.cpp '#include "archive/t.h"' '#include "base/a.h"'
put upload/u.cpp '#include "upload/u.h"' '#include "base/a.h"'
put cli/m.cpp '#include "cli/p.h"' '#include "archive/t.h"' '#include "upload/u.h"' '#include "base/a.h"'
put app/x.cpp '#include "fs/f.h"' '#include "shell/s.h"' '#include "archive/t.h"' \
    '#include "resources/resource_ids.h"' '#include "app/y.h"'
put tools/z.cpp '#include "app/x.h"' '#include "tests/support/fake.h"'
put tests/t.cpp '#include "app/x.h"'
expect 0 ""

put base/win32/w.h '#include "base/a.h"' '  #  include "fs/f.h"'
put fs/f.cpp '#include "base/a.h"' '#include "shell/s.h"'
put shell/win32/s.cpp '#include "app/ports.h"'
put archive/t.cpp '#include "fs/text.h"' '#include "cli/p.h"'
put upload/u.cpp '#include "archive/t.h"'
put cli/m.cpp '#include "base/a.h"' '#include "app/ports.h"'
put app/x.cpp '#include "tests/support/fake.h"'
expect 1 "$(printf '%s\n' \
  'base/win32/w.h:2: base/ may not include "fs/f.h"' \
  'fs/f.cpp:2: fs/ may not include "shell/s.h"' \
  'shell/win32/s.cpp:1: shell/ may not include "app/ports.h"' \
  'archive/t.cpp:1: archive/ may not include "fs/text.h"' \
  'archive/t.cpp:2: archive/ may not include "cli/p.h"' \
  'upload/u.cpp:1: upload/ may not include "archive/t.h"' \
  'cli/m.cpp:2: cli/ may not include "app/ports.h"' \
  'app/x.cpp:1: app/ may not include "tests/support/fake.h"')"

exit $((failures > 0))

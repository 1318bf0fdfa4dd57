# shellcheck shell=bash disable=SC2034  # the scripts that source this read its variables
# The opening both archive benchmarks share (run.sh and run-wine.sh source it with their own
# arguments): it moves to the project's root, reads MESSAGES (first argument, default 50000)
# and RUNS (default 2), and gives the helpers below. Not meant to be run on its own.
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
messages=${1:-50000}
runs=${RUNS:-2}

# require_tools TOOL...: stops with a hint when one is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
  done
}

# build_native_pack: the native Release mailsheaf-pack, in build/bench; sets native_pack.
build_native_pack() {
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/bench -j "$(nproc)" --target mailsheaf-pack >/dev/null
  native_pack=$PWD/build/bench/cli/mailsheaf-pack
}

# fetch_corpus: the real messages the tree is made of, in build/corpus (once).
fetch_corpus() {
  bash tests/archive/fetch-corpus.sh build/corpus
}

# make_work NAME: a temporary folder in $work, removed when the script ends.
make_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")
  trap 'rm -rf "$work"' EXIT
}

# make_tree COUNT: COUNT messages in nested folders, in $work/tree.
make_tree() {
  echo "Making the tree ($1 messages)..."
  python3 bench/archive/make_tree.py build/corpus "$work/tree" "$1"
}

# warm_tree: reads every file once, so that every contender finds the tree in the page cache.
warm_tree() {
  find "$work/tree" -type f -exec cat {} + >/dev/null
}

# measure_counter: printed before and after each run; measure keeps the difference for the
# fastest run in counted[NAME]. A script may define its own (run-wine.sh counts the
# wineserver's CPU ticks); by default it counts nothing.
measure_counter() { echo 0; }

# measure NAME OUTPUT COMMAND...: runs COMMAND $runs times (OUTPUT removed before each, unless
# it is empty) and keeps the fastest run's wall seconds, CPU seconds and peak memory in KiB in
# wall[NAME], cpu[NAME] and rss[NAME], and OUTPUT's size in size[NAME]. The last run's
# standard output is left in $work/stdout.txt.
declare -A wall cpu rss size counted
measure() {
  local name=$1 output=$2
  shift 2
  local run best="" before after elapsed user system peak
  for ((run = 1; run <= runs; run++)); do
    [ -z "$output" ] || rm -f "$output"
    before=$(measure_counter)
    /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt" || {
      cat "$work/stderr.txt" >&2; exit 1; }
    after=$(measure_counter)
    read -r elapsed user system peak <"$work/time.txt"
    if [ -z "$best" ] || awk -v a="$elapsed" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$elapsed
      wall[$name]=$elapsed
      cpu[$name]=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
      rss[$name]=$peak
      counted[$name]=$((after - before))
    fi
  done
  [ -z "$output" ] || size[$name]=$(stat -c %s "$output")
}

# machine: one line on the machine the figures come from.
machine() {
  echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)," \
       "$(free -g | awk '/Mem:/{print $2}') GiB, load $(cut -d' ' -f1-3 /proc/loadavg)"
}

#!/usr/bin/env bash
# Benchmark of the archive writer: mailsheaf-pack against `tar czf` and `tar -I pigz -cf` on the
# same tree of real mail (the test corpus replicated to about 50,000 messages, ~300 MB, in
# nested folders), in one run. Prints wall time, CPU time, peak memory and archive size, and
# the ratios that the targets are stated in. Then packs a tree four times larger with
# mailsheaf-pack alone, to show that its peak memory does not grow with the tree.
#
#   bench/archive/run.sh [MESSAGES]     (default 50000; SKIP_LARGE=1 skips the 4x tree)
#
# Everything is made in a temporary folder and removed at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
messages=${1:-50000}

for tool in /usr/bin/time tar pigz gzip python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/bench -j "$(nproc)" --target mailsheaf-pack >/dev/null
pack=$PWD/build/bench/cli/mailsheaf-pack
bash tests/archive/fetch-corpus.sh build/corpus

work=$(mktemp -d "${TMPDIR:-/tmp}/mailsheaf-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "Making the tree ($messages messages)..."
python3 bench/archive/make_tree.py build/corpus "$work/tree" "$messages"
# Read every file once, so that every contender finds the tree in the page cache.
find "$work/tree" -type f -exec cat {} + >/dev/null

# measure NAME COMMAND...: best wall time of two runs, with that run's CPU time and peak memory.
declare -A wall cpu rss size
measure() {
  local name=$1 output=$2
  shift 2
  local best=""
  for run in 1 2; do
    rm -f "$output"
    /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
      cat "$work/stderr.txt" >&2; exit 1; }
    local elapsed user system peak seconds
    elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
    user=$(sed -n 's/.*User time (seconds): //p' "$work/time.txt")
    system=$(sed -n 's/.*System time (seconds): //p' "$work/time.txt")
    peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
    seconds=$(python3 -c "
parts = '$elapsed'.split(':')
print(sum(float(p) * 60 ** i for i, p in enumerate(reversed(parts))))")
    if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $seconds < $best else 1)"; then
      best=$seconds
      wall[$name]=$seconds
      cpu[$name]=$(python3 -c "print($user + $system)")
      rss[$name]=$peak
    fi
  done
  size[$name]=$(stat -c %s "$output")
}

echo "Packing..."
measure pack "$work/pack.tgz" "$pack" "$work/tree" "$work/pack.tgz"
measure tar "$work/tar.tgz" tar czf "$work/tar.tgz" -C "$work/tree" .
measure pigz "$work/pigz.tgz" tar -I pigz -cf "$work/pigz.tgz" -C "$work/tree" .
# The same entries in name order, as mailsheaf-pack stores them: what the block-wise
# compression itself costs in size, apart from the order of the files.
measure sorted "$work/sorted.tgz" tar --sort=name -czf "$work/sorted.tgz" -C "$work/tree" .
gzip -t "$work/pack.tgz"

tree_bytes=$(du -sb "$work/tree" | cut -f1)
echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(free -g | awk '/Mem:/{print $2}') GiB"
echo "Tree: $messages messages, $tree_bytes bytes"
printf '%-16s %10s %10s %12s %14s\n' "" "wall s" "cpu s" "peak KiB" "size bytes"
for name in pack tar pigz sorted; do
  printf '%-16s %10.2f %10.2f %12d %14d\n' "$name" "${wall[$name]}" "${cpu[$name]}" "${rss[$name]}" "${size[$name]}"
done
python3 - "${wall[pack]}" "${wall[tar]}" "${wall[pigz]}" "${size[pack]}" "${size[tar]}" "${rss[pack]}" "${size[sorted]}" \
    "${cpu[pack]}" "${cpu[tar]}" "${cpu[pigz]}" "${rss[tar]}" "${rss[pigz]}" "${size[pigz]}" <<'PY'
import sys
(pack, tar, pigz, size_pack, size_tar, rss, size_sorted,
 cpu_pack, cpu_tar, cpu_pigz, rss_tar, rss_pigz, size_pigz) = map(float, sys.argv[1:])
print()
print(f"{'ratios of mailsheaf-pack to':<34} {'tar czf':>9} {'tar+pigz':>9}")
for what, mine, one, other in (("wall time", pack, tar, pigz), ("CPU time", cpu_pack, cpu_tar, cpu_pigz),
                               ("peak memory", rss, rss_tar, rss_pigz),
                               ("archive size", size_pack, size_tar, size_pigz)):
    print(f"{what:<34} {mine / one:9.3f} {mine / other:9.3f}")
def line(what, value, limit):
    print(f"{what:<34} {value:8.3f}   target <= {limit}   {'ok' if value <= limit else 'MISSED'}")
print()
line("wall, mailsheaf-pack / tar czf", pack / tar, 0.55)
line("wall, mailsheaf-pack / tar+pigz", pack / pigz, 1.05)
line("size, mailsheaf-pack / tar czf", size_pack / size_tar, 1.003)
line("peak memory, MiB", rss / 1024, 64)
print(f"{'size, mailsheaf-pack / sorted tar czf':<34} {size_pack / size_sorted:8.3f}   (same file order)")
PY

if [ "${SKIP_LARGE:-0}" != 1 ]; then
  echo
  echo "A tree four times larger, mailsheaf-pack alone..."
  rm -rf "$work/tree" "$work"/*.tgz
  python3 bench/archive/make_tree.py build/corpus "$work/tree" $((messages * 4))
  measure pack4 "$work/pack4.tgz" "$pack" "$work/tree" "$work/pack4.tgz"
  printf 'peak memory %d KiB (1x tree: %d KiB), wall %.2f s\n' "${rss[pack4]}" "${rss[pack]}" "${wall[pack4]}"
fi

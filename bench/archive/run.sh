#!/usr/bin/env bash
# Benchmark of the archive writer: mailsheaf-pack against `tar czf` and `tar -I pigz -cf` on the
# same tree of real mail (the test corpus replicated to about 50,000 messages, ~300 MB, in
# nested folders), in one run. Prints wall time, CPU time, peak memory and archive size, and
# the ratios that the targets are stated in. Then packs a tree four times larger with
# mailsheaf-pack alone, to show that its peak memory does not grow with the tree.
#
#   bench/archive/run.sh [MESSAGES]     (default 50000; SKIP_LARGE=1 skips the 4x tree,
#                                        RUNS=N changes the runs, default 2)
#
# Everything is made in a temporary folder and removed at the end.
set -euo pipefail
# shellcheck source=bench/archive/common.sh
source "$(dirname "$0")/common.sh" "$@"

require_tools /usr/bin/time tar pigz gzip python3
build_native_pack
fetch_corpus
make_work mailsheaf-bench
make_tree "$messages"
warm_tree

echo "Packing..."
measure pack "$work/pack.tgz" "$native_pack" "$work/tree" "$work/pack.tgz"
measure tar "$work/tar.tgz" tar czf "$work/tar.tgz" -C "$work/tree" .
measure pigz "$work/pigz.tgz" tar -I pigz -cf "$work/pigz.tgz" -C "$work/tree" .
# The same entries in name order, as mailsheaf-pack stores them: what the block-wise
# compression itself costs in size, apart from the order of the files.
measure sorted "$work/sorted.tgz" tar --sort=name -czf "$work/sorted.tgz" -C "$work/tree" .
gzip -t "$work/pack.tgz"

tree_bytes=$(du -sb "$work/tree" | cut -f1)
echo
machine
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
  make_tree $((messages * 4))
  measure pack4 "$work/pack4.tgz" "$native_pack" "$work/tree" "$work/pack4.tgz"
  printf 'peak memory %d KiB (1x tree: %d KiB), wall %.2f s\n' "${rss[pack4]}" "${rss[pack]}" "${wall[pack4]}"
fi

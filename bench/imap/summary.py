"""The IMAP bench's tables and targets, from the lines run.sh wrote: server, round, way, phase,
wall s, CPU s, peak KiB (tab-separated). Best means the shortest wall time of the rounds; each
target is judged best against best, with each round's own ratio beside it, since the load of
other work on the machine moves from minute to minute.

    summary.py RESULTS MESSAGES
"""
import collections
import sys

path, messages = sys.argv[1], int(sys.argv[2])
runs = collections.defaultdict(list)  # (server, way, phase) -> [(round, wall, cpu, peak)]
for line in open(path):
    server, round_, way, phase, wall, cpu, peak = line.split("\t")
    runs[server, way, phase].append((int(round_), float(wall), float(cpu), int(peak)))


def best(server, way, phase):
    return min(runs[server, way, phase], key=lambda run: run[1])


for server in ("default", "never"):
    print(f"\nDovecot with mail_fsync {server}:")
    print(f"  {'':<32} {'best s':>8} {'msgs/s':>8} {'CPU s':>6} {'peak KiB':>9}  each round, s")
    for (where, way, phase), done in runs.items():
        if where != server:
            continue
        _, wall, cpu, peak = best(server, way, phase)
        rate = f"{messages / wall:8.1f}" if phase == "first" else f"{'':8}"
        label = way + (", nothing to add" if phase == "again" else "")
        rounds = ", ".join(f"{run[1]:.3f}" for run in sorted(done))
        print(f"  {label:<32} {wall:8.3f} {rate} {cpu:6.2f} {peak:9d}  {rounds}")


def each_round(ours, theirs, ratio):
    pairs = zip(sorted(runs[ours]), sorted(runs[theirs]))
    return ", ".join(f"{ratio(a[1], b[1]):.2f}" for a, b in pairs)


verdicts = []


def target(name, ours, theirs, ratio, bound, at_least):
    value = ratio(best(*ours)[1], best(*theirs)[1])
    met = value >= bound if at_least else value <= bound
    verdicts.append(met)
    sign = ">=" if at_least else "<="
    print(f"  {name:<56} {value:6.2f}  {sign} {bound:<4} {'PASS' if met else 'MISS'}"
          f"   (each round: {each_round(ours, theirs, ratio)})")


speed = lambda ours, theirs: theirs / ours  # messages per second, ours over theirs
print("\nTargets (best against best):")
target("first upload, messages/s over mbsync's", ("default", "mailsheaf", "first"),
       ("default", "mbsync", "first"), speed, 2, True)
target("nothing to add, seconds over mbsync's", ("default", "mailsheaf", "again"),
       ("default", "mbsync", "again"), lambda ours, theirs: ours / theirs, 2, False)
target("messages/s over imaplib MULTIAPPEND's", ("default", "mailsheaf", "first"),
       ("default", "imaplib-multiappend", "first"), speed, 1, True)
target("messages/s over imaplib MULTIAPPEND's, mail_fsync never", ("never", "mailsheaf", "first"),
       ("never", "imaplib-multiappend", "first"), speed, 1, True)
peak = max(run[3] for (_, way, _), done in runs.items() if way == "mailsheaf" for run in done)
verdicts.append(peak < 32 * 1024)
print(f"  {'peak memory of every mailsheaf-pack run, MiB':<56} {peak / 1024:6.2f}  <  32   "
      f"{'PASS' if verdicts[-1] else 'MISS'}")
print("\nFor comparison, no target: first upload, messages/s over mbsync's, mail_fsync never: "
      f"{speed(best('never', 'mailsheaf', 'first')[1], best('never', 'mbsync', 'first')[1]):.2f}")
print(f"{sum(verdicts)} of {len(verdicts)} targets met")
